"""Image simulations spread over a Dask cluster, with the same RF as in one process.

A scan sequence of orvel.imaging (focused lines, or transmits received on every element:
plane waves, diverging waves or one element at a time) is cut into tasks: one per step and
per chunk of scatterers. Each task builds the transmit and the receive aperture in its worker
process, sets up its step, computes its RF with calc_scat (lines) or calc_scat_multi
(transmits), frees everything and returns the RF and its start time. The chunks of a step
are summed, and the steps placed on one time axis, always in the order of the sequence, so
the result is the same, bit for bit, whatever the number of workers and the order in which
tasks finish; run with client="serial", the same tasks run one after the other in this
process, without Dask.

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

The phantom is given in memory, or as a file that every worker reads: an .npy of shape (n, 4)
with columns x, y, z, amplitude, or an .npz holding points (n, 3) and amplitudes (n). It is
checked once on the client before any task runs (a file is read through once): real numbers,
at least one scatterer, every value finite. A moving phantom (orvel.imaging.phantom_flow or
phantom_motion) is given in memory: each task computes its chunk's scatterers at its step's
firing time t with phantom_positions, so a firing sequence of scan_ensemble gives the RF of
scan_run, slow time as the last axis. The description and a phantom in memory are
published on the scheduler for the run; each worker process fetches them once and keeps
them, and a worker that starts during the run (after every worker was lost, say) fetches
them anew, so the run goes on. Each task takes from the phantom only its chunk's scatterers
in its window.

Window: a 'line' step uses only the scatterers whose distance from the line, measured
across it in the x-z plane, is within the active aperture's extent (every element with a
transmit or a receive weight, projected across the line) widened on both sides by `window`
times that extent (default 1: a band three active apertures wide). The scatterers left
out lie outside the transmit beam's and the receive beam's main lobes at every depth of an
aperture no wider than the band, and reach the line only through the side lobes of both;
on the 16-line test sequence of this package (32 of 64 elements active, f-number 2 at the
focus) leaving them out changes the RF by less than 1% of its RMS value (-40 dB). Give
window=None to use every scatterer. Transmits ('plane', 'diverging' and 'element' steps)
always use every scatterer.

Stores: with simulate(..., store=folder) the result is not sent to the client. The tasks of
a step sum its chunks on the workers (a tree of tasks, _SPLIT results to a task) and write
the step into a Zarr store in the folder (every worker must reach it under the same name);
once every step is written, one task per step places it on the common time axis in the
store's array rf, chunked per step, and the client receives only each step's start time
and shape. The array is read back lazily (open_store, a dask array); Octave's scan_import
reads the store too. beamform() forms the image of a store's transmits on the cluster, one
task per transmit and image block, and writes it into the store. Every path sums by the
same tree, so the store holds, bit for bit, what simulate returns in memory.

A script that starts a LocalCluster (simulate without a client) must do so under
`if __name__ == "__main__":`, since every worker is a new Python process that imports the
script's main module.

Chunks: a step's scatterers are split by their index in the phantom into chunks of at most
`chunk` (default 50,000); each chunk is a task, and a step's chunks are summed in index
order. Split finer to spread a few steps (transmits) over many workers.
"""
import argparse
import contextlib
import json
import math
import os
import shutil
import sys
import tempfile
import threading
import time

import numpy as np

from . import _commands as _cmd
from . import _store
from . import imaging as _im

FORMAT = "orvel.distributed/1"
_FN = "orvel.distributed"
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

    seq      scan sequence of orvel.imaging, every step of one kind: 'line', 'plane',
             'diverging' or 'element'
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
        raise ValueError("%s: the sequence mixes steps of the kinds %s"
                         % (fn, ", ".join(sorted(kinds))))
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
    """The phantom as an (n, 4) array or a moving phantom's dict: given, or read from its file
    once per process."""
    if not isinstance(phantom, str):
        return phantom
    st = os.stat(phantom)
    key = (phantom, st.st_mtime_ns, st.st_size)
    if key not in _files:
        _files.clear()
        _files[key] = _read_phantom(phantom)
    return _files[key]


def _read_phantom(path):
    """The phantom in a file as an (n, 4) array: an .npy memory-mapped, or an .npz's points
    and amplitudes. A file that is not such a phantom is refused with its name; its values
    are checked by _check_values, once, on the client."""
    if path.endswith(".npz"):
        try:
            with np.load(path) as f:
                points, amplitudes = f["points"], f["amplitudes"]
        except OSError:
            raise
        except Exception as e:
            raise ValueError("%s: the phantom %s is not an .npz file holding points and "
                             "amplitudes (%s)" % (_FN, path, _reason(e))) from None
        return _pack(points, amplitudes, "the phantom " + path)
    _check_npy(path)
    return np.load(path, mmap_mode="r")


def _check_npy(path):
    """Refuses an .npy file whose header cannot be read, that holds anything but an (n, 4)
    array of real numbers, or that is shorter than its header announces."""
    fmt = np.lib.format
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        if size == 0:
            raise ValueError("%s: the phantom %s is empty" % (_FN, path))
        try:
            version = fmt.read_magic(f)
            read = fmt.read_array_header_1_0 if version == (1, 0) else fmt.read_array_header_2_0
            shape, _, dtype = read(f)
        except Exception as e:
            raise ValueError("%s: the phantom %s has no readable .npy header (%s)"
                             % (_FN, path, _reason(e))) from None
        data_bytes = size - f.tell()
    if dtype.kind not in "iuf":
        raise ValueError("%s: the phantom %s must hold real numbers, but holds %s"
                         % (_FN, path, dtype))
    if len(shape) != 2 or shape[1] != 4:
        raise ValueError("%s: the phantom %s must be an (n, 4) array [x y z amplitude], but "
                         "has shape %s" % (_FN, path, shape))
    need = shape[0] * shape[1] * dtype.itemsize
    if data_bytes < need:
        raise ValueError("%s: the phantom %s is truncated: its header announces %d x %d values "
                         "of %s (%d bytes), but %d bytes follow it"
                         % (_FN, path, shape[0], shape[1], dtype, need, data_bytes))


def _reason(e):
    text = " ".join(str(e).split())
    return "%s: %s" % (type(e).__name__, text) if text else type(e).__name__


def _pack(points, amplitudes, what="the phantom"):
    points, amplitudes = np.asarray(points), np.asarray(amplitudes)
    for name, a in (("points", points), ("amplitudes", amplitudes)):
        if a.dtype.kind not in "iuf":
            raise ValueError("%s: %s must hold real numbers, but its %s are %s"
                             % (_FN, what, name, a.dtype))
    points = points.astype(float, copy=False)
    amplitudes = amplitudes.astype(float, copy=False).reshape(-1)
    if points.ndim != 2 or points.shape[1] != 3 or amplitudes.size != points.shape[0]:
        raise ValueError("%s: %s needs points (n, 3) and n amplitudes, but has %s and %d"
                         % (_FN, what, points.shape, amplitudes.size))
    return np.column_stack([points, amplitudes])


def _build(t):
    make = t["make"]
    th = getattr(_cmd, make[0])(*[_arg(a) for a in make[1:]])
    for s in t["setup"]:
        getattr(_cmd, s[0])(th, *[_arg(a) for a in s[1:]])
    return th


def _arg(a):
    return np.asarray(a, dtype=float) if isinstance(a, list) else a


def _step_arrays(step):
    return {k: (np.asarray(v, dtype=float) if isinstance(v, list) else v)
            for k, v in step.items()}


def _window(step, tx, rx, margin):
    """Lateral limits of a line's scatterers: (origin, across-direction, low, high), the
    active aperture's extent across the line widened by margin times itself on each side."""
    origin, across, low, high = _im._lateral_extent(step, tx, rx)
    width = high - low
    return origin, across, low - margin * width, high + margin * width


def _task(desc, phantom, k, lo, hi, threads):
    """One chunk of one step: (rf, start, fs), or None where no scatterer is in its window."""
    with _module_lock:
        data = _phantom_data(phantom)
        step = _step_arrays(desc["sequence"][k])
        _cmd.orvel_init(-1)
        try:
            for name, value in desc["options"].items():
                if name == "fs":
                    _cmd.set_sampling(value)
                else:
                    _cmd.set_option(name, value)
            if threads:
                _cmd.set_option("threads", threads)
            tx, rx = _build(desc["tx"]), _build(desc["rx"])
            _im.scan_apply(step, tx, rx)
            if isinstance(data, dict):
                # This chunk's scatterers where they are at the step's firing time.
                points, amplitudes = _im.phantom_positions(_im._phantom_rows(data, lo, hi),
                                                           step.get("t", 0.0))
                part = np.column_stack([points, amplitudes])
            else:
                part = np.asarray(data[lo:hi], dtype=float)
            if step["kind"] == "line" and desc["window"] is not None:
                origin, across, low, high = _window(step, tx, rx, desc["window"])
                s = (part[:, :3] - origin) @ across
                part = part[(s >= low) & (s <= high)]
            if part.shape[0] == 0:
                return None
            if step["kind"] == "line":
                rf, start = _cmd.calc_scat(tx, rx, part[:, :3], part[:, 3])
                rf = rf.reshape(-1, 1)
            else:
                rf, start = _cmd.calc_scat_multi(tx, rx, part[:, :3], part[:, 3])
            fs = _cmd.get_option("fs")
            return rf, float(start), fs
        finally:
            _cmd.orvel_end()


# The description and the phantom of a run (published on the scheduler), kept by each worker
# process for its tasks; fetched again by a process that does not hold them, such as a
# worker started after every worker of the run was lost.
_runs = {}
_runs_lock = threading.Lock()


def _remote_task(run, k, lo, hi, threads):
    with _runs_lock:
        if run not in _runs:
            from dask.distributed import get_client
            data = get_client().get_dataset(run)
            _runs.clear()
            _runs[run] = data
        desc, phantom = _runs[run]
    return _task(desc, phantom, k, lo, hi, threads)


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


# A step's chunks are summed by a tree of tasks (in Dask's way, on the workers): groups of
# _SPLIT consecutive results are summed in index order, then groups of those sums, until one
# group is left, which the last task sums. Every path (in memory, folder, store, serial) sums
# by this same tree, so their results agree bit for bit; a step of at most _SPLIT chunks is
# summed in one go, in index order.
_SPLIT = 8


def _sum(*parts):
    return _place(list(parts))


def _tree(parts, add=_sum):
    """Reduces parts to the last group of at most _SPLIT, each group summed by add."""
    parts = list(parts)
    while len(parts) > _SPLIT:
        parts = [add(*parts[i:i + _SPLIT]) for i in range(0, len(parts), _SPLIT)]
    return parts


class _Steps:
    """Collects task results, sums each step's chunks once all are in, and keeps each step
    in memory or writes it to a folder of its own inside the output folder.

    With an output folder, the run first removes the result an earlier run left there, so
    that until this one is complete the folder holds nothing that looks like a result;
    close() removes the steps and any unfinished file, whether the run ended or failed."""

    def __init__(self, n_steps, n_chunks, out):
        self.n_chunks, self.out = n_chunks, out
        self.pending = [dict() for _ in range(n_steps)]
        self.steps = [None] * n_steps
        self.done = 0
        self.folder = self.unfinished = None
        if out is not None:
            os.makedirs(out, exist_ok=True)
            for name in ("result.json", "rf.npy"):  # result.json first: it marks a result
                try:
                    os.remove(os.path.join(out, name))
                except FileNotFoundError:
                    pass
            self.folder = tempfile.mkdtemp(prefix=".orvel-steps-", dir=out)
            self.unfinished = []

    def add(self, k, c, result):
        self.pending[k][c] = result
        if len(self.pending[k]) < self.n_chunks:
            return
        placed = _sum(*_tree([self.pending[k][i] for i in range(self.n_chunks)]))
        self.pending[k] = None
        self.done += 1
        if self.out is None:
            self.steps[k] = placed
            return
        path = os.path.join(self.folder, "step_%06d.npz" % k)
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

    def new_file(self, name):
        """A name in the output folder for a file that replaces `name` once complete."""
        path = os.path.join(self.out, ".%s-%s.part" % (name, os.urandom(4).hex()))
        self.unfinished.append(path)
        return path

    def close(self):
        if self.out is None:
            return
        shutil.rmtree(self.folder, ignore_errors=True)
        for path in self.unfinished:
            try:
                os.remove(path)
            except FileNotFoundError:
                pass


def _layout(records, slow):
    """t0, fs, the result's shape and each step's row offset, from the steps' records."""
    present = [r for r in records if r["start"] is not None]
    if not present:
        raise ValueError("%s: no scatterer lies in the window of any step" % _FN)
    t0 = min(r["start"] for r in present)
    fs = present[0]["fs"]
    offsets = [None if r["start"] is None else int(round((r["start"] - t0) * fs))
               for r in records]
    rows = max(off + r["shape"][0] for r, off in zip(records, offsets) if off is not None)
    columns = max(r["shape"][1] for r in present)
    return t0, fs, _im._rf_shape(rows, columns, len(records), slow), offsets


def _assemble(steps, kind, out, slow):
    """Puts every step on one time axis, as orvel.imaging.scan_run does (slow time as the last
    axes for a firing sequence); in the output folder as rf.npy (written step by step) with
    result.json.

    Both are written to new files and renamed over the old names, rf.npy first, so that
    result.json appears last, with its data complete. A file is never rewritten in place: a
    memory map of an earlier run's rf.npy keeps that run's data."""
    records = []
    for k in range(len(steps.steps)):
        s = steps.step(k)
        records.append({"start": None} if s is None else
                       {"start": s[1], "fs": s[2], "shape": s[0].shape})
    t0, fs, shape, offsets = _layout(records, slow)
    if out is None:
        rf = np.zeros(shape)
    else:
        data_file = steps.new_file("rf.npy")
        rf = np.lib.format.open_memmap(data_file, mode="w+", dtype=float, shape=shape,
                                       fortran_order=True)
    for k, off in enumerate(offsets):
        if off is not None:
            s = steps.step(k)[0]
            where = (slice(off, off + s.shape[0]), slice(0, s.shape[1]))
            rf[where + _im._rf_place(k, slow)] = s
    if out is not None:
        rf.flush()
        del rf
        info_file = steps.new_file("result.json")
        with open(info_file, "w") as f:
            json.dump({"t0": t0, "fs": fs, "kind": kind, "shape": list(shape),
                       "rf": "rf.npy"}, f)
        os.replace(data_file, os.path.join(out, "rf.npy"))
        os.replace(info_file, os.path.join(out, "result.json"))
        rf = np.load(os.path.join(out, "rf.npy"), mmap_mode="r")
    return (rf[:, 0] if kind == "line" else rf), t0


def _check_values(data, what):
    """Refuses a phantom with no scatterers or with a value that is not finite (a line's
    window would drop such a scatterer silently); read in blocks, so that a file much larger
    than memory can be checked."""
    if data.shape[0] == 0:
        raise ValueError("%s: %s holds no scatterers" % (_FN, what))
    rows = 1 << 18  # 8 MB of doubles per block
    for lo in range(0, data.shape[0], rows):
        bad = ~np.isfinite(np.asarray(data[lo:lo + rows], dtype=float)).all(axis=1)
        if bad.any():
            row = lo + int(np.argmax(bad))
            raise ValueError("%s: %s has a value that is not finite in row %d (counting from "
                             "0): x y z amplitude = [%s]"
                             % (_FN, what, row, ", ".join("%g" % v for v in data[row])))


def _phantom(phantom):
    """The phantom as simulate sends it, checked before any task runs: the absolute name of
    its file, an (n, 4) array or a moving phantom; and its number of scatterers."""
    if isinstance(phantom, dict):
        n = _im._phantom_count(_FN, phantom)
        if n == 0:
            raise ValueError("%s: the phantom holds no scatterers" % _FN)
        return phantom, n
    if isinstance(phantom, str):
        path = os.path.abspath(phantom)
        data = _read_phantom(path)
        _check_values(data, "the phantom " + path)
        return path, data.shape[0]
    if isinstance(phantom, (tuple, list)):
        if len(phantom) != 2:
            raise ValueError("%s: the phantom must be (points, amplitudes), an (n, 4) array "
                             "or a file name" % _FN)
        data = _pack(*phantom)
    else:
        a = np.asarray(phantom)
        if a.ndim != 2 or a.shape[1] != 4:
            raise ValueError("%s: the phantom must be an (n, 4) array [x y z amplitude], but "
                             "has shape %s" % (_FN, a.shape))
        data = _pack(a[:, :3], a[:, 3])
    _check_values(data, "the phantom")
    return data, data.shape[0]


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
    if isinstance(error, _cmd.OrvelError):
        return _cmd.OrvelError(text)
    return RuntimeError(text)


def simulate(desc, phantom, client=None, out=None, workers=None, threads=None, progress=True,
             store=None, overwrite=False):
    """Runs a simulation description over a phantom; returns (rf, t0) as scan_run does.

    desc      from describe(), or the name of a JSON file holding one
    phantom   (points, amplitudes), an (n, 4) array [x y z amplitude], the name of an .npy
              or .npz file that every worker can read (see the module's help), or a moving
              phantom of orvel.imaging (phantom_flow, phantom_motion)
    client    None: a LocalCluster of `workers` processes on this machine, closed at the end;
              a scheduler address ("tcp://host:8786"); a dask.distributed Client; or "serial":
              the same tasks one after the other in this process (no Orvel session may be
              open in it)
    out       None: the result in memory; a folder: each step written there as it completes
              (in a hidden folder of its own), then rf.npy (the whole result, read back
              memory-mapped) and result.json, last. The run first removes the rf.npy and
              result.json an earlier run left there; a run that fails leaves neither, and
              no steps. New files replace the old by renaming, never by rewriting: an
              earlier run's rf.npy, memory-mapped, keeps its data.
    store     a folder that the client and every worker reach under the same name (a shared
              file system): the result is written there by the workers, as a Zarr store,
              and (rf, t0) comes back with rf a lazy dask array read from it (open_store).
              Each step's chunks are summed on the workers by a tree of tasks and written
              once; the client receives only each step's start and shape. Refused before any
              task runs: a path whose parent folder does not exist or that cannot be
              written, a file, a folder holding anything but an Orvel store, a store of
              another run (unless overwrite=True), and a store some worker does not see. A
              store of the same run (same description and phantom) is resumed: the steps it
              finished are not computed again. Not with out.
    overwrite replace a store of another run
    workers   worker processes of the LocalCluster (default: the usable cores)
    threads   threads of each worker's module (default on a LocalCluster: cores / workers;
              elsewhere the module's own default, every core of the worker)
    progress  print a progress bar (at most once a second)

    'line' steps: rf has shape (samples, lines); transmits ('plane', 'diverging',
    'element'): (samples, elements, transmits); a firing sequence of scan_ensemble adds slow
    time as the last axis, (samples, S, E) and (samples, elements, S, E). Row r lies at time
    t0 + r/fs. A bad description or phantom is refused (ValueError) before anything changes.
    A task that fails raises its error with the step and scatterers it belongs to; a worker
    that dies has its tasks run again elsewhere, and when every worker dies the run waits for
    new ones and goes on with them.
    """
    if isinstance(desc, str):
        with open(desc) as f:
            desc = json.load(f)
    desc = _check(desc)
    phantom, n = _phantom(phantom)
    if out is not None and isinstance(phantom, str) and os.path.realpath(phantom) in {
            os.path.realpath(os.path.join(out, name)) for name in ("rf.npy", "result.json")}:
        raise ValueError("%s: the phantom %s is where the result goes; give another output "
                         "folder" % (_FN, phantom))
    slow = _im._slow_time(_FN, desc["sequence"])
    tasks, n_chunks = _tasks(desc, n)
    kind = desc["sequence"][0]["kind"]
    bar = _Progress(len(tasks), "line" if kind == "line" else "transmit", len(desc["sequence"]),
                    progress)
    if store is not None:
        if out is not None:
            raise ValueError("%s: give either out or store, not both" % _FN)
        digest = _store.fingerprint(desc, phantom)
        path, reuse = _store.check_path(store, digest, overwrite)
        if isinstance(phantom, str) and os.path.realpath(phantom).startswith(
                os.path.realpath(path) + os.sep):
            raise ValueError("%s: the phantom %s lies inside the store; give another store"
                             % (_FN, phantom))
        return _simulate_store(desc, phantom, tasks, n_chunks, slow, bar, client, workers,
                               threads, path, reuse, digest)
    # Everything above refuses bad input and changes nothing; from here on the output folder
    # holds either this run's complete result or none.
    steps = _Steps(len(desc["sequence"]), n_chunks, out)
    try:
        if client == "serial":
            for k, c, lo, hi in tasks:
                try:
                    result = _task(desc, phantom, k, lo, hi, threads)
                except Exception as e:
                    raise _failed(desc, k, lo, hi, e) from e
                steps.add(k, c, result)
                bar.tick(steps.done)
        else:
            _run_dask(desc, phantom, tasks, steps, bar, client, workers, threads)
        return _assemble(steps, kind, out, slow)
    finally:
        steps.close()


@contextlib.contextmanager
def _connected(client, workers, threads):
    """(client, threads) for a run: a LocalCluster of `workers` processes when client is None
    (closed at the end), a scheduler address, or the client given."""
    from dask.distributed import Client, LocalCluster
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
        yield client, threads
    finally:
        if own is not None:
            own.close()
        if cluster is not None:
            cluster.close()


@contextlib.contextmanager
def _published(client, desc, phantom):
    """The run's name, its description and phantom held by the scheduler for the run.

    Held by the scheduler, not scattered: scattered data dies with the last worker that holds
    it, and every task with it; a worker that lacks the run's data fetches it (_remote_task).
    (Data as a task's result would be computed again, but Dask 2022.12 can leave the tasks
    that need it waiting for ever once every worker is lost.)"""
    run = "orvel-run-%s" % os.urandom(8).hex()
    client.publish_dataset([desc, phantom], name=run)
    try:
        yield run
    finally:
        try:
            client.unpublish_dataset(run)
        except Exception:
            pass  # the scheduler is gone, and the data with it


def _key(name, *numbers):
    return "orvel-%s-%s-%s" % (name, "-".join(str(n) for n in numbers), os.urandom(4).hex())


def _run_dask(desc, phantom, tasks, steps, bar, client, workers, threads):
    from dask.distributed import as_completed
    with _connected(client, workers, threads) as (client, threads), \
            _published(client, desc, phantom) as run:
        futures = {}
        for k, c, lo, hi in tasks:
            f = client.submit(_remote_task, run, k, lo, hi, threads, pure=False,
                              key=_key("chunk", k, c))
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


# ---- Results in a store -------------------------------------------------------------------------

def _located_task(where, run, k, lo, hi, threads, desc=None, phantom=None):
    """A chunk's task whose error names its step and scatterers (`where`): its result goes on
    to other tasks, not to the client, which would otherwise name them. run None: in this
    process, over desc and phantom."""
    try:
        if run is None:
            return _task(desc, phantom, k, lo, hi, threads)
        return _remote_task(run, k, lo, hi, threads)
    except Exception as error:
        text = "%s: %s: %s" % (_FN, where, error)
        raise (_cmd.OrvelError(text) if isinstance(error, _cmd.OrvelError)
               else RuntimeError(text)) from None


def _stage_root(path, k, *parts):
    return _store.stage(path, k, _sum(*parts))


def _simulate_store(desc, phantom, tasks, n_chunks, slow, bar, client, workers, threads,
                    path, reuse, digest):
    """simulate() with a store: the tasks sum each step's chunks and write it, then write it
    into the result array; the client receives only each step's start and shape."""
    n_steps = len(desc["sequence"])
    kind = desc["sequence"][0]["kind"]
    made = not os.path.isdir(path)
    token = _store.create(path, digest, desc, reuse)
    records = [_store.staged(path, k) if reuse else None for k in range(n_steps)]
    todo = [k for k in range(n_steps) if records[k] is None]
    by_step = {k: [] for k in todo}
    for k, c, lo, hi in tasks:
        if k in by_step:
            by_step[k].append((c, lo, hi))

    def finish():
        t0, fs, shape, offsets = _layout(records, slow)
        shape = _store.result_array(path, shape, kind)
        return t0, fs, shape, [(k, off, _im._rf_place(k, slow))
                               for k, off in enumerate(offsets) if off is not None]

    if client == "serial":
        for done, k in enumerate(todo):
            parts = []
            for c, lo, hi in by_step[k]:
                parts.append(_located_task(_where(desc, k, lo, hi), None, k, lo, hi, threads,
                                           desc, phantom))
                bar.tick(done)
            records[k] = _store.stage(path, k, _sum(*_tree(parts)))
        t0, fs, shape, places = finish()
        for k, off, where in places:
            _store.place(path, k, off, where)
    else:
        from dask.distributed import as_completed, wait
        with _connected(client, workers, threads) as (client, threads):
            unseen = [a for a, ok in client.run(_store.reach, path, token).items() if not ok]
            if unseen:
                if made:
                    shutil.rmtree(path, ignore_errors=True)
                raise ValueError("%s: the store %s is not reachable from the worker(s) %s; give "
                                 "a folder every worker reaches under the same name"
                                 % (_FN, path, ", ".join(sorted(unseen))))
            with _published(client, desc, phantom) as run:
                roots = {}
                for k in todo:
                    level = [client.submit(_located_task, _where(desc, k, lo, hi), run, k, lo,
                                           hi, threads, pure=False, key=_key("chunk", k, c))
                             for c, lo, hi in by_step[k]]
                    level = _tree(level, lambda *g: client.submit(_sum, *g, pure=False,
                                                                  key=_key("sum", k)))
                    roots[client.submit(_stage_root, path, k, *level, pure=False,
                                        key=_key("stage", k))] = k
                done = 0
                for f in as_completed(list(roots)):
                    k = roots.pop(f)
                    try:
                        records[k] = f.result()
                    except Exception as error:
                        for g in roots:
                            g.cancel()
                        if str(error).startswith(_FN):
                            raise
                        raise RuntimeError("%s: step %d: %s" % (_FN, k + 1, error)) from error
                    f.release()
                    done += 1
                    for _ in by_step[k]:
                        bar.tick(done)
            t0, fs, shape, places = finish()
            writes = [client.submit(_store.place, path, k, off, where, pure=False,
                                    key=_key("place", k)) for k, off, where in places]
            wait(writes)
            for f in writes:
                f.result()
    _store.finish(path, {"format": _store.FORMAT, "fingerprint": digest, "complete": True,
                         "kind": kind, "t0": t0, "fs": fs, "shape": list(shape),
                         "steps": n_steps})
    return open_store(path)["rf"], t0


def open_store(path):
    """A complete store's contents, read lazily: a dict with
        rf      the RF as simulate returned it, a dask array (numpy.asarray(rf) reads it all)
        t0, fs  time of row 0 [s] and the sampling frequency [Hz]
        kind    the steps' kind ('line', 'plane', 'diverging', 'element')
        image   the image beamform() wrote, a dask array, or None
        grid    the image's x, z and y (None for a 2-D image) [m], or None
    """
    import dask.array as da
    path = os.path.abspath(path)
    attrs = _store.info(path)
    if attrs is None:
        raise ValueError("%s: %s is not an Orvel store" % (_FN, path))
    if not attrs.get("complete"):
        raise ValueError("%s: the store %s holds no complete result (its run has not finished "
                         "or failed; running the same again completes it)" % (_FN, path))
    rf = da.from_zarr(path, component="rf")
    image = grid = None
    if "image" in attrs:
        image = da.from_zarr(path, component="image")
        grid = {k: (None if v is None else np.asarray(v)) for k, v in attrs["image"].items()}
    return {"rf": rf, "t0": attrs["t0"], "fs": attrs["fs"], "kind": attrs["kind"],
            "image": image, "grid": grid}


# ---- Beamforming on the cluster -----------------------------------------------------------------

def _bf_task(path, t, angle, elements, x, z, y, c, f_number, lag, options, threads):
    """One transmit's image over one block of the grid, from the RF in the store."""
    import zarr
    attrs = _store.info(path)
    rf = zarr.open_array(os.path.join(path, "rf"), mode="r")[:, :, t]
    with _module_lock:
        _cmd.orvel_init(-1)
        try:
            if threads:
                _cmd.set_option("threads", threads)
            return _im.das_beamform(np.asfortranarray(rf), attrs["t0"], attrs["fs"], elements,
                                    x, z, c, f_number, angle, lag, y=y, **options)
        finally:
            _cmd.orvel_end()


def _add(*images):
    total = images[0].copy()
    for image in images[1:]:
        total += image
    return total


def _write_root(path, where, *images):
    return _store.write_image(path, where, _add(*images))


def _blocks(nx, ny, nz, block):
    """Column ranges of the image blocks: [(x slice, y slice or None)], each block whole in z."""
    if block is None:
        per = max(1, 65536 // max(nz, 1))
        bx = max(1, min(nx, int(round(math.sqrt(per))) if ny else per))
        by = max(1, min(ny, per // bx)) if ny else None
    else:
        block = np.atleast_1d(block).astype(int)
        bx, by = int(block[0]), (int(block[-1]) if ny else None)
        if bx < 1 or (by is not None and by < 1):
            raise ValueError("%s: block must give whole numbers >= 1 of columns" % _FN)
    xs = [slice(i, min(i + bx, nx)) for i in range(0, nx, bx)]
    ys = [slice(j, min(j + by, ny)) for j in range(0, ny, by)] if ny else [None]
    return [(a, b) for a in xs for b in ys], bx, by


def beamform(store, element_positions, x, z, c, f_number, angle, lag, *, y=None, client=None,
             block=None, workers=None, threads=None, progress=True, **options):
    """Delay-and-sum image of a store's transmits (simulate(..., store=)), formed by tasks
    on the cluster and written into the store; returns the image as a lazy dask array.

    store       a complete store of 'plane', 'diverging' or 'element' steps (no slow time)
    element_positions, x, z, c, f_number, angle, lag, y, options (window, tukey_alpha,
                interpolation): as orvel.imaging.das_beamform, with angle one row (or
                number) per transmit of the store
    block       (bx,) or (bx, by): x (and y) columns of one image block, all depths; default
                about 65,536 points per block
    client, workers, threads, progress: as simulate; client="serial" runs the same tasks in
                this process

    One task per transmit and block reads that transmit's RF from the store and forms its
    image of the block (das_beamform of one transmit); each block's transmits are summed in
    the order of the store by a tree of tasks (as simulate sums chunks) and the sum is
    written to the store's image. So the image is the same, bit for bit, for any number of
    workers and with client="serial"; it equals das_beamform of all transmits at once to
    rounding (das_beamform sums in another order). Shape (len(z), len(x)), or (len(z),
    len(x), len(y)) with y; open_store(store)["image"] reads it again.
    """
    path = os.path.abspath(store) if isinstance(store, str) else store
    contents = open_store(path)
    rf = contents["rf"]
    if contents["kind"] == "line" or rf.ndim != 3:
        raise ValueError("%s: beamform needs a store of transmits received on every element "
                         "(samples x elements x transmits), but this store holds %s steps of "
                         "shape %s" % (_FN, contents["kind"], rf.shape))
    unknown = sorted(set(options) - {"window", "tukey_alpha", "interpolation"})
    if unknown:
        raise ValueError("%s: beamform: unknown options %s (window, tukey_alpha, "
                         "interpolation)" % (_FN, ", ".join(unknown)))
    n_t = rf.shape[2]
    angle = np.asarray(angle, dtype=float)
    rows = angle if angle.ndim == 2 else angle.reshape(-1)
    if angle.ndim > 2 or rows.shape[0] != n_t:
        raise ValueError("%s: beamform: angle must give one transmit per transmit of the store "
                         "(%d), but has shape %s" % (_FN, n_t, angle.shape))
    elements = np.asarray(element_positions, dtype=float)
    x, z = np.asarray(x, dtype=float).reshape(-1), np.asarray(z, dtype=float).reshape(-1)
    y = None if y is None else np.asarray(y, dtype=float).reshape(-1)
    # The whole call checked once, in this process, on an empty grid: bad arguments are
    # refused before any task runs.
    _im.das_beamform(np.zeros((2, rf.shape[1], 1)), 0.0, contents["fs"], elements, x[:0], z,
                     c, f_number, rows[:1], lag, y=y, **options)
    ny = 0 if y is None else y.size
    blocks, bx, by = _blocks(x.size, ny, z.size, block)
    shape = (z.size, x.size) + ((ny,) if y is not None else ())
    chunks = (max(z.size, 1), bx) + ((by,) if y is not None else ())
    _store.image_array(path, shape, chunks)

    def task_args(t, xs, ys):
        return (path, t, rows[t:t + 1], elements, x[xs], z, None if ys is None else y[ys], c,
                f_number, lag, options)

    bar = _Progress(len(blocks) * n_t, "block", len(blocks), progress)
    if client == "serial":
        for i, (xs, ys) in enumerate(blocks):
            images = [_bf_task(*task_args(t, xs, ys), threads) for t in range(n_t)]
            where = (slice(None), xs) + ((ys,) if ys is not None else ())
            _write_root(path, where, *_tree(images, _add))
            for _ in range(n_t):
                bar.tick(i + 1)
    else:
        from dask.distributed import as_completed
        with _connected(client, workers, threads) as (client, threads):
            roots = {}
            for i, (xs, ys) in enumerate(blocks):
                level = [client.submit(_bf_task, *task_args(t, xs, ys), threads, pure=False,
                                       key=_key("image", i, t)) for t in range(n_t)]
                level = _tree(level, lambda *g: client.submit(_add, *g, pure=False,
                                                              key=_key("add", i)))
                where = (slice(None), xs) + ((ys,) if ys is not None else ())
                roots[client.submit(_write_root, path, where, *level, pure=False,
                                    key=_key("write", i))] = i
            done = 0
            for f in as_completed(list(roots)):
                roots.pop(f)
                try:
                    f.result()
                except Exception as error:
                    for g in roots:
                        g.cancel()
                    raise RuntimeError("%s: beamform: %s" % (_FN, error)) from error
                done += 1
                for _ in range(n_t):
                    bar.tick(done)
    attrs = _store.info(path)
    attrs["image"] = {"x": x.tolist(), "z": z.tolist(), "y": None if y is None else y.tolist()}
    _store.set_info(path, attrs)
    return open_store(path)["image"]


# ---- Command line -------------------------------------------------------------------------------

def main(argv=None):
    p = argparse.ArgumentParser(
        prog="python3 -m orvel.distributed",
        description="Run a simulation description (JSON, from orvel.distributed.describe or "
                    "the Octave helper scan_export) over a phantom file on a Dask cluster; "
                    "writes rf.npy and result.json (t0, fs, kind, shape) to the output folder, "
                    "or has the workers write a Zarr store.")
    p.add_argument("description", help="the description, a JSON file")
    p.add_argument("phantom", help="the phantom: .npy (n, 4) [x y z amplitude], or .npz with "
                                   "points and amplitudes")
    where = p.add_mutually_exclusive_group(required=True)
    where.add_argument("--out", help="output folder: rf.npy and result.json")
    where.add_argument("--store", help="a Zarr store that the workers write (a folder every "
                                       "worker reaches; Octave's scan_import reads it)")
    p.add_argument("--overwrite", action="store_true",
                   help="replace a store that holds another run")
    p.add_argument("--scheduler", help="scheduler address (default: a local cluster)")
    p.add_argument("--workers", type=int, help="worker processes of the local cluster")
    p.add_argument("--threads", type=int, help="threads of each worker's module")
    p.add_argument("--serial", action="store_true", help="run in this process, without Dask")
    p.add_argument("--quiet", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    client = "serial" if a.serial else a.scheduler
    try:
        rf, t0 = simulate(a.description, a.phantom, client=client, out=a.out,
                          workers=a.workers, threads=a.threads, progress=not a.quiet,
                          store=a.store, overwrite=a.overwrite)
    except (ValueError, OSError, _cmd.OrvelError) as e:
        text = str(e)
        print(text if text.startswith("orvel.distributed") else "orvel.distributed: " + text,
              file=sys.stderr)
        return 1
    print("orvel.distributed: wrote %s, %s, t0 = %.9g s"
          % (os.path.join(a.out, "rf.npy") if a.store is None else a.store,
             "x".join(str(d) for d in rf.shape), t0))
    return 0


if __name__ == "__main__":
    # Run as orvel.distributed, not as __main__, so that tasks refer to the package's
    # functions, which every worker imports, rather than travel as copies.
    from orvel.distributed import main as _main
    sys.exit(_main())
