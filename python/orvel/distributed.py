"""Image simulations spread over a Dask cluster, with the same RF as in one process.

A scan sequence of orvel.imaging (the lines of a linear or phased scan, or plane-wave
transmits) is cut into tasks: one per step and per chunk of scatterers. Each task builds the
transmit and the receive aperture in its worker process, sets up its step, computes its RF
with calc_scat (lines) or calc_scat_multi (plane waves), frees everything and returns the RF
and its start time. The chunks of a step are summed, and the steps placed on one time axis,
always in the order of the sequence, so the result is the same, bit for bit, whatever the
number of workers and the order in which tasks finish; run with client="serial", the same
tasks run one after the other in this process, without Dask.

    import orvel.imaging as im, orvel.distributed as od
    tx = od.transducer("xdc_linear_array", 128, 0.28e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 0.03],
                       impulse=impulse, excitation=excitation)
    rx = od.transducer("xdc_linear_array", 128, 0.28e-3, 5e-3, 0.03e-3, 1, 5, [0, 0, 0.03],
                       impulse=impulse)
    seq = im.scan_linear(128, 0.31e-3, 32, x_lines, 30e-3)
    desc = od.describe(seq, tx, rx, options={"c": 1540, "fs": 100e6})
    rf, t0 = od.simulate(desc, (points, amplitudes))             # a LocalCluster here
    rf, t0 = od.simulate(desc, (points, amplitudes), client="tcp://10.0.0.1:8786")

The description (describe) is plain data that JSON holds: options, the two transducers
(constructor and arguments, pulses, further xdc_ or ele_ settings), the sequence, the window
and the chunk size. Everything in it changes the result; the number of workers, the
threads each worker's module uses and the order of completion do not.

The phantom is sent to every worker once (client.scatter), or read by every worker from a
file: an .npy of shape (n, 4) with columns x, y, z, amplitude, or an .npz holding points
(n, 3) and amplitudes (n). Each task takes from it only its chunk's scatterers in its window.

Window: a 'line' step uses only the scatterers whose distance from the line, measured
across it in the x-z plane, is within the active aperture's extent (every element with a
transmit or a receive weight, projected across the line) widened on both sides by `window`
times that extent (default 1: a band three active apertures wide). The scatterers left
out lie outside the transmit beam's and the receive beam's main lobes at every depth of an
aperture no wider than the band, and reach the line only through the side lobes of both;
on the 16-line test sequence of this package (32 of 64 elements active, f-number 2 at the
focus) leaving them out changes the RF by less than 1% of its RMS value (-40 dB). Give
window=None to use every scatterer. 'plane' steps always use every scatterer.

A script that starts a LocalCluster (simulate without a client) must do so under
`if __name__ == "__main__":`, since every worker is a new Python process that imports the
script's main module.

Chunks: a step's scatterers are split by their index in the phantom into chunks of at most
`chunk` (default 50,000); each chunk is a task, and a step's chunks are summed in index
order. Split finer to spread a few steps (plane waves) over many workers.
"""
import argparse
import json
import math
import os
import sys
import threading
import time

import numpy as np

from . import _commands as _orvel
from . import imaging as _im

FORMAT = "orvel.distributed/1"
# Options a description may set ("fs" through set_sampling); the module's threads are left to
# each worker, since they do not change the result.
_OPTIONS = ("c", "fs", "use_att", "att", "freq_att", "att_f0", "tau_m", "z", "BdivA", "dz",
            "accurate_time_calc", "fast_integration", "use_rectangles", "use_triangles",
            "use_lines")
# Settings a transducer's "setup" may apply, each with the aperture as its first argument.
_SETUP = ("xdc_impulse", "xdc_excitation", "xdc_baffle", "xdc_quantization", "xdc_focus",
          "xdc_focus_delays", "xdc_apodization", "xdc_center_focus", "xdc_dynamic_focusing",
          "ele_apodization", "ele_delay", "ele_waveform")
_MAKE = ("xdc_linear_array", "xdc_2d_array", "xdc_focused_array", "xdc_convex_array",
         "xdc_convex_focused_array", "xdc_linear_multirow", "xdc_focused_multirow",
         "xdc_convex_focused_multirow", "xdc_piston", "xdc_concave", "xdc_rectangles",
         "xdc_triangles", "xdc_line_elements")


# Plain data: numpy arrays become nested lists, so that JSON (and Octave) can hold a
# description; floats keep every bit (JSON writes Python's shortest exact form).

def _plain(x):
    if isinstance(x, np.ndarray):
        return x.tolist()
    if isinstance(x, (np.floating, np.integer)):
        return x.item()
    if isinstance(x, dict):
        return {k: _plain(v) for k, v in x.items()}
    if isinstance(x, (list, tuple)):
        return [_plain(v) for v in x]
    return x


def transducer(command, *args, impulse=None, excitation=None, setup=()):
    """The description of one aperture: how a worker builds it.

    command     an Orvel constructor name ("xdc_linear_array", "xdc_convex_array", ...)
    args        its arguments, as for the command itself
    impulse     impulse response (xdc_impulse), or None for the module's default
    excitation  excitation pulse (xdc_excitation), or None
    setup       further settings, each (name, arg, ...), the aperture implied as the first
                argument: ("xdc_baffle", 0), ("ele_delay", numbers, delays), ...
    """
    if command not in _MAKE:
        raise ValueError("transducer: %r is not an aperture constructor (one of %s)"
                         % (command, ", ".join(_MAKE)))
    steps = []
    if impulse is not None:
        steps.append(["xdc_impulse", impulse])
    if excitation is not None:
        steps.append(["xdc_excitation", excitation])
    for s in setup:
        if not isinstance(s, (list, tuple)) or not s or s[0] not in _SETUP:
            raise ValueError("transducer: each setup entry must be (name, args...) with a name "
                             "among %s, but one is %r" % (", ".join(_SETUP), s))
        steps.append(list(s))
    return _plain({"make": [command] + list(args), "setup": steps})


def describe(seq, tx, rx, options=None, window=1.0, chunk=50000):
    """A simulation description: the sequence with its apertures, options, window and chunks.

    seq      scan sequence of orvel.imaging (all 'line' or all 'plane' steps)
    tx, rx   transmit and receive apertures, from transducer()
    options  {name: value} for set_option, "fs" for set_sampling; those not given keep the
             module's defaults
    window   lateral margin of a line's scatterers, in active-aperture widths on each side
             (see the module's help), or None for every scatterer
    chunk    most scatterers per task
    Returns a dict that json.dump can write and simulate() runs.
    """
    desc = {"format": FORMAT, "tx": tx, "rx": rx, "sequence": list(seq),
            "options": dict(options or {}), "window": window, "chunk": chunk}
    return _check(_plain(desc))


def _check(desc):
    """Refuses a description that cannot run, before any task starts."""
    fn = "orvel.distributed"
    if not isinstance(desc, dict) or desc.get("format") != FORMAT:
        raise ValueError("%s: the description must be a dict with format %r" % (fn, FORMAT))
    for name in ("tx", "rx"):
        t = desc.get(name)
        if not isinstance(t, dict) or not t.get("make") or t["make"][0] not in _MAKE:
            raise ValueError("%s: %s must describe an aperture (see transducer())" % (fn, name))
    seq = desc.get("sequence")
    if not isinstance(seq, list) or not seq:
        raise ValueError("%s: the sequence has no steps" % fn)
    kinds = {_im._check_step(fn, s) for s in seq}
    if len(kinds) > 1:
        raise ValueError("%s: the sequence mixes 'line' and 'plane' steps" % fn)
    for name in desc.get("options", {}):
        if name not in _OPTIONS:
            raise ValueError("%s: unknown option %r (options: %s)"
                             % (fn, name, ", ".join(_OPTIONS)))
    window = desc.get("window")
    if window is not None and not (isinstance(window, (int, float)) and window >= 0
                                   and math.isfinite(window)):
        raise ValueError("%s: window must be None or a margin >= 0, but is %r" % (fn, window))
    chunk = desc.get("chunk")
    if not (isinstance(chunk, int) and chunk >= 1):
        raise ValueError("%s: chunk must be a whole number >= 1, but is %r" % (fn, chunk))
    return desc


# ---- In a worker process ------------------------------------------------------------------------

# The module's state belongs to its process: one task at a time builds, computes and frees.
_module_lock = threading.Lock()
_files = {}


def _phantom_data(phantom):
    """The phantom as an (n, 4) array: given, or read from its file once per process."""
    if not isinstance(phantom, str):
        return phantom
    st = os.stat(phantom)
    key = (phantom, st.st_mtime_ns, st.st_size)
    if key not in _files:
        _files.clear()
        _files[key] = _read_phantom(phantom)
    return _files[key]


def _read_phantom(path):
    if path.endswith(".npz"):
        with np.load(path) as f:
            points, amplitudes = f["points"], f["amplitudes"]
        return _pack(points, amplitudes, path)
    data = np.load(path, mmap_mode="r")
    if data.ndim != 2 or data.shape[1] != 4:
        raise ValueError("orvel.distributed: the phantom %s must be an (n, 4) array "
                         "[x y z amplitude], but has shape %s" % (path, data.shape))
    return data


def _pack(points, amplitudes, what="the phantom"):
    points = np.asarray(points, dtype=float)
    amplitudes = np.asarray(amplitudes, dtype=float).reshape(-1)
    if points.ndim != 2 or points.shape[1] != 3 or amplitudes.size != points.shape[0]:
        raise ValueError("orvel.distributed: %s needs points (n, 3) and n amplitudes, but has "
                         "%s and %d" % (what, points.shape, amplitudes.size))
    return np.column_stack([points, amplitudes])


def _build(t):
    make = t["make"]
    th = getattr(_orvel, make[0])(*[_arg(a) for a in make[1:]])
    for s in t["setup"]:
        getattr(_orvel, s[0])(th, *[_arg(a) for a in s[1:]])
    return th


def _arg(a):
    return np.asarray(a, dtype=float) if isinstance(a, list) else a


def _step_arrays(step):
    return {k: (np.asarray(v, dtype=float) if isinstance(v, list) else v)
            for k, v in step.items()}


def _window(step, tx, rx, margin):
    """Lateral limits of a line's scatterers: (origin, across-direction, low, high)."""
    a = step["angle"]
    across = np.array([np.cos(a), 0.0, -np.sin(a)])
    origin = np.asarray(step["rx_center"], dtype=float)
    # Weights as scan_apply set them: one per physical element (one alone may come as a number).
    active = ((np.reshape(step["tx_apodization"], -1) != 0)
              | (np.reshape(step["rx_apodization"], -1) != 0))
    s = []
    for th in (tx, rx):
        rect = _orvel.xdc_get(th, "rect")
        on = active[rect[0].astype(int)]
        corners = rect[10:22, on].T.reshape(-1, 3)
        s.append((corners - origin) @ across)
    s = np.concatenate(s)
    if s.size == 0:
        return origin, across, 0.0, 0.0
    width = s.max() - s.min()
    return origin, across, s.min() - margin * width, s.max() + margin * width


def _task(desc, phantom, k, lo, hi, threads):
    """One chunk of one step: (rf, start, fs), or None where no scatterer is in its window."""
    with _module_lock:
        data = _phantom_data(phantom)
        step = _step_arrays(desc["sequence"][k])
        _orvel.orvel_init(-1)
        try:
            for name, value in desc["options"].items():
                if name == "fs":
                    _orvel.set_sampling(value)
                else:
                    _orvel.set_option(name, value)
            if threads:
                _orvel.set_option("threads", threads)
            tx, rx = _build(desc["tx"]), _build(desc["rx"])
            _im.scan_apply(step, tx, rx)
            part = np.asarray(data[lo:hi], dtype=float)
            if step["kind"] == "line" and desc["window"] is not None:
                origin, across, low, high = _window(step, tx, rx, desc["window"])
                s = (part[:, :3] - origin) @ across
                part = part[(s >= low) & (s <= high)]
            if part.shape[0] == 0:
                return None
            if step["kind"] == "line":
                rf, start = _orvel.calc_scat(tx, rx, part[:, :3], part[:, 3])
                rf = rf.reshape(-1, 1)
            else:
                rf, start = _orvel.calc_scat_multi(tx, rx, part[:, :3], part[:, 3])
            fs = _im._sampling_frequency()
            return rf, float(start), fs
        finally:
            _orvel.orvel_end()


# ---- On the client ------------------------------------------------------------------------------

def _place(parts):
    """Sums results on one time axis, in the order given: (rf, start, fs) or None when all are
    None."""
    parts = [p for p in parts if p is not None]
    if not parts:
        return None
    start = min(p[1] for p in parts)
    fs = parts[0][2]
    offsets = [int(round((p[1] - start) * fs)) for p in parts]
    rows = max(off + p[0].shape[0] for p, off in zip(parts, offsets))
    rf = np.zeros((rows, max(p[0].shape[1] for p in parts)))
    for i, (p, off) in enumerate(zip(parts, offsets)):
        where = rf[off:off + p[0].shape[0], :p[0].shape[1]]
        if i == 0:
            where[...] = p[0]  # as it came (keeps the sign of zeros)
        else:
            where += p[0]
    return rf, start, fs


class _Steps:
    """Collects task results, sums each step's chunks once all are in, and keeps each step
    in memory or writes it to the output folder."""

    def __init__(self, n_steps, n_chunks, out):
        self.n_chunks, self.out = n_chunks, out
        self.pending = [dict() for _ in range(n_steps)]
        self.steps = [None] * n_steps
        self.done = 0
        if out is not None:
            os.makedirs(out, exist_ok=True)

    def add(self, k, c, result):
        self.pending[k][c] = result
        if len(self.pending[k]) < self.n_chunks:
            return
        placed = _place([self.pending[k][i] for i in range(self.n_chunks)])
        self.pending[k] = None
        self.done += 1
        if self.out is None:
            self.steps[k] = placed
            return
        path = os.path.join(self.out, "step_%06d.npz" % k)
        if placed is None:
            np.savez(path, rf=np.zeros((0, 0)), start=np.nan, fs=np.nan)
        else:
            np.savez(path, rf=placed[0], start=placed[1], fs=placed[2])
        self.steps[k] = path

    def step(self, k):
        if self.out is None:
            return self.steps[k]
        with np.load(self.steps[k]) as f:
            if f["rf"].size == 0 and np.isnan(f["start"]):
                return None
            return f["rf"], float(f["start"]), float(f["fs"])


def _assemble(steps, kind, out):
    """Puts every step on one time axis, as orvel.imaging.scan_run does; in the output folder
    as rf.npy (written step by step) with result.json."""
    heads = []
    for k in range(len(steps.steps)):
        s = steps.step(k)
        heads.append(None if s is None else (s[0].shape, s[1], s[2]))
    present = [h for h in heads if h is not None]
    if not present:
        raise ValueError("orvel.distributed: no scatterer lies in the window of any step")
    t0 = min(h[1] for h in present)
    fs = present[0][2]
    offsets = [None if h is None else int(round((h[1] - t0) * fs)) for h in heads]
    rows = max(off + h[0][0] for h, off in zip(heads, offsets) if h is not None)
    columns = max(h[0][1] for h in present)
    shape = (rows, columns, len(heads))
    if out is None:
        rf = np.zeros(shape)
    else:
        rf = np.lib.format.open_memmap(os.path.join(out, "rf.npy"), mode="w+", dtype=float,
                                       shape=shape, fortran_order=True)
    for k, off in enumerate(offsets):
        if off is not None:
            s = steps.step(k)[0]
            rf[off:off + s.shape[0], :s.shape[1], k] = s
    if out is not None:
        rf.flush()
        with open(os.path.join(out, "result.json"), "w") as f:
            json.dump({"t0": t0, "fs": fs, "kind": kind, "shape": list(shape),
                       "rf": "rf.npy"}, f)
        for k in range(len(heads)):
            os.remove(steps.steps[k])
        del rf
        rf = np.load(os.path.join(out, "rf.npy"), mmap_mode="r")
    return (rf[:, 0, :] if kind == "line" else rf), t0


def _tasks(desc, n):
    chunk = desc["chunk"]
    ranges = [(lo, min(lo + chunk, n)) for lo in range(0, max(n, 1), chunk)]
    return [(k, c, lo, hi) for k in range(len(desc["sequence"]))
            for c, (lo, hi) in enumerate(ranges)], len(ranges)


class _Progress:
    def __init__(self, total, word, steps, show):
        self.total, self.word, self.steps, self.show = total, word, steps, show
        self.clock = self.last = time.monotonic()
        self.count = 0

    def tick(self, steps_done):
        self.count += 1
        now = time.monotonic()
        if self.show and (now - self.last >= 1.0 or self.count == self.total):
            bar = int(30 * self.count / self.total)
            print("orvel.distributed: [%s%s] %d of %d tasks, %d of %d %ss (%.1f s)"
                  % ("#" * bar, "." * (30 - bar), self.count, self.total, steps_done,
                     self.steps, self.word, now - self.clock), flush=True)
            self.last = now


def _where(desc, k, lo, hi):
    kind = desc["sequence"][0]["kind"]
    word = "line" if kind == "line" else "transmit"
    return "%s %d of %d (scatterers %d to %d)" % (word, k + 1, len(desc["sequence"]), lo,
                                                   hi - 1)


def _failed(desc, k, lo, hi, error):
    text = "orvel.distributed: %s: %s" % (_where(desc, k, lo, hi), error)
    if isinstance(error, _orvel.OrvelError):
        return _orvel.OrvelError(text)
    return RuntimeError(text)


def simulate(desc, phantom, client=None, out=None, workers=None, threads=None, progress=True):
    """Runs a simulation description over a phantom; returns (rf, t0) as scan_run does.

    desc      from describe(), or the name of a JSON file holding one
    phantom   (points, amplitudes), an (n, 4) array [x y z amplitude], or the name of an .npy
              or .npz file that every worker can read (see the module's help)
    client    None: a LocalCluster of `workers` processes on this machine, closed at the end;
              a scheduler address ("tcp://host:8786"); a dask.distributed Client; or "serial":
              the same tasks one after the other in this process (no Orvel session may be
              open in it)
    out       None: the result in memory; a folder: each step written there as it completes,
              then rf.npy (the whole result, read back memory-mapped) and result.json
    workers   worker processes of the LocalCluster (default: the usable cores)
    threads   threads of each worker's module (default on a LocalCluster: cores / workers;
              elsewhere the module's own default, every core of the worker)
    progress  print a progress bar (at most once a second)

    'line' steps: rf has shape (samples, lines); 'plane' steps: (samples, elements,
    transmits). Row r lies at time t0 + r/fs. A task that fails raises its error with the
    step and scatterers it belongs to; a worker that dies has its tasks run again elsewhere.
    """
    if isinstance(desc, str):
        with open(desc) as f:
            desc = json.load(f)
    desc = _check(desc)
    if isinstance(phantom, str):
        phantom = os.path.abspath(phantom)
        n = _read_phantom(phantom).shape[0]
    else:
        phantom = (_pack(*phantom) if isinstance(phantom, (tuple, list))
                   else _pack(np.asarray(phantom)[:, :3], np.asarray(phantom)[:, 3]))
        n = phantom.shape[0]
    tasks, n_chunks = _tasks(desc, n)
    kind = desc["sequence"][0]["kind"]
    steps = _Steps(len(desc["sequence"]), n_chunks, out)
    bar = _Progress(len(tasks), "line" if kind == "line" else "transmit", len(desc["sequence"]),
                    progress)
    if client == "serial":
        for k, c, lo, hi in tasks:
            try:
                result = _task(desc, phantom, k, lo, hi, threads)
            except Exception as e:
                raise _failed(desc, k, lo, hi, e) from e
            steps.add(k, c, result)
            bar.tick(steps.done)
        return _assemble(steps, kind, out)
    _run_dask(desc, phantom, tasks, steps, bar, client, workers, threads)
    return _assemble(steps, kind, out)


def _run_dask(desc, phantom, tasks, steps, bar, client, workers, threads):
    from dask.distributed import Client, LocalCluster, as_completed
    cluster = own = None
    try:
        if client is None:
            cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (
                os.cpu_count() or 1)
            workers = workers or cores
            if threads is None:
                threads = max(1, cores // workers)
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   dashboard_address=":0")
            client = own = Client(cluster)
        elif isinstance(client, str):
            client = own = Client(client)
        # In lists, so that each is one piece of data under a key of its own (a dict would be
        # scattered value by value, under its own keys, shared with earlier runs).
        desc_ref = client.scatter([desc], broadcast=True, hash=False)[0]
        data_ref = phantom if isinstance(phantom, str) else client.scatter(
            [phantom], broadcast=True, hash=False)[0]
        futures = {}
        for k, c, lo, hi in tasks:
            f = client.submit(_task, desc_ref, data_ref, k, lo, hi, threads, pure=False,
                              key="orvel-%d-%d-%s" % (k, c, os.urandom(4).hex()))
            futures[f] = (k, c, lo, hi)
        for f in as_completed(list(futures)):
            k, c, lo, hi = futures.pop(f)
            try:
                # Waits again where a dead worker held the result: Dask computes it anew.
                result = f.result()
            except Exception as error:
                for g in futures:
                    g.cancel()
                raise _failed(desc, k, lo, hi, error) from error
            steps.add(k, c, result)
            f.release()
            bar.tick(steps.done)
    finally:
        if own is not None:
            own.close()
        if cluster is not None:
            cluster.close()


# ---- Command line -------------------------------------------------------------------------------

def main(argv=None):
    p = argparse.ArgumentParser(
        prog="python3 -m orvel.distributed",
        description="Run a simulation description (JSON, from orvel.distributed.describe or "
                    "the Octave helper scan_export) over a phantom file on a Dask cluster; "
                    "writes rf.npy and result.json (t0, fs, kind, shape) to the output folder.")
    p.add_argument("description", help="the description, a JSON file")
    p.add_argument("phantom", help="the phantom: .npy (n, 4) [x y z amplitude], or .npz with "
                                   "points and amplitudes")
    p.add_argument("--out", required=True, help="output folder")
    p.add_argument("--scheduler", help="scheduler address (default: a local cluster)")
    p.add_argument("--workers", type=int, help="worker processes of the local cluster")
    p.add_argument("--threads", type=int, help="threads of each worker's module")
    p.add_argument("--serial", action="store_true", help="run in this process, without Dask")
    p.add_argument("--quiet", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    client = "serial" if a.serial else a.scheduler
    try:
        rf, t0 = simulate(a.description, a.phantom, client=client, out=a.out,
                          workers=a.workers, threads=a.threads, progress=not a.quiet)
    except (ValueError, OSError, _orvel.OrvelError) as e:
        text = str(e)
        print(text if text.startswith("orvel.distributed") else "orvel.distributed: " + text,
              file=sys.stderr)
        return 1
    print("orvel.distributed: wrote %s, %s, t0 = %.9g s"
          % (os.path.join(a.out, "rf.npy"), "x".join(str(d) for d in rf.shape), t0))
    return 0


if __name__ == "__main__":
    # Run as orvel.distributed, not as __main__, so that tasks refer to the package's
    # functions, which every worker imports, rather than travel as copies.
    from orvel.distributed import main as _main
    sys.exit(_main())
