"""The Orvel commands: one function per script of the Octave layer, over the module _orvel.

Each function checks and shapes its arguments as its Octave script does (points as n x 3,
one value per point as a column, pulses as a row, times and element numbers as columns) and
passes them on with the same command code; the module checks the rest and names what it
refuses.
"""
import itertools
import math
import os
import threading

import numpy as np

from . import _orvel

OrvelError = _orvel.OrvelError

# The apertures made through this package and not freed since: slot -> serial number of the
# Aperture made there. The module reuses a freed slot for the next aperture, so an Aperture
# is live only while its slot still holds its own serial, however the slot was freed (the
# object, a plain int handle, orvel_end, a new initialisation). A serial holds the process
# id: an Aperture unpickled in another process, whose module is another, is never live there.
_live = {}
_serials = itertools.count(1)
# A command and the bookkeeping of the slots it touches as one step, so that another thread
# cannot free or refill a slot between an Aperture's check and the call that uses it.
_slots_lock = threading.RLock()


class Aperture:
    """An aperture defined by one of the xdc_* constructors: its handle and what made it.

    Pass it wherever a command takes a handle Th (a plain int serves too). Once its aperture
    is freed, by xdc_free of this object or of its int handle, by orvel_end or by a new
    orvel_init, it is refused by every command, also when a later aperture has taken its slot.
    As a context manager it frees the aperture on leaving the block, unless it is freed already.
    """

    __slots__ = ("handle", "made_by", "_serial")

    def __init__(self, handle, made_by):
        self.handle = int(handle)  # index in the module's aperture table, from 0
        self.made_by = made_by  # name of the command that made it
        self._serial = (os.getpid(), next(_serials))

    @property
    def freed(self):
        """True once the aperture is gone (xdc_free, orvel_end, orvel_init)."""
        return _live.get(self.handle) != self._serial

    def free(self):
        """Release the aperture, as xdc_free(self)."""
        xdc_free(self)

    def __int__(self):
        if self.freed:
            raise OrvelError("%r has been freed: its slot may hold another aperture now"
                             % self)
        return self.handle

    def __repr__(self):
        state = "freed" if self.freed else "made by " + self.made_by
        return "Aperture(%d, %s)" % (self.handle, state)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        with _slots_lock:
            if not self.freed:
                self.free()
        return False


# Argument checks. Each error text starts with the command's name and names the argument.

def _as_array(x):
    """x as an array of numbers (int, float, complex, or an array of bools), or None when it
    is not one. A lone True or False is refused: it is more likely a slip than a number."""
    if isinstance(x, (str, bytes, bool, np.bool_, Aperture)):
        return None
    try:
        a = np.asarray(x)
    except ValueError:  # a ragged list
        return None
    return a if a.dtype.kind in "biufc" else None


def _describe(x, a):
    """Size and kind of an argument: 'a 3 x 5 array', 'a complex 1-D array of length 4', ..."""
    if a is None:
        if x is None:
            return "None"
        kind = type(x).__name__
        return ("an " if kind[0] in "aeiouAEIOU" else "a ") + kind
    cplx = "complex " if a.dtype.kind == "c" else ""
    if a.ndim == 0:
        return "a single %snumber" % cplx
    if a.ndim == 1:
        return "a %s1-D array of length %d" % (cplx, a.size)
    return "a %s %sarray" % (" x ".join(str(d) for d in a.shape), cplx)


def _is_real(a):
    return a is not None and a.dtype.kind in "biuf"


def _is_vector(a):
    return a.ndim <= 1 or (a.ndim == 2 and 1 in a.shape) or a.size == 0


def _num(cmd, name, x):
    """A number or a matrix of numbers as float64 (bool and int too); a single number as a float."""
    a = _as_array(x)
    if not _is_real(a):
        raise TypeError("%s: %s must be numeric (real numbers), but is %s"
                        % (cmd, name, _describe(x, a)))
    if a.ndim > 2:
        raise ValueError("%s: %s must be a number, a vector or a matrix, but is %s"
                         % (cmd, name, _describe(x, a)))
    return float(a) if a.ndim == 0 else np.asarray(a, dtype=np.float64)


def _handle(cmd, name, th):
    """An Aperture as it is (checked when the command runs, _call), or a number."""
    return th if isinstance(th, Aperture) else _num(cmd, name, th)


def _column(cmd, name, x):
    """Values as an n x 1 column (times, element numbers), taken in column order."""
    a = _num(cmd, name, x)
    return np.reshape(a, (-1, 1), order="F")


def _point(cmd, name, p):
    """One point [x y z], given as 3 real numbers in any shape, as a 1 x 3 row."""
    a = _as_array(p)
    if _is_real(a) and a.size == 3:
        return np.asarray(a, dtype=np.float64).reshape(1, 3)
    error = ValueError if _is_real(a) else TypeError
    raise error("%s: %s must be one point [x y z] (3 real numbers), but is %s"
                % (cmd, name, _describe(p, a)))


def _points(cmd, name, x, per="point"):
    """A table of points, one row [x y z] per point, as float64, and its row count.

    Empty is no points; a vector of 3 values (or a 3 x 1 column) is one point. A 3 x n array
    most likely holds one point per column, so its error text suggests transposing it.
    """
    a = _as_array(x)
    if _is_real(a):
        if a.size == 0:
            return np.zeros((0, 3)), 0
        if a.shape in ((3,), (3, 1)):
            return np.asarray(a, dtype=np.float64).reshape(1, 3), 1
        if a.ndim == 2 and a.shape[1] == 3:
            return np.asarray(a, dtype=np.float64), a.shape[0]
    hint = ""
    if _is_real(a) and a.ndim == 2 and a.shape[0] == 3:
        hint = "; transpose it (%s.T)" % name
    error = ValueError if _is_real(a) else TypeError
    raise error("%s: %s must be an n x 3 real array (one row [x y z] per %s), but is %s%s"
                % (cmd, name, per, _describe(x, a), hint))


def _values(cmd, name, v, n, per="point"):
    """One value per item (a 1-D array, a row or a column) as an n x 1 column."""
    a = _as_array(v)
    if _is_real(a) and _is_vector(a) and a.size == n:
        return np.asarray(a, dtype=np.float64).reshape(n, 1)
    if _is_real(a) and _is_vector(a):
        got = "%d received" % a.size
    else:
        got = "received " + _describe(v, a)
    error = ValueError if _is_real(a) else TypeError
    raise error("%s: %s must hold one value per %s: %d expected, %s" % (cmd, name, per, n, got))


def _samples(cmd, name, x):
    """A pulse given as a 1-D array, a row or a column, as a 1 x n row."""
    a = _as_array(x)
    if not _is_real(a):
        raise TypeError("%s: %s must be a row or a column of real samples, but is %s"
                        % (cmd, name, _describe(x, a)))
    if not _is_vector(a):
        raise ValueError("%s: %s must be a row or a column of samples, but is %s"
                         % (cmd, name, _describe(x, a)))
    return np.asarray(a, dtype=np.float64).reshape(1, a.size)


# Calls of the module.

def _call(cmd, code, *args, nout):
    """Orvel_mex(code, args...) with nout results; Apertures among args as their handles,
    refused once freed (its slot may hold another aperture by now)."""
    with _slots_lock:
        for a in args:
            if isinstance(a, Aperture) and a.freed:
                raise OrvelError("%s: %r has been freed (xdc_free or orvel_end); make a new one"
                                 % (cmd, a))
        return _orvel.call(code, *[a.handle if isinstance(a, Aperture) else a for a in args],
                           nout=nout)


def _new(cmd, code, *args):
    with _slots_lock:
        (th,) = _call(cmd, code, *args, nout=1)
        ap = Aperture(int(th[0, 0]), cmd)
        _live[ap.handle] = ap._serial
        return ap


def _calc(cmd, code, *args):
    signals, start_time = _call(cmd, code, *args, nout=2)
    return signals, float(start_time[0, 0])


def _set(cmd, code, *args):
    _call(cmd, code, *args, nout=0)


def _per_element(cmd, name, th, table):
    """Refuses a time-line table (a number, a row, or rows) without one column per physical
    element of th: the module's own text gives no counts. The count is the height of the
    aperture's apodization time line (xdc_get type 5) less its row of times."""
    (info,) = _call(cmd, 1101, th, 5.0, nout=1)
    n = info.shape[0] - 1
    got = 1 if np.ndim(table) == 0 else np.shape(table)[-1]
    if got != n:
        raise ValueError("%s: %s must have one column per physical element: %d expected, "
                         "%d received" % (cmd, name, n, got))
    return table


# Transducers

def xdc_linear_array(no_elements, width, height, kerf, no_sub_x, no_sub_y, focus):
    c = "xdc_linear_array"
    return _new(c, 1001, _num(c, "no_elements", no_elements), _num(c, "width", width),
                _num(c, "height", height), _num(c, "kerf", kerf), _num(c, "no_sub_x", no_sub_x),
                _num(c, "no_sub_y", no_sub_y), _point(c, "focus", focus))


def xdc_2d_array(no_ele_x, no_ele_y, width, height, kerf_x, kerf_y, enabled, no_sub_x,
                 no_sub_y, focus):
    c = "xdc_2d_array"
    return _new(c, 1002, _num(c, "no_ele_x", no_ele_x), _num(c, "no_ele_y", no_ele_y),
                _num(c, "width", width), _num(c, "height", height), _num(c, "kerf_x", kerf_x),
                _num(c, "kerf_y", kerf_y), _num(c, "enabled", enabled),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_focused_array(no_elements, width, height, kerf, Rfocus, no_sub_x, no_sub_y, focus):
    c = "xdc_focused_array"
    return _new(c, 1003, _num(c, "no_elements", no_elements), _num(c, "width", width),
                _num(c, "height", height), _num(c, "kerf", kerf), _num(c, "Rfocus", Rfocus),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_convex_array(no_elements, width, height, kerf, Rconvex, no_sub_x, no_sub_y, focus):
    c = "xdc_convex_array"
    return _new(c, 1004, _num(c, "no_elements", no_elements), _num(c, "width", width),
                _num(c, "height", height), _num(c, "kerf", kerf), _num(c, "Rconvex", Rconvex),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_convex_focused_array(no_elements, width, height, kerf, Rconvex, Rfocus, no_sub_x,
                             no_sub_y, focus):
    c = "xdc_convex_focused_array"
    return _new(c, 1005, _num(c, "no_elements", no_elements), _num(c, "width", width),
                _num(c, "height", height), _num(c, "kerf", kerf), _num(c, "Rconvex", Rconvex),
                _num(c, "Rfocus", Rfocus), _num(c, "no_sub_x", no_sub_x),
                _num(c, "no_sub_y", no_sub_y), _point(c, "focus", focus))


def xdc_piston(radius, ele_size):
    c = "xdc_piston"
    return _new(c, 1010, _num(c, "radius", radius), _num(c, "ele_size", ele_size))


def xdc_concave(radius, focal_radius, ele_size):
    c = "xdc_concave"
    return _new(c, 1011, _num(c, "radius", radius), _num(c, "focal_radius", focal_radius),
                _num(c, "ele_size", ele_size))


def xdc_linear_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, no_sub_x,
                        no_sub_y, focus):
    c = "xdc_linear_multirow"
    return _new(c, 1012, _num(c, "no_elem_x", no_elem_x), _num(c, "width", width),
                _num(c, "no_ele_y", no_ele_y), _num(c, "heights", heights),
                _num(c, "kerf_x", kerf_x), _num(c, "kerf_y", kerf_y),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, Rfocus,
                         no_sub_x, no_sub_y, focus):
    c = "xdc_focused_multirow"
    return _new(c, 1013, _num(c, "no_elem_x", no_elem_x), _num(c, "width", width),
                _num(c, "no_ele_y", no_ele_y), _num(c, "heights", heights),
                _num(c, "kerf_x", kerf_x), _num(c, "kerf_y", kerf_y), _num(c, "Rfocus", Rfocus),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_convex_focused_multirow(no_elem_x, width, no_ele_y, heights, kerf_x, kerf_y, Rconvex,
                                Rfocus, no_sub_x, no_sub_y, focus):
    c = "xdc_convex_focused_multirow"
    return _new(c, 1014, _num(c, "no_elem_x", no_elem_x), _num(c, "width", width),
                _num(c, "no_ele_y", no_ele_y), _num(c, "heights", heights),
                _num(c, "kerf_x", kerf_x), _num(c, "kerf_y", kerf_y),
                _num(c, "Rconvex", Rconvex), _num(c, "Rfocus", Rfocus),
                _num(c, "no_sub_x", no_sub_x), _num(c, "no_sub_y", no_sub_y),
                _point(c, "focus", focus))


def xdc_triangles_old(corners, apo, center, apo_element):
    c = "xdc_triangles_old"
    return _new(c, 1020, _num(c, "corners", corners), _num(c, "apo", apo),
                _point(c, "center", center), _num(c, "apo_element", apo_element))


def _table_aperture(c, code, table, name, center, focus):
    """An aperture from a table of elements, the centres of its physical elements and a focus."""
    center = _points(c, "center", center, "physical element")[0]
    return _new(c, code, _num(c, name, table), center, _point(c, "focus", focus))


def xdc_rectangles(rect, center, focus):
    return _table_aperture("xdc_rectangles", 1021, rect, "rect", center, focus)


def xdc_line_elements(data, center, focus):
    return _table_aperture("xdc_line_elements", 1022, data, "data", center, focus)


def xdc_triangles(data, center, focus):
    return _table_aperture("xdc_triangles", 1023, data, "data", center, focus)


def xdc_free(Th):
    c = "xdc_free"
    th = _handle(c, "Th", Th)
    with _slots_lock:
        _set(c, 1040, th)
        # The slot the module freed: the handle rounded as the module rounds it.
        slot = th.handle if isinstance(th, Aperture) else int(np.floor(np.ravel(th)[0] + 0.5))
        _live.pop(slot, None)


# Settings of apertures

def xdc_convert(Th):
    c = "xdc_convert"
    _set(c, 1030, _handle(c, "Th", Th))


def xdc_line_convert(Th):
    c = "xdc_line_convert"
    _set(c, 1031, _handle(c, "Th", Th))


def xdc_impulse(Th, pulse):
    c = "xdc_impulse"
    _set(c, 1050, _handle(c, "Th", Th), _samples(c, "pulse", pulse))


def xdc_excitation(Th, pulse):
    c = "xdc_excitation"
    _set(c, 1051, _handle(c, "Th", Th), _samples(c, "pulse", pulse))


def xdc_focus(Th, times, points):
    c = "xdc_focus"
    points = _points(c, "points", points)[0]
    _set(c, 1060, _handle(c, "Th", Th), _column(c, "times", times), points)


def xdc_focus_delays(Th, times, delays):
    c = "xdc_focus_delays"
    th = _handle(c, "Th", Th)
    delays = _per_element(c, "delays", th, _num(c, "delays", delays))
    _set(c, 1061, th, _column(c, "times", times), delays)


def xdc_dynamic_focusing(Th, time, dir_xz, dir_yz):
    c = "xdc_dynamic_focusing"
    _set(c, 1062, _handle(c, "Th", Th), _num(c, "time", time), _num(c, "dir_xz", dir_xz),
         _num(c, "dir_yz", dir_yz))


def xdc_center_focus(Th, point):
    c = "xdc_center_focus"
    _set(c, 1063, _handle(c, "Th", Th), _point(c, "point", point))


def xdc_quantization(Th, value):
    c = "xdc_quantization"
    _set(c, 1065, _handle(c, "Th", Th), _num(c, "value", value))


def xdc_baffle(Th, soft_baffle):
    c = "xdc_baffle"
    _set(c, 1066, _handle(c, "Th", Th), _num(c, "soft_baffle", soft_baffle))


def xdc_apodization(Th, times, apo):
    c = "xdc_apodization"
    th = _handle(c, "Th", Th)
    apo = _per_element(c, "apo", th, _num(c, "apo", apo))
    _set(c, 1070, th, _column(c, "times", times), apo)


def ele_apodization(Th, element_no, apo):
    c = "ele_apodization"
    _set(c, 1080, _handle(c, "Th", Th), _column(c, "element_no", element_no), _num(c, "apo", apo))


def ele_delay(Th, element_no, delays):
    c = "ele_delay"
    _set(c, 1081, _handle(c, "Th", Th), _column(c, "element_no", element_no),
         _num(c, "delays", delays))


def ele_waveform(Th, element_no, samples):
    c = "ele_waveform"
    _set(c, 1082, _handle(c, "Th", Th), _column(c, "element_no", element_no),
         _num(c, "samples", samples))


def xdc_show(Th, info_type="all"):
    c = "xdc_show"
    if isinstance(info_type, str):
        names = ("all", "elements", "focus", "apod")
        if info_type.lower() not in names:
            raise ValueError("xdc_show: info_type must be 'all', 'elements', 'focus' or 'apod'")
        info_type = names.index(info_type.lower())
    _set(c, 1100, _handle(c, "Th", Th), _num(c, "info_type", info_type))


def xdc_get(Th, info_type="rect"):
    c = "xdc_get"
    if isinstance(info_type, str):
        names = ("rect", "tri", "lin", "focus", "apod")
        if info_type.lower() not in names:
            raise ValueError("xdc_get: info_type must be 'rect', 'tri', 'lin', 'focus' or "
                             "'apod' (or a number from 1 to 5), but is '%s'" % info_type)
        info_type = names.index(info_type.lower()) + 1
    th, info_type = _handle(c, "Th", Th), _num(c, "info_type", info_type)
    if isinstance(info_type, float) and info_type in (1, 2, 3, 4, 5):
        (info,) = _call(c, 1101, th, info_type, nout=1)
        if info is not None:
            return info
    else:
        # Another number gives nothing; the module still checks the handle and the type.
        _set(c, 1101, th, info_type)
    return np.zeros((0, 0))


# Calculations

def calc_h(Th, points):
    c = "calc_h"
    return _calc(c, 4001, _handle(c, "Th", Th), _points(c, "points", points)[0])


def calc_hp(Th, points):
    c = "calc_hp"
    return _calc(c, 4002, _handle(c, "Th", Th), _points(c, "points", points)[0])


def calc_hhp(Th1, Th2, points):
    c = "calc_hhp"
    return _calc(c, 4003, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2),
                 _points(c, "points", points)[0])


def _scatterers(c, points, amplitudes):
    points, n = _points(c, "points", points)
    return points, _values(c, "amplitudes", amplitudes, n), n


def calc_scat(Th1, Th2, points, amplitudes):
    c = "calc_scat"
    points, amplitudes, _ = _scatterers(c, points, amplitudes)
    scat, start_time = _calc(c, 4005, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points,
                             amplitudes)
    return scat.reshape(-1), start_time


def calc_scat_multi(Th1, Th2, points, amplitudes):
    c = "calc_scat_multi"
    points, amplitudes, _ = _scatterers(c, points, amplitudes)
    return _calc(c, 4006, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points, amplitudes)


def calc_scat_all(Th1, Th2, points, amplitudes, dec_factor):
    c = "calc_scat_all"
    points, amplitudes, _ = _scatterers(c, points, amplitudes)
    return _calc(c, 4007, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points, amplitudes,
                 _num(c, "dec_factor", dec_factor))


def calc_hp_non_linear(Th, points, distances):
    c = "calc_hp_non_linear"
    points, n = _points(c, "points", points)
    return _calc(c, 4012, _handle(c, "Th", Th), points, _values(c, "distances", distances, n))


def calc_hhp_non_linear(Th1, Th2, points, distances):
    c = "calc_hhp_non_linear"
    points, n = _points(c, "points", points)
    return _calc(c, 4013, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points,
                 _values(c, "distances", distances, n))


def calc_scat_non_linear(Th1, Th2, points, amplitudes, distances):
    c = "calc_scat_non_linear"
    points, amplitudes, n = _scatterers(c, points, amplitudes)
    scat, start_time = _calc(c, 4014, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points,
                             amplitudes, _values(c, "distances", distances, n))
    return scat.reshape(-1), start_time


def calc_scat_multi_non_linear(Th1, Th2, points, amplitudes, distances):
    c = "calc_scat_multi_non_linear"
    points, amplitudes, n = _scatterers(c, points, amplitudes)
    return _calc(c, 4015, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2), points, amplitudes,
                 _values(c, "distances", distances, n))


def _quantities(cmd, quantities):
    """The quantity list of a field map as the module takes it: the comma-separated names, the
    cw frequency (None when not given) and the column names in order. quantities is a name,
    or a list (tuple) of names and at most one ("cw", f); a ("cw", f) in a list naming neither
    cw quantity stands for both, in its place. The module checks the names themselves."""
    def is_cw(q):
        return isinstance(q, tuple) and len(q) == 2 and isinstance(q[0], str) \
            and q[0].lower() == "cw"
    if isinstance(quantities, str) or is_cw(quantities):
        quantities = [quantities]
    if not isinstance(quantities, (list, tuple)):
        raise TypeError("%s: quantities must be a name or a list of names (and (\"cw\", f)), "
                        "but is %s" % (cmd, type(quantities).__name__))
    columns, f, cw_at = [], None, 0
    for k, q in enumerate(quantities):
        if isinstance(q, str):
            columns.append(q.strip().lower())
        elif is_cw(q):
            if f is not None:
                raise ValueError("%s: the quantities give (\"cw\", f) more than once" % cmd)
            f, cw_at = _num(cmd, "the cw frequency", q[1]), len(columns)
            if not isinstance(f, float):
                raise ValueError("%s: the cw frequency must be one number [Hz]" % cmd)
        else:
            raise TypeError("%s: item %d of the quantities must be a name or (\"cw\", f), but "
                            "is %r" % (cmd, k + 1, q))
    if f is not None and not {"cw_amplitude", "cw_phase"} & set(columns):
        columns[cw_at:cw_at] = ["cw_amplitude", "cw_phase"]
    return ",".join(columns), f, columns


def _map(cmd, code, *args, quantities):
    names, f, columns = _quantities(cmd, quantities)
    (m,) = _call(cmd, code, *args, names, *(() if f is None else (f,)), nout=1)
    return {name: np.ascontiguousarray(m[:, k]) for k, name in enumerate(columns)}


def calc_hp_map(Th, points, quantities):
    c = "calc_hp_map"
    return _map(c, 7002, _handle(c, "Th", Th), _points(c, "points", points)[0],
                quantities=quantities)


def calc_hhp_map(Th1, Th2, points, quantities):
    c = "calc_hhp_map"
    return _map(c, 7003, _handle(c, "Th1", Th1), _handle(c, "Th2", Th2),
                _points(c, "points", points)[0], quantities=quantities)


# Image formation

_WINDOWS = {"hann": 1, "tukey": 2, "boxcar": 3}
_INTERPOLATIONS = {"linear": 1, "cubic": 2}


def das_image(rf, t0, fs, c, lag, elements, points, transmits, f_number=2.0, window="hann",
              tukey_alpha=0.5, interpolation="linear", per_transmit=False):
    c_ = "das_image"
    a = _as_array(rf)
    if not _is_real(a) or a.ndim not in (2, 3):
        raise ValueError("%s: rf must be a real samples x elements (x transmits) array, but is %s"
                         % (c_, _describe(rf, a)))
    rf = np.asarray(a, dtype=np.float64).reshape(a.shape[0], int(np.prod(a.shape[1:])),
                                                 order="F")
    if window not in _WINDOWS:
        raise ValueError("%s: window must be one of %s, but is %r" % (c_, ", ".join(_WINDOWS),
                                                                       window))
    if interpolation not in _INTERPOLATIONS:
        raise ValueError("%s: interpolation must be one of %s, but is %r"
                         % (c_, ", ".join(_INTERPOLATIONS), interpolation))
    options = [_num(c_, "f_number", f_number), _WINDOWS[window], _num(c_, "tukey_alpha",
               tukey_alpha), _INTERPOLATIONS[interpolation], 1.0 if per_transmit else 0.0]
    transmits = _num(c_, "transmits", transmits)
    transmits = np.reshape(transmits, (-1, 8)) if np.ndim(transmits) == 1 else transmits
    (image,) = _call(c_, 7010, rf, _num(c_, "t0", t0), _num(c_, "fs", fs), _num(c_, "c", c),
                     _num(c_, "lag", lag), _points(c_, "elements", elements, "element")[0],
                     _points(c_, "points", points)[0], transmits,
                     np.array(options).reshape(1, 5), nout=1)
    return image if per_transmit else image.reshape(-1)


# Slow-time processing: complex data go to the module as real and imaginary parts, G signals
# of N firings (slow time the last axis).

def _slow_time(cmd, iq):
    a = _as_array(iq)
    if a is None or a.ndim == 0:
        raise TypeError("%s: iq must be an array of numbers (complex or real) with slow time "
                        "along its last axis, but is %s" % (cmd, _describe(iq, a)))
    x = np.asarray(a, dtype=np.complex128)
    x = x.reshape(-1, x.shape[-1])
    return np.ascontiguousarray(x.real), np.ascontiguousarray(x.imag), a.shape[:-1]


def iq_demodulate(rf, t0, fs, f0, cutoff=None, decimation=1):
    """IQ (baseband) signals of RF data along its first axis (fast time).

    rf          real RF, fast time along the first axis (any further axes), sample n at
                t0 + n/fs
    t0 [s], fs [Hz], f0 [Hz] the demodulation frequency
    cutoff      the low-pass cutoff [Hz], 0 < cutoff < fs/2 (default f0)
    decimation  keep every decimation-th sample from the first (whole, >= 1)

    Each signal is mixed, m_n = 2 x_n exp(-i 2 pi f0 t_n), low-passed by the FIR of 2K + 1
    taps, K = ceil(2 fs / cutoff), h_k = (2 cutoff / fs) sinc(2 cutoff k / fs) (0.5 + 0.5
    cos(pi k / (K + 1))) normalised to unit sum, centred (the signal taken as 0 beyond its
    ends), and decimated. Returns (iq, t0_iq, fs_iq): complex, ceil(samples / decimation)
    rows; t0_iq = t0, fs_iq = fs / decimation.
    """
    c_ = "iq_demodulate"
    a = _as_array(rf)
    if not _is_real(a) or a.ndim == 0:
        raise TypeError("%s: rf must be a real array, fast time along its first axis, but is %s"
                        % (c_, _describe(rf, a)))
    t0, fs, f0 = _num(c_, "t0", t0), _num(c_, "fs", fs), _num(c_, "f0", f0)
    cutoff = f0 if cutoff is None else _num(c_, "cutoff", cutoff)
    decimation = _num(c_, "decimation", decimation)
    x = np.asarray(a, dtype=np.float64)
    shape = x.shape
    x = x.reshape(shape[0], -1, order="F")
    if x.size == 0:
        raise ValueError("%s: rf must hold at least one value, but is %s"
                         % (c_, _describe(rf, a)))
    re, im = _call(c_, 7011, x, t0, fs, f0, cutoff, decimation, nout=2)
    iq = (re + 1j * im).reshape((re.shape[0],) + shape[1:], order="F")
    return iq, t0, fs / decimation


def clutter_filter(iq, method, parameter):
    """Clutter (wall) filter along slow time, the last axis of iq (N firings).

    'polynomial', parameter = order p (whole, >= 0, N > p + 1): removes the least-squares
        polynomial of degree p in the firing index; N samples out.
    'fir', parameter = cutoff / prf in (0, 0.5): the high-pass delta - h of 2K + 1 taps,
        K = ceil(0.5 / cutoff), h_k = 2 cutoff sinc(2 cutoff k) (0.5 + 0.5 cos(pi k /
        (K + 1))) normalised to unit sum; only the fully overlapped outputs, N - 2K samples
        (N >= 2K + 2).
    Returns a complex array of iq's shape with the last axis as above.
    """
    c_ = "clutter_filter"
    codes = {"polynomial": 1, "fir": 2}
    if method not in codes:
        raise ValueError("%s: method must be 'polynomial' or 'fir', but is %r" % (c_, method))
    re, im, front = _slow_time(c_, iq)
    re, im = _call(c_, 7012, re, im, float(codes[method]), _num(c_, "parameter", parameter),
                   nout=2)
    return (re + 1j * im).reshape(front + (re.shape[1],))


def color_flow(iq, prf, f0, c):
    """Lag-one estimates along slow time, the last axis of iq (N >= 2 firings).

    R0 = mean |x_n|^2, R1 = mean conj(x_n) x_{n+1}:
    velocity = c prf / (4 pi f0) angle(R1) [m/s], positive towards the transducer (depth
    decreasing), aliasing beyond +-c prf / (4 f0); power = R0; variance = 2 prf^2 (1 -
    |R1| / R0) [Hz^2]; velocity and variance 0 where R0 = 0.
    Returns (velocity, power, variance), each of iq's shape without its last axis.
    """
    c_ = "color_flow"
    re, im, front = _slow_time(c_, iq)
    (m,) = _call(c_, 7013, re, im, _num(c_, "prf", prf), _num(c_, "f0", f0), _num(c_, "c", c),
                 nout=1)
    return tuple(np.ascontiguousarray(m[:, k]).reshape(front) for k in range(3))


def doppler_spectrum(iq, prf, f0, c, window_length, overlap=None, nfft=None):
    """Spectral Doppler of a range gate: iq of shape (gate samples, N) or (N,).

    Windows of L = window_length firings (periodic Hann, w_k = 0.5 - 0.5 cos(2 pi k / L))
    every L - overlap firings (overlap default L // 2), zero padded to nfft (default L); each
    bin's power summed over the gate; bins from -prf/2 upwards.
    Returns (spectrum, times, velocities): spectrum of shape (nfft, M); times [s], the
    windows' centres (m H + (L - 1) / 2) / prf; velocities [m/s], c f_j / (2 f0) with f_j =
    (j - nfft // 2) prf / nfft, positive towards the transducer.
    """
    c_ = "doppler_spectrum"
    a = _as_array(iq)
    if a is not None and a.ndim > 2:
        raise ValueError("%s: iq must be one gate, (gate samples, N) or (N,), but is %s"
                         % (c_, _describe(iq, a)))
    re, im, _ = _slow_time(c_, iq)
    L = _num(c_, "window_length", window_length)
    overlap = (L // 2 if isinstance(L, float) else L) if overlap is None else overlap
    overlap = _num(c_, "overlap", overlap)
    nfft = L if nfft is None else _num(c_, "nfft", nfft)
    prf, f0, c = _num(c_, "prf", prf), _num(c_, "f0", f0), _num(c_, "c", c)
    # Only the scales use them (the core sees neither), so they are checked here, as in Octave.
    for name, value, unit in (("prf", prf, "Hz"), ("f0", f0, "Hz"), ("c", c, "m/s")):
        if not (isinstance(value, float) and 0 < value < math.inf):
            raise ValueError("%s: %s must be a positive finite number [%s]" % (c_, name, unit))
    (spectrum,) = _call(c_, 7014, re, im, L, overlap, nfft, nout=1)
    hop = L - overlap
    times = (np.arange(spectrum.shape[1]) * hop + (L - 1) / 2) / prf
    n = int(nfft)
    velocities = c * ((np.arange(n) - n // 2) * prf / nfft) / (2 * f0)
    return spectrum, times, velocities


# General commands

def orvel_init(mode=0):
    c = "orvel_init"
    mode = _num(c, "mode", mode)
    with _slots_lock:
        _set(c, 5001, mode)
        _live.clear()  # a new system holds no apertures


def orvel_end():
    with _slots_lock:
        try:
            _set("orvel_end", 5002)
        finally:
            _live.clear()


def orvel_debug(flag):
    _set("orvel_debug", 5010, _num("orvel_debug", "flag", flag))


def set_sampling(fs):
    _set("set_sampling", 5020, _num("set_sampling", "fs", fs))


# The options of set_option, as its help lists them; the module compares lower-cased names.
_OPTIONS = ("c", "fs", "use_att", "att", "freq_att", "att_f0", "tau_m", "z", "BdivA", "dz", "rho",
            "debug", "accurate_time_calc", "fast_integration", "show_times", "use_rectangles",
            "use_triangles", "use_lines", "threads")


def set_option(name, value):
    c = "set_option"
    if not isinstance(name, str):
        a = _as_array(name)
        raise TypeError("set_option: name must be the option's name as a str, but is %s"
                        % _describe(name, a))
    # The module lower-cases ASCII letters only and names no valid option when it finds none.
    if not (name.isascii() and name.lower() in (o.lower() for o in _OPTIONS)):
        raise ValueError("set_option: name must be one of %s (in any case), but is '%s'"
                         % (", ".join(_OPTIONS), name))
    _set(c, 5050, name, _num(c, "value", value))


def orvel_info():
    _set("orvel_info", 5051)


def get_option(name):
    """The value in force of the option name (a set_option name, fs included) as a float:
    the double the module holds, not the rounded text of orvel_info."""
    if not isinstance(name, str):
        raise TypeError("get_option: name must be the option's name as a str, but is %s"
                        % _describe(name, _as_array(name)))
    (value,) = _call("get_option", 7001, name, nout=1)
    return float(value[0, 0])


_LOGO = (
    r"      ___                  _ ",
    r"     / _ \ _ ____   _____| |",
    r"    | | | | '__\ \ / / _ \ |",
    r"    | |_| | |   \ V /  __/ |",
    r"     \___/|_|    \_/ \___|_|",
    r"                             ",
    r"     ultrasound fields by spatial impulse responses",
)


def orvel_logo():
    print("\n".join(_LOGO))


__all__ = [
    "xdc_linear_array", "xdc_2d_array", "xdc_focused_array", "xdc_convex_array",
    "xdc_convex_focused_array", "xdc_piston", "xdc_concave", "xdc_linear_multirow",
    "xdc_focused_multirow", "xdc_convex_focused_multirow", "xdc_triangles_old",
    "xdc_rectangles", "xdc_line_elements", "xdc_triangles", "xdc_free",
    "xdc_convert", "xdc_line_convert", "xdc_impulse", "xdc_excitation", "xdc_focus",
    "xdc_focus_delays", "xdc_dynamic_focusing", "xdc_center_focus", "xdc_quantization",
    "xdc_baffle", "xdc_apodization", "ele_apodization", "ele_delay", "ele_waveform",
    "xdc_show", "xdc_get",
    "calc_h", "calc_hp", "calc_hhp", "calc_scat", "calc_scat_multi", "calc_scat_all",
    "calc_hp_non_linear", "calc_hhp_non_linear", "calc_scat_non_linear",
    "calc_scat_multi_non_linear", "calc_hp_map", "calc_hhp_map", "das_image",
    "iq_demodulate", "clutter_filter", "color_flow", "doppler_spectrum",
    "orvel_init", "orvel_end", "orvel_debug", "set_sampling", "set_option", "orvel_info",
    "get_option", "orvel_logo",
]
