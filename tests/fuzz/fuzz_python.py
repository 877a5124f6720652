#!/usr/bin/env python3
"""A fuzz of the Python package orvel: from a fixed seed, random and mutated calls of every
public function of orvel, of the Aperture methods and of orvel.imaging (and, now and then, of
the extension's own call), mostly sensible ones (initialise, build small apertures, set their
pulses, time lines and element tables, calculate at a few points, image, free, end) and, in
about a third of the calls, mutated ones: arguments dropped or added, wrong types (text,
None, bool, complex, objects, ragged lists, integer and object arrays), wrong shapes (0-d,
empty, transposed, 3-D), other layouts (Fortran order, non-contiguous and reversed views,
read-only), non-finite, huge and tiny values, freed Apertures, stale and foreign handles.

A finding is:
  crash      the child process died (a segfault, an abort, a sanitizer's report)
  hang       no call finished within --hang seconds; the child is killed
  slow       a call still running at --slow seconds gets a Ctrl-C and did not stop within
             2/3 of --slow after it (a long calculation that stops at once is no finding)
  exception  an exception other than OrvelError, TypeError and ValueError
  nonfinite  a calculation (calc_*) returned NaN or Inf, which the module refuses whatever
             its input; or another result holds NaN or Inf while every value accepted since
             orvel_init was finite and moderate (0 or from 1e-30 to 1e30 in size);
             nonfinite-huge when some were finite but not moderate (scan_convert's NaN
             outside its sector is documented)
  layout     the same call with its arrays in another memory layout gave another result
  stale      an Aperture claims to be live while the module has freed its slot, or two
             live Apertures share a slot

The calls run in a child process: when it dies or hangs, the parent reports the call that was
running and goes on with a fresh child from the next call. A segment of calls that starts at
call K in a fresh child draws from a generator seeded with (seed, K), so
    fuzz_python.py --seed S --start K --calls I+1 --trace
replays the segment up to call I and prints every call as Python code. Exit status 1 when
anything was found, apart from the kinds given to --expect (listed all the same): faults of
the module that are known and not fixed yet. orvel must be importable
(PYTHONPATH=build/python).

Under the sanitizers, run python with their runtime preloaded (make fuzz-python does):
    LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
    ASAN_OPTIONS=detect_leaks=0 (the interpreter itself leaks)
"""
import argparse
import decimal
import fractions
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import warnings

NAN, INF = float("nan"), float("inf")
NAMES = {}  # id of an Aperture made by the segment -> its number k, printed as ap[k]
SHOWN = 64  # most values of an array or list printed; more with --trace, so that it replays

# Printed code refers to these names: ap[k] is the k-th Aperture made by the segment,
# F(a) a Fortran-ordered copy, S(a) a non-contiguous view, R(a) a view in reverse order
# along the last axis, RO(a) a read-only array.
HEADER = """import numpy as np, orvel, orvel.imaging as im
from decimal import Decimal
from fractions import Fraction
nan, inf = float('nan'), float('inf')
F = np.asfortranarray
def S(a): b = np.repeat(np.asarray(a), 2, axis=-1); return b[..., ::2]
def R(a): return np.ascontiguousarray(np.asarray(a)[..., ::-1])[..., ::-1]
def RO(a): a = np.array(a); a.setflags(write=False); return a
def with_block(a):
    with a: pass
Aperture = orvel.Aperture
ap = {}"""


# ---------------------------------------------------------------------------------------------
# Python code of a value, for the reproducer.

def src(x, depth=0):
    import numpy as np
    from orvel import Aperture

    if depth > 4:
        return "..."
    if isinstance(x, Aperture):
        return "ap[%d]" % NAMES[id(x)] if id(x) in NAMES else repr(x)
    if isinstance(x, float) and not isinstance(x, np.floating):
        return repr(x)
    if isinstance(x, np.ma.MaskedArray):
        return "np.ma.masked_array(%s, mask=%s)" % (src(x.data, depth + 1),
                                                   src(np.ma.getmaskarray(x), depth + 1))
    if isinstance(x, memoryview):
        return "memoryview(%r)" % x.tobytes()
    if isinstance(x, np.ndarray):
        body = "np.array(%s, dtype=np.%s)" % (src(x.tolist(), depth + 1) if x.size <= SHOWN else
                                            "<%d values>" % x.size, x.dtype.name)
        if x.ndim > 0 and x.size == 0:
            body = "np.zeros(%s, dtype=np.%s)" % (x.shape, x.dtype.name)
        if not x.flags.writeable:
            return "RO(%s)" % body
        if x.ndim >= 2 and x.flags.f_contiguous and not x.flags.c_contiguous:
            return "F(%s)" % body
        if x.ndim >= 1 and not (x.flags.c_contiguous or x.flags.f_contiguous):
            return ("R(%s)" if x.strides[-1] < 0 else "S(%s)") % body
        return body
    if isinstance(x, np.generic):
        return "np.%s(%r)" % (type(x).__name__, x.item())
    if isinstance(x, list):
        if len(x) > SHOWN:
            return "[<%d items>]" % len(x)
        return "[" + ", ".join(src(v, depth + 1) for v in x) + "]"
    if isinstance(x, tuple):
        return "(" + ", ".join(src(v, depth + 1) for v in x) + ("," if len(x) == 1 else "") + ")"
    if isinstance(x, dict):
        return "{" + ", ".join("%r: %s" % (k, src(v, depth + 1)) for k, v in x.items()) + "}"
    if isinstance(x, (str, bytes)) and len(x) > 80:
        return "%r * %d" % (x[:1], len(x))
    if type(x) is object:
        return "object()"
    text = repr(x)
    return text if len(text) <= 200 else text[:200] + "..."


# ---------------------------------------------------------------------------------------------
# The child: generates and runs the calls of one segment.

class Call:
    """One generated call: its function, arguments, code and what was mutated."""

    def __init__(self, name, fn, args, kwargs=None):
        self.name, self.fn, self.args, self.kwargs = name, fn, list(args), dict(kwargs or {})
        self.mutation, self.layout_only = "", False

    def code(self):
        parts = [src(a) for a in self.args] + ["%s=%s" % (k, src(v))
                                              for k, v in self.kwargs.items()]
        return "%s(%s)" % (self.name, ", ".join(parts))


class Generator:
    def __init__(self, seed, start, folder):
        import numpy as np
        import orvel
        import orvel.imaging as im

        self.np, self.orvel, self.im = np, orvel, im
        self.r = np.random.default_rng([seed, start])
        self.folder = folder
        self.apertures = []  # every Aperture of the segment, live or freed, with its size
        self.sequences = []  # scan sequences made, for scan_apply and scan_run
        self.initialised = False

    # Random draws.
    def u(self, lo, hi):
        return float(self.r.uniform(lo, hi))

    def i(self, lo, hi):
        return int(self.r.integers(lo, hi + 1))

    def p(self, chance):
        return self.r.random() < chance

    def pick(self, seq):
        return seq[int(self.r.integers(len(seq)))]

    # Sensible arguments.
    def focus(self):
        f = [self.u(-5e-3, 5e-3) if self.p(0.3) else 0.0, 0.0, self.u(10e-3, 60e-3)]
        return self.np.array(f) if self.p(0.5) else f

    def points(self, most=4):
        n = self.i(0, most) if self.p(0.1) else self.i(1, most)
        np = self.np
        return np.column_stack([self.r.uniform(-10e-3, 10e-3, n), self.r.uniform(-2e-3, 2e-3, n),
                                self.r.uniform(5e-3, 60e-3, n)])

    def pulse(self):
        n = self.i(1, 48)
        a = self.r.standard_normal(n)
        return a.tolist() if self.p(0.2) else a

    def times(self, k):
        return self.np.sort(self.r.uniform(0, 20e-6, k))

    def live(self):
        return [a for a in self.apertures if not a[0].freed]

    def handle(self):
        """A live aperture (or its int), else any argument that stands for one."""
        live = self.live()
        if live and self.p(0.95):
            ap, n = self.pick(live)
            return (int(ap) if self.p(0.15) else ap), n
        if self.apertures and self.p(0.5):
            return self.pick(self.apertures)[0], 1
        return self.i(0, 5), 1

    # The makers of sensible calls, by name.
    def maker(self):
        o = self.orvel
        u, i = self.u, self.i
        dims = lambda: (u(0.1e-3, 0.5e-3), u(1e-3, 5e-3), u(0, 0.05e-3))
        subs = lambda: (i(1, 3), i(1, 3))
        if not self.initialised or self.p(0.01):
            return Call("orvel.orvel_init", o.orvel_init, [self.pick([-1, -1, -1, 0, 1])])
        live = self.live()
        if not live or self.p(0.12):
            kind = self.pick(["linear", "2d", "focused", "convex", "convex_focused", "piston",
                              "concave", "multirow", "focused_multirow",
                              "convex_focused_multirow", "triangles_old", "rectangles",
                              "line_elements", "triangles"])
            return self.make_aperture(kind, dims, subs)
        r = self.r.random()
        th, n = self.handle()
        if r < 0.30:
            return self.setting(th, n)
        if r < 0.62:
            return self.calculation(th, n)
        if r < 0.88:
            return self.imaging(th, n)
        return self.general(th, n)

    def make_aperture(self, kind, dims, subs):
        o, np, u, i = self.orvel, self.np, self.u, self.i
        n = i(1, 8)
        w, h, k = dims()
        sx, sy = subs()
        ny = i(1, 3)
        heights = self.r.uniform(1e-3, 4e-3, ny)
        mm = 1e-3
        if kind == "linear":
            c = Call("orvel.xdc_linear_array", o.xdc_linear_array, [n, w, h, k, sx, sy,
                                                                   self.focus()])
        elif kind == "2d":
            nx, ny2 = i(1, 4), i(1, 3)
            enabled = (self.r.random((nx, ny2)) > 0.3).astype(float)
            n = int(enabled.sum())
            c = Call("orvel.xdc_2d_array", o.xdc_2d_array, [nx, ny2, w, h, k, k, enabled, sx, sy,
                                                           self.focus()])
        elif kind == "focused":
            c = Call("orvel.xdc_focused_array", o.xdc_focused_array,
                     [n, w, h, k, u(20e-3, 80e-3), sx, sy, self.focus()])
        elif kind == "convex":
            c = Call("orvel.xdc_convex_array", o.xdc_convex_array,
                     [n, w, h, k, u(20e-3, 80e-3), sx, sy, self.focus()])
        elif kind == "convex_focused":
            c = Call("orvel.xdc_convex_focused_array", o.xdc_convex_focused_array,
                     [n, w, h, k, u(20e-3, 80e-3), u(20e-3, 80e-3), sx, sy, self.focus()])
        elif kind == "piston":
            n = 1
            c = Call("orvel.xdc_piston", o.xdc_piston, [u(1e-3, 3e-3), u(0.6e-3, 1.5e-3)])
        elif kind == "concave":
            n = 1
            c = Call("orvel.xdc_concave", o.xdc_concave,
                     [u(1e-3, 3e-3), u(20e-3, 80e-3), u(0.6e-3, 1.5e-3)])
        elif kind == "multirow":
            c = Call("orvel.xdc_linear_multirow", o.xdc_linear_multirow,
                     [n, w, ny, heights, k, k, sx, sy, self.focus()])
            n *= ny
        elif kind == "focused_multirow":
            c = Call("orvel.xdc_focused_multirow", o.xdc_focused_multirow,
                     [n, w, ny, heights, k, k, u(20e-3, 80e-3), sx, sy, self.focus()])
            n *= ny
        elif kind == "convex_focused_multirow":
            c = Call("orvel.xdc_convex_focused_multirow", o.xdc_convex_focused_multirow,
                     [n, w, ny, heights, k, k, u(20e-3, 80e-3), u(20e-3, 80e-3), sx, sy,
                      self.focus()])
            n *= ny
        elif kind == "triangles_old":
            t = i(1, 4)
            corners = np.column_stack([self.r.uniform(-mm, mm, (t, 2)), np.zeros(t),
                                       self.r.uniform(-mm, mm, (t, 2)), np.zeros(t),
                                       self.r.uniform(-mm, mm, (t, 2)), np.zeros(t)])
            n = 1
            c = Call("orvel.xdc_triangles_old", o.xdc_triangles_old,
                     [corners, np.ones(t), [0.0, 0.0, 0.0], u(0.5, 1)])
        elif kind == "rectangles":
            rows = []
            for e in range(1, n + 1):
                x = (e - 1) * 1.5 * mm
                rows.append([e, x, 0, 0, x, mm, 0, x + mm, mm, 0, x + mm, 0, 0, 1, mm, mm,
                             x + mm / 2, mm / 2, 0])
            centres = [[(e - 0.5) * 1.5 * mm, mm / 2, 0] for e in range(1, n + 1)]
            c = Call("orvel.xdc_rectangles", o.xdc_rectangles,
                     [np.array(rows, dtype=float), np.array(centres), self.focus()])
        elif kind == "line_elements":
            n = i(1, 3)
            rows = []
            for e in range(1, n + 1):  # a 1 mm square per element, 2 mm apart
                x0 = (e - 1) * 2 * mm
                rows += [[e, 1, 0, 0, 0, 1], [e, 1, 0, 1, x0 + mm, 1], [e, 1, 0, 0, mm, 0],
                         [e, 1, 0, 1, x0, 0]]
            centres = [[(e - 1) * 2 * mm + mm / 2, mm / 2, 0] for e in range(1, n + 1)]
            c = Call("orvel.xdc_line_elements", o.xdc_line_elements,
                     [np.array(rows, dtype=float), np.array(centres), self.focus()])
        else:
            n = i(1, 3)
            rows = [[e, (e - 1) * 2 * mm, 0, 0, (e - 1) * 2 * mm + mm, 0, 0, (e - 1) * 2 * mm,
                     mm, 0, 1] for e in range(1, n + 1)]
            centres = [[(e - 1) * 2 * mm, 0, 0] for e in range(1, n + 1)]
            c = Call("orvel.xdc_triangles", o.xdc_triangles,
                     [np.array(rows, dtype=float), np.array(centres), self.focus()])
        return c

    def setting(self, th, n):
        o, np, u, i = self.orvel, self.np, self.u, self.i
        k = i(1, 3)
        what = self.pick(["impulse", "excitation", "focus", "focus_delays", "dynamic", "center",
                          "quantization", "baffle", "apodization", "ele_apodization",
                          "ele_delay", "ele_waveform", "convert", "line_convert", "show", "get",
                          "free", "aperture_method"])
        numbers = np.arange(1, n + 1, dtype=float)[: i(1, max(n, 1))]
        if what == "impulse":
            return Call("orvel.xdc_impulse", o.xdc_impulse, [th, self.pulse()])
        if what == "excitation":
            return Call("orvel.xdc_excitation", o.xdc_excitation, [th, self.pulse()])
        if what == "focus":
            return Call("orvel.xdc_focus", o.xdc_focus, [th, self.times(k), self.points_k(k)])
        if what == "focus_delays":
            return Call("orvel.xdc_focus_delays", o.xdc_focus_delays,
                        [th, self.times(k), self.r.uniform(0, 1e-6, (k, n))])
        if what == "dynamic":
            return Call("orvel.xdc_dynamic_focusing", o.xdc_dynamic_focusing,
                        [th, 0.0, u(-0.5, 0.5), u(-0.2, 0.2)])
        if what == "center":
            return Call("orvel.xdc_center_focus", o.xdc_center_focus,
                        [th, [u(-5e-3, 5e-3), 0.0, 0.0]])
        if what == "quantization":
            return Call("orvel.xdc_quantization", o.xdc_quantization,
                        [th, self.pick([0.0, u(1e-9, 1e-7)])])
        if what == "baffle":
            return Call("orvel.xdc_baffle", o.xdc_baffle, [th, self.pick([0, 1])])
        if what == "apodization":
            return Call("orvel.xdc_apodization", o.xdc_apodization,
                        [th, self.times(k), self.r.uniform(0, 1, (k, n))])
        if what in ("ele_apodization", "ele_delay"):
            m = i(1, 6)
            values = self.r.uniform(0, 1, (numbers.size, m))
            if what == "ele_delay":
                return Call("orvel.ele_delay", o.ele_delay, [th, numbers, values * 1e-7])
            return Call("orvel.ele_apodization", o.ele_apodization, [th, numbers, values])
        if what == "ele_waveform":
            return Call("orvel.ele_waveform", o.ele_waveform,
                        [th, numbers, self.r.standard_normal((numbers.size, i(1, 16)))])
        if what in ("convert", "line_convert"):
            # Conversions multiply the work of a calculation: only apertures of a few elements.
            if n > 3 and self.p(0.9):
                return Call("orvel.xdc_get", o.xdc_get, [th, "rect"])
            if what == "convert":
                return Call("orvel.xdc_convert", o.xdc_convert, [th])
            return Call("orvel.xdc_line_convert", o.xdc_line_convert, [th])
        if what == "show":
            return Call("orvel.xdc_show", o.xdc_show,
                        [th] + ([self.pick(["all", "elements", "focus", "apod", 0, 1, 2, 3])]
                                if self.p(0.8) else []))
        if what == "get":
            return Call("orvel.xdc_get", o.xdc_get,
                        [th] + ([self.pick(["rect", "tri", "lin", "focus", "apod", 1, 2, 3, 4,
                                            5, 6, "APOD"])] if self.p(0.9) else []))
        if what == "free":
            return Call("orvel.xdc_free", o.xdc_free, [th])
        m = self.pick(["free", "int", "repr", "with", "freed"])
        if not isinstance(th, o.Aperture):
            return Call("orvel.xdc_free", o.xdc_free, [th])
        # The object itself, not an argument: its code names the object, and mutations can
        # only add arguments.
        if m == "int":
            return Call("(lambda: int(%s))" % src(th), lambda: int(th), [])
        if m == "repr":
            return Call("(lambda: repr(%s))" % src(th), lambda: repr(th), [])
        if m == "with":
            return Call("(lambda: with_block(%s))" % src(th), lambda: with_block(th), [])
        if m == "free":
            return Call(src(th) + ".free", th.free, [])
        return Call("(lambda: %s.freed)" % src(th), lambda: th.freed, [])

    def points_k(self, k):
        np = self.np
        return np.column_stack([self.r.uniform(-5e-3, 5e-3, k), np.zeros(k),
                                self.r.uniform(10e-3, 60e-3, k)])

    def calculation(self, th, n):
        o, i = self.orvel, self.i
        th2, _ = self.handle() if self.p(0.3) else (th, n)
        pts = self.points()
        m = pts.shape[0]
        amps = self.r.standard_normal(m)
        dist = self.r.uniform(0, 20e-3, m)
        what = self.pick(["h", "hp", "hhp", "scat", "scat_multi", "scat_all", "hp_nl", "hhp_nl",
                          "scat_nl", "scat_multi_nl", "hp_map", "hhp_map"])
        # t_peak is left out of the maps: its NaN where p = 0 is documented.
        quantities = [self.pick(["p_plus", "p_minus", "p_peak", "pii", "p_rms", "raw_peak",
                                 "raw_energy", "cw_amplitude"]) for _ in range(i(1, 3))]
        if self.p(0.8):
            quantities.append(("cw", self.u(0.5e6, 10e6)))
        table = {
            "h": ("calc_h", [th, pts]), "hp": ("calc_hp", [th, pts]),
            "hhp": ("calc_hhp", [th, th2, pts]),
            "scat": ("calc_scat", [th, th2, pts, amps]),
            "scat_multi": ("calc_scat_multi", [th, th2, pts, amps]),
            "scat_all": ("calc_scat_all", [th, th2, pts, amps, i(1, 4)]),
            "hp_nl": ("calc_hp_non_linear", [th, pts, dist]),
            "hhp_nl": ("calc_hhp_non_linear", [th, th2, pts, dist]),
            "scat_nl": ("calc_scat_non_linear", [th, th2, pts, amps, dist]),
            "scat_multi_nl": ("calc_scat_multi_non_linear", [th, th2, pts, amps, dist]),
            "hp_map": ("calc_hp_map", [th, pts, quantities]),
            "hhp_map": ("calc_hhp_map", [th, th2, pts, quantities]),
        }
        name, args = table[what]
        return Call("orvel." + name, getattr(o, name), args)

    def general(self, th, n):
        o, u, i = self.orvel, self.u, self.i
        what = self.pick(["end", "info", "debug", "sampling", "option", "option", "option",
                          "logo", "extension"])
        if what == "end":
            return Call("orvel.orvel_end", o.orvel_end, [])
        if what == "info":
            return Call("orvel.orvel_info", o.orvel_info, [])
        if what == "debug":
            return Call("orvel.orvel_debug", o.orvel_debug, [self.pick([0, 0, 0, 1])])
        if what == "sampling":
            return Call("orvel.set_sampling", o.set_sampling, [self.pick([50e6, 100e6, 120e6])])
        if what == "logo":
            return Call("orvel.orvel_logo", o.orvel_logo, [])
        if what == "extension":
            # The extension itself: a command code with raw arguments and a count of results.
            # No code that ends the system or frees a slot: that would pass by the package's
            # bookkeeping of its Apertures, which only the package's own commands keep.
            code = self.pick([5051, 1101, 1100, 4001, 4007, 5050, 9999, 0, -1, 1e10, NAN])
            args = [self.wild() for _ in range(i(0, 3))]
            return Call("orvel._orvel.call", o._orvel.call, [code] + args,
                        {"nout": self.pick([0, 1, 2, 3, -1, 100, 10 ** 9, 2 ** 40])})
        name, value = self.pick([
            ("c", u(1400, 1600)), ("fs", self.pick([50e6, 100e6])), ("use_att", i(0, 1)),
            ("att", u(0, 50)), ("freq_att", u(0, 1e-6)), ("att_f0", u(1e6, 5e6)),
            ("tau_m", u(0, 40)), ("z", 1.5e6), ("BdivA", u(0, 10)), ("dz", u(0.3e-3, 2e-3)),
            ("debug", 0), ("accurate_time_calc", i(0, 1)), ("fast_integration", i(0, 1)),
            ("show_times", 0), ("use_rectangles", 1), ("use_triangles", i(0, 1)),
            ("use_lines", 0), ("threads", i(1, 3)), ("speed", 1540.0)])
        if self.p(0.2):
            name = name.upper()
        return Call("orvel.set_option", o.set_option, [name, value])

    def imaging(self, th, n):
        im, np, u, i = self.im, self.np, self.u, self.i
        what = self.pick(["points", "tissue", "cell", "map", "linear", "phased", "planewave",
                          "apply", "run", "das", "envelope", "log", "convert", "show",
                          "output", "image", "flow", "motion", "positions", "ensemble", "iq",
                          "clutter", "colour", "spectrum", "volume"])
        if what == "volume":
            return self.volume()
        if what in ("flow", "motion", "positions", "ensemble", "iq", "clutter", "colour",
                    "spectrum"):
            return self.doppler(what)
        if what == "points":
            m = i(1, 5)
            return Call("im.phantom_points", im.phantom_points,
                        [self.r.uniform(-1e-2, 6e-2, (m, 2))] +
                        ([self.r.standard_normal(m)] if self.p(0.5) else []))
        if what == "tissue":
            return Call("im.phantom_tissue", im.phantom_tissue,
                        [[-1e-3, 1e-3, 0, 0.5e-3, 20e-3, 22e-3], u(0.5, 5), u(1e-10, 4e-10),
                         [[0, 21e-3, 0.5e-3, 0]] if self.p(0.5) else None, i(0, 1000)])
        if what == "cell":
            return Call("im.resolution_cell", im.resolution_cell,
                        [u(0.1e-3, 0.5e-3), u(1, 4), u(0.2e-3, 1e-3), u(1e-3, 5e-3)])
        if what == "map":
            return Call("im.phantom_from_map", im.phantom_from_map,
                        [self.r.random((i(1, 4), i(1, 4))), [-5e-3, 5e-3], [10e-3, 30e-3],
                         i(0, 100), [0.0, 1e-3], i(0, 100)])
        if what == "linear":
            m = i(1, 8)
            return Call("im.scan_linear", im.scan_linear,
                        [m, u(0.2e-3, 0.4e-3), i(1, m), self.r.uniform(-3e-3, 3e-3, i(1, 3)),
                         u(10e-3, 50e-3)])
        if what == "phased":
            return Call("im.scan_phased", im.scan_phased,
                        [i(1, 8), self.r.uniform(-0.5, 0.5, i(1, 3)), u(10e-3, 50e-3)])
        if what == "planewave":
            return Call("im.scan_planewave", im.scan_planewave,
                        [i(1, 8), u(0.2e-3, 0.4e-3), self.r.uniform(-0.3, 0.3, i(1, 3)), 1540.0])
        if what in ("apply", "run"):
            fitting = [s for s in self.sequences if len(s[0]["tx_apodization"]) == n]
            seq = self.pick(fitting) if fitting and self.p(0.9) else None
            if seq is None:
                seq = im.scan_planewave(max(n, 1), 0.3e-3, [0.1], 1540.0)
            th2, _ = self.handle() if self.p(0.2) else (th, n)
            if what == "apply":
                return Call("im.scan_apply", im.scan_apply, [self.pick(seq), th, th2])
            if self.p(0.3):  # a moving phantom over a short ensemble
                return Call("im.scan_run", im.scan_run,
                            [im.scan_ensemble(seq[:2], 5e3, i(1, 2)), th, th2, self.flow(), None])
            pts = self.points(3)
            return Call("im.scan_run", im.scan_run,
                        [seq[:3], th, th2, pts, self.r.standard_normal(pts.shape[0])])
        if what == "das":
            s, e, t = i(8, 120), i(1, 6), i(1, 2)
            rf = self.r.standard_normal((s, e, t) if t > 1 or self.p(0.3) else (s, e))
            return Call("im.das_beamform", im.das_beamform,
                        [rf, u(0, 20e-6), 100e6, self.r.uniform(-3e-3, 3e-3, e),
                         self.r.uniform(-3e-3, 3e-3, i(1, 6)), self.r.uniform(1e-3, 1e-2, i(1, 6)),
                         1540.0, u(1, 3), self.r.uniform(-0.3, 0.3, rf.shape[2] if rf.ndim == 3
                                                        else 1), u(0, 1e-6)])
        if what == "image":
            e, t = i(1, 5), i(1, 3)
            transmits = np.column_stack([self.r.integers(1, 5, t), self.r.uniform(-0.3, 0.3, t),
                                         np.zeros(t), self.r.uniform(-5e-3, 20e-3, t),
                                         self.r.uniform(-2e-6, 2e-6, t), np.zeros((t, 3))])
            return Call("orvel.das_image", self.orvel.das_image,
                        [self.r.standard_normal((i(0, 60), e, t)), u(0, 2e-6), 50e6, 1540.0, 0.0,
                         np.column_stack([self.r.uniform(-2e-3, 2e-3, e), np.zeros((e, 2))]),
                         self.points(4), transmits, u(0.5, 3),
                         self.pick(["hann", "tukey", "boxcar"]), u(0, 1),
                         self.pick(["linear", "cubic"]), self.p(0.5)])
        if what == "output":
            return Call("im.acoustic_output", im.acoustic_output,
                        [th, self.points(3), u(100, 10e3)])
        if what == "envelope":
            shape = self.pick([(i(1, 64),), (i(1, 64), i(1, 4)), (i(1, 16), i(1, 3), 2)])
            return Call("im.envelope", im.envelope, [self.r.standard_normal(shape)])
        if what == "log":
            return Call("im.log_compress", im.log_compress,
                        [np.abs(self.r.standard_normal((i(1, 8), i(1, 8)))), u(10, 80)])
        if what == "convert":
            nr, na = i(2, 10), i(2, 10)
            return Call("im.scan_convert", im.scan_convert,
                        [self.r.standard_normal((nr, na)), np.sort(self.r.uniform(-0.6, 0.6, na)),
                         np.sort(self.r.uniform(5e-3, 50e-3, nr)),
                         np.linspace(-20e-3, 20e-3, i(1, 8)), np.linspace(0, 50e-3, i(1, 8))])
        # Pictures are slow (matplotlib): rarely.
        if self.p(0.9) or "matplotlib" not in sys.modules:
            return Call("im.log_compress", im.log_compress, [np.ones((2, 2)), 40.0])
        rows, cols = i(1, 5), i(1, 5)
        return Call("im.show_image", im.show_image,
                    [os.path.join(self.folder, "picture.png"),
                     -40 * self.r.random((rows, cols)), np.linspace(-1e-3, 1e-3, cols),
                     np.linspace(1e-3, 2e-3, rows), 40.0, "fuzz"])

    def volume(self):
        """3-D sequences, phantoms and scan conversion."""
        im, np, u, i = self.im, self.np, self.u, self.i
        e = self.r.uniform(-2e-3, 2e-3, (i(1, 9), 3)) * [1, 1, 0]
        what = self.pick(["plane", "diverging", "phased", "convert", "spheres", "points"])
        if what == "plane":
            return Call("im.scan_planewave_2d", im.scan_planewave_2d,
                        [e, self.r.uniform(-0.3, 0.3, (i(1, 3), 2)), 1540.0] +
                        ([self.r.random(e.shape[0])] if self.p(0.5) else []))
        if what == "diverging":
            return Call("im.scan_diverging_2d", im.scan_diverging_2d,
                        [e, self.r.uniform(-1e-2, 1e-2, (i(1, 3), 3)) * [1, 1, 0]
                         - [0, 0, u(1e-3, 1e-2)], 1540.0])
        if what == "phased":
            return Call("im.scan_phased_2d", im.scan_phased_2d,
                        [i(1, 8), self.r.uniform(-0.5, 0.5, (i(1, 4), 2)), u(10e-3, 50e-3)])
        if what == "convert":
            nx, ny, nr = i(2, 4), i(2, 3), i(2, 8)
            ax, ay = np.meshgrid(np.sort(self.r.uniform(-0.5, 0.5, nx)),
                                 np.sort(self.r.uniform(-0.5, 0.5, ny)), indexing="ij")
            return Call("im.scan_convert_3d", im.scan_convert_3d,
                        [self.r.standard_normal((nr, nx * ny)),
                         np.column_stack([ax.ravel(), ay.ravel()]),
                         np.sort(self.r.uniform(5e-3, 50e-3, nr)),
                         np.linspace(-2e-2, 2e-2, i(1, 5)), np.linspace(-2e-2, 2e-2, i(1, 4)),
                         np.linspace(0, 5e-2, i(1, 5))])
        if what == "spheres":
            return Call("im.phantom_tissue", im.phantom_tissue,
                        [[-1e-3, 1e-3, -1e-3, 1e-3, 20e-3, 22e-3], u(0.5, 5), u(1e-10, 4e-10),
                         None, i(0, 1000), self.r.uniform(-1e-3, 22e-3, (i(0, 3), 5))])
        m = i(1, 5)
        return Call("im.phantom_points", im.phantom_points,
                    [self.r.uniform(-1e-2, 6e-2, (m, 3)), self.r.standard_normal(m)])

    def flow(self):
        """A small moving phantom: a vessel in a 2 x 1 x 2 mm block, at most 400 scatterers."""
        u = self.u
        vessel = {"center": [0.0, 0.0, 21e-3], "direction": self.r.standard_normal(3).tolist(),
                  "radius": u(0.1e-3, 0.5e-3), "v_peak": u(-1, 1),
                  "profile": self.pick(["parabolic", "plug"])}
        return self.im.phantom_flow([-1e-3, 1e-3, -0.5e-3, 0.5e-3, 20e-3, 22e-3], vessel,
                                    u(0.5, 5), u(1e-10, 4e-10), self.i(0, 1000))

    def doppler(self, what):
        """Moving phantoms, firing sequences and Doppler processing."""
        im, np, u, i = self.im, self.np, self.u, self.i

        def complex_data(*shape):
            return self.r.standard_normal(shape) + 1j * self.r.standard_normal(shape)

        if what == "flow":
            vessel = {"center": [0.0, 0.0, 21e-3], "direction": self.r.standard_normal(3),
                      "radius": u(0.1e-3, 0.5e-3), "v_peak": u(-1, 1),
                      "profile": self.pick(["parabolic", "plug"]), "clutter": u(0, 10),
                      "tissue_velocity": self.r.uniform(-1e-2, 1e-2, 3)}
            return Call("im.phantom_flow", im.phantom_flow,
                        [[-1e-3, 1e-3, -0.5e-3, 0.5e-3, 20e-3, 22e-3], vessel, u(0.5, 5),
                         u(1e-10, 4e-10), i(0, 1000)])
        if what in ("motion", "positions"):
            m, k = i(1, 5), i(2, 3)
            points = self.r.uniform(-1e-2, 1e-2, (m, 3))
            times = np.cumsum(self.r.uniform(1e-4, 1e-3, k))
            motion = (self.pick([lambda p: 0.1 * p, lambda p: np.cross([0.0, 20.0, 0.0], p)])
                      if self.p(0.5) else
                      {"times": times, "positions": self.r.uniform(-1e-2, 1e-2, (k, m, 3))})
            if what == "motion":
                return Call("im.phantom_motion", im.phantom_motion,
                            [points, self.r.standard_normal(m), motion])
            phantom = (self.flow() if self.p(0.5) else
                       im.phantom_motion(points, self.r.standard_normal(m), motion))
            return Call("im.phantom_positions", im.phantom_positions,
                        [phantom, u(times[0], times[-1])])
        if what == "ensemble":
            seq = (self.pick(self.sequences) if self.sequences and self.p(0.8) else
                   im.scan_planewave(i(1, 8), 0.3e-3, [0.0, 0.1], 1540.0))
            return Call("im.scan_ensemble", im.scan_ensemble,
                        [seq, u(1e3, 1e4), i(1, 4), self.pick(["line", "frame"])])
        if what == "iq":
            shape = self.pick([(i(1, 200),), (i(1, 200), i(1, 3)), (i(1, 100), 2, i(1, 4))])
            return Call("im.iq_demodulate", im.iq_demodulate,
                        [self.r.standard_normal(shape), u(0, 2e-6), 100e6, u(2e6, 8e6),
                         u(1e6, 20e6) if self.p(0.5) else None, i(1, 5)])
        if what == "clutter":
            polynomial = self.p(0.5)
            return Call("im.clutter_filter", im.clutter_filter,
                        [complex_data(i(1, 4), i(1, 16)), "polynomial" if polynomial else "fir",
                         i(0, 3) if polynomial else u(0.05, 0.45)])
        if what == "colour":
            return Call("im.color_flow", im.color_flow,
                        [complex_data(i(1, 4), i(1, 8)), u(1e3, 1e4), 5e6, 1540.0])
        n = i(2, 24)
        data = complex_data(i(1, 3), n) if self.p(0.7) else complex_data(n)
        return Call("im.doppler_spectrum", im.doppler_spectrum,
                    [data, 5e3, 5e6, 1540.0, i(2, n), None if self.p(0.5) else i(0, 1),
                     None if self.p(0.5) else i(2, 64)])

    # Mutations.
    def wild(self):
        """A value of a wrong type, shape or size, or a non-finite, huge or tiny number."""
        np = self.np
        pool = [
            NAN, INF, -INF, 1e300, -1e300, 1e30, 1e15, 2.0 ** 31, 2.0 ** 63, -1.0, 0.0, -0.0,
            5e-324, 1e-300, 0.5, 1.5, 10 ** 400, -7, 3,
            "text", "", "rect", "c", b"bytes", None, True, False, 1 + 1j, [], [[]], [1, "a"],
            [[1, 2], [3]], {}, {"a": 1}, object(), (1.0, 2.0, 3.0), range(3),
            np.int32(3), np.float32(0.5), np.bool_(True), np.array(2.0), np.zeros((2, 2)),
            np.zeros((0,)), np.zeros((0, 3)), np.zeros((3, 0)), np.zeros((2, 2, 2)),
            np.array([1 + 1j]), np.array(["a"]), np.ones(3, dtype=bool), np.arange(3),
            np.array([NAN]), np.full((1, 3), INF), np.array([[0.0, 0.0, 1e300]]),
            np.array([1, 2], dtype=object), np.ones((1, 3), dtype=np.float32),
            np.ones((1, 3), dtype=np.int8), np.ones(5) * 1e-300,
            np.ma.masked_array([1.0, 2.0], mask=[0, 1]), fractions.Fraction(1, 3),
            decimal.Decimal("1.5"), bytearray(b"ab"), memoryview(b"ab"),
            self.pick(self.apertures)[0] if self.apertures else 0,
        ]
        return pool[int(self.r.integers(len(pool)))]

    def relayout(self, a):
        """The same values in another layout: Fortran order, a non-contiguous or reversed view,
        a read-only copy; None when a has no other."""
        np = self.np
        a = np.asarray(a)
        if a.ndim == 0 or a.dtype == object:
            return None
        choices = ["S", "R", "RO"] + (["F"] if a.ndim >= 2 else [])
        how = self.pick(choices)
        if how == "F":
            return np.asfortranarray(a)
        if how == "S":
            return np.repeat(a, 2, axis=-1)[..., ::2]
        if how == "R":
            return np.ascontiguousarray(a[..., ::-1])[..., ::-1]
        b = np.array(a)
        b.setflags(write=False)
        return b

    def reshape(self, a):
        np = self.np
        a = np.asarray(a)
        how = self.pick(["T", "flat", "3d", "empty", "0d", "int", "bool", "complex", "f32",
                         "object", "extra"])
        if how == "T":
            return a.T
        if how == "flat":
            return a.reshape(-1)
        if how == "3d":
            return a.reshape(a.shape + (1,))
        if how == "empty":
            return np.zeros((0,) + a.shape[1:])
        if how == "0d":
            return np.array(a.reshape(-1)[0] if a.size else 0.0)
        if how == "int":
            return (a * 1000).astype(np.int64) if a.dtype.kind in "fc" else a
        if how == "bool":
            return a != 0
        if how == "complex":
            return a + 1j
        if how == "f32":
            return a.astype(np.float32) if a.dtype.kind in "biuf" else a
        if how == "object":
            return a.astype(object)
        return np.concatenate([a.reshape(-1), [1.0]]) if a.dtype.kind in "biuf" else a

    def revalue(self, a):
        np = self.np
        a = np.array(a, dtype=float)
        if a.size == 0:
            return a
        flat = a.reshape(-1)
        k = int(self.r.integers(flat.size))
        flat[k] = self.pick([NAN, INF, -INF, 1e300, -1e300, 1e200, 1e-300, 5e-324, -0.0,
                             -flat[k], flat[k] * 1e6, 2.0 ** 53])
        return a

    def mutate(self, c):
        np = self.np
        if not c.args:
            c.args.append(self.wild())
            c.mutation = "an extra argument"
            return
        k = int(self.r.integers(len(c.args)))
        a = c.args[k]
        r = self.r.random()
        try:
            arrayish = (isinstance(a, (np.ndarray, list))
                        and np.asarray(a).dtype.kind in "biufc")
        except ValueError:  # a ragged list
            arrayish = False
        if r < 0.1:
            c.args = c.args[: int(self.r.integers(len(c.args)))]
            c.mutation = "arguments dropped"
        elif r < 0.15:
            c.args.append(self.wild())
            c.mutation = "an extra argument"
        elif r < 0.45 or not arrayish:
            c.args[k] = self.wild()
            c.mutation = "argument %d wild" % (k + 1)
        elif r < 0.6:
            b = self.relayout(a)
            if b is None:
                c.args[k] = self.wild()
                c.mutation = "argument %d wild" % (k + 1)
            else:
                c.args[k] = b
                c.mutation = "argument %d in another layout" % (k + 1)
                c.layout_only = True
        elif r < 0.8:
            c.args[k] = self.reshape(a)
            c.mutation = "argument %d reshaped or retyped" % (k + 1)
        else:
            c.args[k] = self.revalue(a)
            c.mutation = "argument %d value changed" % (k + 1)

    def next_call(self):
        c = self.maker()
        if self.p(0.33):
            self.mutate(c)
        return c


def with_block(ap):
    with ap:
        pass


def nonfinite(result, np):
    """True when result (an array, a number, or a tuple, list or dict of them) holds NaN or
    Inf."""
    if isinstance(result, (tuple, list)):
        return any(nonfinite(v, np) for v in result)
    if isinstance(result, dict):
        return any(nonfinite(v, np) for v in result.values())
    if isinstance(result, (float, np.ndarray, np.floating)):
        a = np.asarray(result)
        return a.dtype.kind in "fc" and not np.isfinite(a).all()
    return False


MODERATE, HUGE, NONFINITE = 2, 1, 0


def finite_arguments(args, np):
    """MODERATE when every number in args is finite and 0 or from 1e-30 to 1e30 in size,
    HUGE when some are larger or smaller, NONFINITE when one is NaN or Inf (or an int beyond
    a float)."""
    level = MODERATE
    for a in args:
        if isinstance(a, (list, tuple)):
            level = min(level, finite_arguments(a, np))
        elif isinstance(a, dict):
            level = min(level, finite_arguments(list(a.values()), np))
        elif isinstance(a, int) and not isinstance(a, bool):
            level = min(level, NONFINITE if abs(a) > 1e308 else HUGE if abs(a) > 1e30 else
                        MODERATE)
        elif isinstance(a, (float, np.ndarray, np.generic)):
            b = np.asarray(a)
            if b.dtype.kind in "fc" and b.size:
                if not np.isfinite(b).all():
                    return NONFINITE
                size = np.abs(b[b != 0])
                if size.size and (size.max() > 1e30 or size.min() < 1e-30):
                    level = HUGE
    return level


def same(a, b, np):
    if isinstance(a, (tuple, list)):
        return (isinstance(b, (tuple, list)) and len(a) == len(b)
                and all(same(x, y, np) for x, y in zip(a, b)))
    if isinstance(a, dict):
        return (isinstance(b, dict) and list(a) == list(b)
                and all(same(a[k], b[k], np) for k in a))
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        return np.array_equal(np.asarray(a), np.asarray(b), equal_nan=True)
    return a == b or (a != a and b != b)


class Sink:
    """sys.stdout of the child: the console is not kept."""

    def write(self, text):
        return len(text)

    def flush(self):
        pass


def child(opt):
    import resource

    report = os.fdopen(os.dup(1), "w", buffering=1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    if not opt.sanitizer:
        # Huge requests fail here instead of exhausting a shared machine; the sanitizers have
        # their own cap on one allocation (ASAN_OPTIONS) and need their address space.
        limit = 4 << 30
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    warnings.simplefilter("ignore")
    try:
        import matplotlib

        matplotlib.use("Agg")
    except ImportError:  # show_image needs it; without it, show_image is not called
        pass
    import numpy as np
    import orvel

    sys.stdout = Sink()

    def alarm(signum, frame):
        raise KeyboardInterrupt("slow")

    signal.signal(signal.SIGALRM, alarm)
    global SHOWN
    # Mutated file names (show_image, phantom_from_map) are relative: they land in the folder.
    if opt.folder:
        os.chdir(opt.folder)
    gen = Generator(opt.seed, opt.start, opt.folder)
    finite = MODERATE  # the least level of the values accepted since orvel_init
    for index in range(opt.start, opt.calls):
        c = gen.next_call()
        code = c.code()
        report.write("C %d %s\n" % (index, code.replace("\n", " ")))
        if opt.trace:
            SHOWN = 1 << 20
            code, SHOWN = c.code(), 64
        args_finite = finite_arguments(c.args + list(c.kwargs.values()), np)
        started = time.monotonic()
        error = None
        result = None
        try:
            signal.setitimer(signal.ITIMER_REAL, opt.slow)
            try:
                result = c.fn(*c.args, **c.kwargs)
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
        except (orvel.OrvelError, TypeError, ValueError) as e:
            error = e
        except KeyboardInterrupt as e:
            error = e
            seconds = time.monotonic() - started
            if seconds >= opt.slow * 0.99:
                if seconds > opt.slow * (1 + 2 / 3):
                    finding(report, "slow", index, c, "the call ran %.1f s: a Ctrl-C at %.0f s "
                            "did not stop it within %.1f s" % (seconds, opt.slow, opt.slow * 2 / 3))
                # What made it slow (a setting) should not slow every later call.
                try:
                    orvel.orvel_end()
                except orvel.OrvelError:
                    pass
                gen.initialised = False
        except BaseException as e:  # noqa: B902 (every other exception is a finding)
            error = e
            tb = traceback.extract_tb(e.__traceback__)[-1]
            finding(report, "exception", index, c, "%s: %s (at %s:%d)" % (
                type(e).__name__, str(e)[:300], os.path.basename(tb.filename), tb.lineno))
        seconds = time.monotonic() - started
        made = error is None and isinstance(result, orvel.Aperture) and id(result) not in NAMES
        if made:
            NAMES[id(result)] = len(gen.apertures)
            # Its physical elements, for sensible tables: the apodization line's rows less one.
            gen.apertures.append((result, orvel.xdc_get(result, "apod").shape[0] - 1))
        if opt.trace:
            report.write("T %d %s%s  # %.3f s%s%s\n" % (
                index, "ap[%d] = " % NAMES[id(result)] if made else "", code, seconds,
                ", " + c.mutation if c.mutation else "",
                "  -> %s: %s" % (type(error).__name__, str(error).splitlines()[0][:200])
                if error is not None and str(error) else
                ("  -> %s" % type(error).__name__ if error is not None else "")))
        if error is None:
            if c.name == "orvel.orvel_init":
                gen.initialised, finite = True, args_finite
            elif c.name == "orvel.orvel_end":
                gen.initialised = False
            else:
                finite = min(finite, args_finite)
            if c.name.startswith("im.scan_") and c.name[8:] in (
                    "linear", "phased", "planewave", "planewave_2d", "diverging_2d", "phased_2d"):
                if result:
                    gen.sequences.append(result)
                    del gen.sequences[:-8]
            # scan_convert's NaN outside its sector is documented.
            level = min(finite, args_finite)
            if c.name.startswith("orvel.calc") and nonfinite(result, np):
                finding(report, "nonfinite", index, c, "a calculation returned NaN or Inf")
            elif (level > NONFINITE and c.name not in ("im.scan_convert", "im.scan_convert_3d")
                  and nonfinite(result, np)):
                finding(report, "nonfinite" if level == MODERATE else "nonfinite-huge", index, c,
                        "a result holds NaN or Inf")
            if c.layout_only and error is None and c.name.startswith("orvel.calc"):
                plain = [np.ascontiguousarray(a) if isinstance(a, np.ndarray) else a
                         for a in c.args]
                try:
                    again = c.fn(*plain, **c.kwargs)
                except Exception as e:  # noqa: B902
                    again = e
                if not same(result, again, np):
                    finding(report, "layout", index, c, "the C-ordered arguments give another "
                            "result")
        elif c.name == "orvel.orvel_init" and "already" in str(error):
            gen.initialised = True
        check_apertures(report, index, c, gen, orvel)
    report.write("E %d\n" % opt.calls)
    sys.stdout = sys.__stdout__
    os._exit(0)


def check_apertures(report, index, c, gen, orvel):
    """Every Aperture that claims to be live has its slot defined in the module, and no two
    live Apertures share a slot."""
    slots = {}
    for ap, _ in gen.apertures:
        if ap.freed:
            continue
        if ap.handle in slots:
            finding(report, "stale", index, c, "ap[%d] and ap[%d] both claim slot %d"
                    % (slots[ap.handle], NAMES[id(ap)], ap.handle))
        slots[ap.handle] = NAMES[id(ap)]
        try:
            orvel._orvel.call(1101, float(ap.handle), 0.0, nout=0)
        except orvel.OrvelError as e:
            finding(report, "stale", index, c, "ap[%d] claims to be live: %s"
                    % (NAMES[id(ap)], e))


def finding(report, kind, index, call, detail):
    report.write("F %s\t%d\t%s\t%s\t%s\n" % (kind, index, call.name, detail.replace("\n", " "),
                                             call.code().replace("\n", " ")))


# ---------------------------------------------------------------------------------------------
# The parent: runs segments in children, reports deaths, hangs and findings.

def parent(opt):
    started = time.monotonic()
    findings, expected, seen, deaths = 0, 0, {}, {}
    expect = {k for k in opt.expect.split(",") if k}
    done = 0
    start = opt.start
    env = dict(os.environ)
    # The module refuses results and records beyond 1 GiB: below the sanitizers' cap on one
    # allocation, and a modest share of a shared machine.
    env.setdefault("ORVEL_MEMORY_LIMIT", str(1 << 30))
    me = os.path.abspath(__file__)
    folder = tempfile.mkdtemp(prefix="orvel_fuzz_")  # pictures of show_image
    while start < opt.calls:
        err = tempfile.TemporaryFile()
        cmd = [sys.executable, me, "--child", "--seed", str(opt.seed), "--start", str(start),
               "--calls", str(opt.calls), "--slow", str(opt.slow), "--folder", folder]
        if opt.trace:
            cmd.append("--trace")
        if opt.sanitizer:
            cmd.append("--sanitizer")
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err, env=env,
                                start_new_session=True)
        current, current_code, buffer, hung = start, "(before the first call)", b"", False
        last = time.monotonic()
        while True:
            ready, _, _ = select.select([proc.stdout], [], [], 1.0)
            if ready:
                chunk = os.read(proc.stdout.fileno(), 1 << 16)
                if not chunk:
                    break
                buffer += chunk
                *lines, buffer = buffer.split(b"\n")
                for line in lines:
                    text = line.decode("utf-8", "replace")
                    tag, _, rest = text.partition(" ")
                    if tag == "C":
                        number, _, current_code = rest.partition(" ")
                        current = int(number)
                        done = max(done, current)
                        last = time.monotonic()
                    elif tag == "T":
                        print(rest.split(" ", 1)[1], flush=True)
                    elif tag == "F":
                        kind, index, name, detail, code = rest.split("\t", 4)
                        findings += 1
                        expected += kind in expect
                        key = "%s | %s | %s" % (kind, name, short(detail))
                        seen[key] = seen.get(key, 0) + 1
                        if seen[key] <= opt.show:
                            report_finding(opt, kind, int(index), start, detail, code)
                    elif tag == "E":
                        done = opt.calls
            elif time.monotonic() - last > opt.hang:
                hung = True
                os.killpg(proc.pid, signal.SIGKILL)
        status = proc.wait()
        if done >= opt.calls and status == 0 and not hung:
            break
        # The child died or hung at call current: report it and go on after it.
        err.seek(0)
        tail = err.read().decode("utf-8", "replace").strip().splitlines()[-25:]
        findings += 1
        if hung:
            why = "no call finished within %.0f s; the child was killed" % opt.hang
        elif status < 0:
            why = "the child was killed by signal %d (%s)" % (-status,
                                                               signal.Signals(-status).name)
        else:
            why = "the child exited with code %d" % status
        kind = "hang" if hung else "crash"
        key = "%s | %s | %s" % (kind, current_code.split("(")[0], short(why))
        deaths[key] = deaths.get(key, 0) + 1
        expected += kind in expect
        report_finding(opt, kind, current, start, why, current_code)
        if tail:
            print("  " + "\n  ".join(tail), flush=True)
        done = current + 1
        start = current + 1
    shutil.rmtree(folder, ignore_errors=True)
    seconds = time.monotonic() - started
    if seen or deaths:
        print("Distinct findings (kind | function | detail: count):")
        for key, count in sorted({**seen, **deaths}.items()):
            print("  %s: %d" % (key, count))
    print("fuzz_python: %d calls from seed %d in %.1f s, %d findings%s"
          % (opt.calls - opt.start, opt.seed, seconds, findings,
             " (%d of the expected kinds %s)" % (expected, opt.expect) if expect else ""),
          flush=True)
    return 1 if findings > expected else 0


def short(detail):
    """The part of a finding's detail that tells findings apart: numbers and paths left out."""
    import re

    detail = re.sub(r"\(at [^)]*\)", "", detail)
    detail = re.sub(r"'[^']*'", "'...'", detail)
    return re.sub(r"[-+]?\d[\d.e+-]*", "#", detail)[:160].strip()


def report_finding(opt, kind, index, start, detail, code):
    print("FINDING [%s] seed %d call %d: %s\n  %s\n  replay: %s %s --seed %d --start %d "
          "--calls %d --trace" % (kind, opt.seed, index, detail, code,
                                  os.path.basename(sys.executable),
                                  os.path.relpath(os.path.abspath(__file__)), opt.seed, start,
                                  index + 1), flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--calls", type=int, default=3000, help="run calls start to calls - 1")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--start", type=int, default=0)
    ap.add_argument("--slow", type=float, default=3.0, help="seconds a call may take")
    ap.add_argument("--hang", type=float, default=20.0, help="seconds without a finished call")
    ap.add_argument("--show", type=int, default=3, help="findings printed per distinct kind")
    ap.add_argument("--trace", action="store_true", help="print every call as Python code")
    ap.add_argument("--expect", default="", help="kinds of findings (comma-separated) that are "
                    "listed but do not fail the run")
    ap.add_argument("--sanitizer", action="store_true",
                    help="the sanitizers are preloaded (no address-space limit)")
    ap.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--folder", help=argparse.SUPPRESS)
    opt = ap.parse_args()
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        opt.sanitizer = True
    if opt.child:
        child(opt)
    if opt.trace:
        print(HEADER)
    sys.exit(parent(opt))


if __name__ == "__main__":
    main()
