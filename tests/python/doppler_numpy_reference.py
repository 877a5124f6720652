"""The Doppler processing of orvel.imaging written in numpy from its documented formulas (help
orvel.iq_demodulate, clutter_filter, color_flow, doppler_spectrum): the reference the core's
commands are tested against, and nothing else uses it."""
import math

import numpy as np

from orvel.imaging import _array, _scalar, _within_memory

# Doppler processing: fast time (depth) along the first axis, slow time (the firings of an
# ensemble) along the last. Velocities are axial, positive towards the transducer (depth
# decreasing), as colour-flow displays show them.

_LONGEST = 10 ** 7  # most taps on either side of a filter's centre, and longest FFT


def _complex(fn, name, value):
    """Finite real or complex numbers as complex128 (any number of dimensions)."""
    try:
        a = np.asarray(value)
    except ValueError:
        a = None
    if a is None or isinstance(value, (str, bytes)) or a.dtype.kind not in "biufc":
        raise TypeError("%s: %s must be numbers, but is %s" % (fn, name, type(value).__name__))
    a = a.astype(np.complex128)
    if not np.isfinite(a).all():
        raise ValueError("%s: %s must hold finite values" % (fn, name))
    return a


def _whole(fn, name, value, lo, hi=None, what=""):
    """A whole number from lo to hi (no upper limit when hi is None), as an int."""
    v = _scalar(fn, name, value, whole=True)
    if v < lo or (hi is not None and v > hi):
        within = "from %d to %d" % (lo, hi) if hi is not None else ">= %d" % lo
        raise ValueError("%s: %s must be a whole number %s%s, but is %g"
                         % (fn, name, within, what, v))
    return int(v)


def _overflow(fn, what, *results):
    """Refuses results that left the range of doubles (the inputs being finite)."""
    if not all(np.isfinite(r).all() for r in results):
        raise ValueError("%s: %s overflow the range of numbers; scale the input down" % (fn, what))


def _windowed_sinc(cutoff, rate, half):
    """The low-pass FIR of 2*half + 1 taps for a cutoff at the sampling rate given (in the same
    unit): the ideal response (2 cutoff / rate) sinc(2 cutoff k / rate) under a Hann window that
    reaches 0 one tap beyond each end, k = -half .. half, normalised to a gain of 1 at zero
    frequency."""
    k = np.arange(-half, half + 1)
    h = ((2 * cutoff / rate) * np.sinc(2 * cutoff * k / rate)
         * (0.5 + 0.5 * np.cos(np.pi * k / (half + 1))))
    return h / h.sum()


@_within_memory
def iq_demodulate(rf, t0, fs, f0, cutoff=None, decimation=1):
    """Complex baseband (IQ) signals of RF data, along the first axis.

    rf          RF signals, samples along the first axis, any number of dimensions
    t0, fs      time of rf's first row [s], sampling frequency [Hz]: row n is at
                t_n = t0 + n/fs
    f0          demodulation frequency [Hz], > 0 (the pulse's centre frequency)
    cutoff      the low-pass filter's cutoff fc [Hz], 0 < fc < fs/2 (default f0)
    decimation  D, whole number >= 1: every D-th filtered sample kept

    1. Mix: m_n = 2 x_n exp(-i 2 pi f0 t_n).
    2. Low-pass: the FIR of 2K + 1 taps, K = ceil(2 fs / fc), h_k = (2 fc / fs)
       sinc(2 fc k / fs) (0.5 + 0.5 cos(pi k / (K + 1))), k = -K .. K, sinc(x) =
       sin(pi x)/(pi x), then divided by its sum; centred: y_n = sum_k h_k m_{n-k}, m taken
       as 0 outside the signal.
    3. Decimate: y_0, y_D, y_2D, ...
    Returns (iq, t0_iq, fs_iq): complex iq with ceil(samples / D) rows and rf's other axes,
    t0_iq = t0 (the time of its first row) [s], fs_iq = fs / D [Hz]. An echo from depth d
    has the phase -4 pi f0 d / c: a scatterer moving towards the transducer turns it forward
    from firing to firing.
    """
    fn = "iq_demodulate"
    rf = _array(fn, "rf", rf)
    if not np.isfinite(rf).all():
        raise ValueError("%s: rf must hold finite values" % fn)
    if rf.ndim == 0:
        rf = rf.reshape(1)
    t0 = _scalar(fn, "t0", t0)
    fs = _scalar(fn, "fs", fs, positive=True)
    f0 = _scalar(fn, "f0", f0, positive=True)
    fc = f0 if cutoff is None else _scalar(fn, "cutoff", cutoff)
    if not 0 < fc < fs / 2:
        raise ValueError("%s: cutoff must lie between 0 and fs/2 = %g Hz, but is %g"
                         % (fn, fs / 2, fc))
    decimation = _whole(fn, "decimation", decimation, 1)
    if not 2 * fs / fc <= _LONGEST:
        raise ValueError("%s: a cutoff of %g Hz needs a filter of 2 * ceil(2 fs / cutoff) + 1 "
                         "taps, more than %d; the cutoff must be at least fs / %d"
                         % (fn, fc, 2 * _LONGEST + 1, _LONGEST // 2))
    half = math.ceil(2 * fs / fc)
    h = _windowed_sinc(fc, fs, half)
    n = rf.shape[0]
    shape = (n,) + (1,) * (rf.ndim - 1)
    with np.errstate(over="ignore", invalid="ignore"):
        t = t0 + np.arange(n) / fs
        m = 2 * rf * np.exp(-1j * 2 * np.pi * f0 * t).reshape(shape)
        # Taps further than n - 1 from the centre meet only the zeros outside the signal.
        reach = min(half, n - 1)
        padded = np.zeros((n + 2 * reach,) + rf.shape[1:], dtype=np.complex128)
        padded[reach:reach + n] = m
        iq = np.zeros(((n + decimation - 1) // decimation,) + rf.shape[1:],
                      dtype=np.complex128)
        for k in range(-reach, reach + 1):
            iq += h[half + k] * padded[reach - k:reach - k + n:decimation]
    _overflow(fn, "the IQ signals", iq)
    return iq, t0, fs / decimation


@_within_memory
def clutter_filter(iq, method, parameter):
    """Removes the echoes of slow tissue from an ensemble: a high-pass filter along the last
    axis (slow time, N firings).

    iq         IQ data (iq_demodulate), firings along the last axis
    method     'polynomial': parameter = the order p, a whole number >= 0; the least-squares
               fit of a polynomial of degree p in the firing index n = 0 .. N-1 is removed,
               x - B (B^H x), B an orthonormal basis of the polynomials (the QR of the
               Vandermonde matrix of (n - (N-1)/2) / N); needs N > p + 1; N firings out
               'fir': parameter = the cutoff over the prf, in (0, 0.5); g = delta - h, h the
               low-pass of 2K + 1 taps, K = ceil(0.5 / cutoff), h_k = 2 cutoff sinc(2 cutoff
               k) (0.5 + 0.5 cos(pi k / (K + 1))) divided by its sum; only the outputs that
               see a whole window are kept, y_n = sum_{k=-K..K} g_k x_{n+K-k} for n = 0 ..
               N-2K-1: N - 2K firings out; needs N >= 2K + 2

    Returns complex data of iq's shape, the last axis N (polynomial) or N - 2K (fir) long.
    """
    fn = "clutter_filter"
    iq = _complex(fn, "iq", iq)
    if iq.ndim == 0:
        iq = iq.reshape(1)
    n = iq.shape[-1]
    if method == "polynomial":
        order = _whole(fn, "parameter", parameter, 0, what=" (the polynomial's order)")
        if not n > order + 1:
            raise ValueError("%s: the ensemble (%d firings) must be longer than order + 1 = %d"
                             % (fn, n, order + 1))
        x = (np.arange(n) - (n - 1) / 2) / n
        basis, _ = np.linalg.qr(x[:, None] ** np.arange(order + 1))
        with np.errstate(over="ignore", invalid="ignore"):
            out = iq - (iq @ basis) @ basis.T
    elif method == "fir":
        cutoff = _scalar(fn, "parameter", parameter)
        if not 0 < cutoff < 0.5:
            raise ValueError("%s: parameter (the cutoff over the prf) must lie between 0 and "
                             "0.5, but is %g" % (fn, cutoff))
        half = math.ceil(0.5 / cutoff)
        if not n >= 2 * half + 2:
            raise ValueError("%s: the ensemble (%d firings) must be at least 2K + 2 = %d for a "
                             "filter of 2K + 1 = %d taps" % (fn, n, 2 * half + 2, 2 * half + 1))
        g = -_windowed_sinc(cutoff, 1.0, half)
        g[half] += 1
        kept = n - 2 * half
        out = np.zeros(iq.shape[:-1] + (kept,), dtype=np.complex128)
        with np.errstate(over="ignore", invalid="ignore"):
            for k in range(-half, half + 1):
                out += g[half + k] * iq[..., half - k:half - k + kept]
    else:
        raise ValueError("%s: method must be 'polynomial' or 'fir', but is %r" % (fn, method))
    _overflow(fn, "the filtered data", out)
    return out


@_within_memory
def color_flow(iq, prf, f0, c):
    """Colour-flow estimates from an ensemble along the last axis (N >= 2 firings): the
    lag-one autocorrelation.

    iq       IQ data (clutter filtered), firings along the last axis
    prf      pulse repetition frequency [Hz]; f0: centre frequency [Hz]; c: speed of sound [m/s]

    R0 = mean over n of |x_n|^2 (n = 0 .. N-1), R1 = mean over n of conj(x_n) x_{n+1}
    (n = 0 .. N-2). Returns (velocity, power, variance), each of iq's shape without its last
    axis:
      velocity  c * prf / (4 pi f0) * angle(R1) [m/s], positive towards the transducer;
                aliased beyond +-c * prf / (4 f0)
      power     R0 [unit of iq squared]
      variance  2 prf^2 (1 - |R1| / R0) [Hz^2], the spread of the Doppler frequency
    Where R0 = 0, velocity and variance are 0.
    """
    fn = "color_flow"
    iq = _complex(fn, "iq", iq)
    if iq.ndim == 0 or iq.shape[-1] < 2:
        raise ValueError("%s: iq must hold at least 2 firings along its last axis, but holds %d"
                         % (fn, iq.shape[-1] if iq.ndim else 1))
    prf = _scalar(fn, "prf", prf, positive=True)
    f0 = _scalar(fn, "f0", f0, positive=True)
    c = _scalar(fn, "c", c, positive=True)
    with np.errstate(over="ignore", invalid="ignore", divide="ignore"):
        r0 = np.mean(np.abs(iq) ** 2, axis=-1)
        r1 = np.mean(np.conj(iq[..., :-1]) * iq[..., 1:], axis=-1)
        silent = r0 == 0
        velocity = np.where(silent, 0.0, c * prf / (4 * np.pi * f0) * np.angle(r1))
        variance = np.where(silent, 0.0, 2 * prf ** 2 * (1 - np.abs(r1) / r0))
    _overflow(fn, "the power or the variance", r0, velocity, variance)
    return velocity, r0, variance


@_within_memory
def doppler_spectrum(iq, prf, f0, c, window_length, overlap=None, nfft=None):
    """The spectral Doppler of one range gate: power over Doppler velocity and slow time.

    iq             the gate's IQ data, gate_samples x N firings (or a vector of N)
    prf            pulse repetition frequency [Hz]; f0: centre frequency [Hz]; c: speed of
                   sound [m/s]
    window_length  L, a whole number from 2 to N: the periodic Hann window
                   w_k = 0.5 - 0.5 cos(2 pi k / L), k = 0 .. L-1
    overlap        firings shared by neighbouring windows, 0 .. L-1 (default floor(L/2));
                   hop H = L - overlap, M = floor((N - L) / H) + 1 windows
    nfft           FFT length >= L (default L), the windows zero padded

    spectrum(j, m) = sum over the gate samples of |sum_k w_k x_{mH+k} exp(-i 2 pi j k /
    nfft)|^2, the frequency axis shifted to run upwards from -prf/2: row j is at f_j =
    (j - floor(nfft/2)) prf / nfft. Returns (spectrum, times, velocities): spectrum of shape
    (nfft, M) [unit of iq squared]; times_m = (m H + (L - 1)/2) / prf [s], each window's
    centre; velocities_j = c f_j / (2 f0) [m/s], positive towards the transducer.
    """
    fn = "doppler_spectrum"
    iq = _complex(fn, "iq", iq)
    if iq.ndim == 1:
        iq = iq.reshape(1, -1)
    if iq.ndim != 2:
        raise ValueError("%s: iq must be gate_samples x N (or a vector of N), but has shape %s"
                         % (fn, iq.shape))
    n = iq.shape[1]
    prf = _scalar(fn, "prf", prf, positive=True)
    f0 = _scalar(fn, "f0", f0, positive=True)
    c = _scalar(fn, "c", c, positive=True)
    length = _whole(fn, "window_length", window_length, 2, n, " (N, the firings)")
    overlap = length // 2 if overlap is None else _whole(fn, "overlap", overlap, 0, length - 1)
    nfft = length if nfft is None else _whole(fn, "nfft", nfft, length, _LONGEST)
    hop = length - overlap
    count = (n - length) // hop + 1
    k = np.arange(length)
    w = 0.5 - 0.5 * np.cos(2 * np.pi * k / length)
    with np.errstate(over="ignore", invalid="ignore"):
        windows = iq[:, np.arange(count)[:, None] * hop + k] * w  # gate x M x L
        power = np.sum(np.abs(np.fft.fft(windows, nfft, axis=-1)) ** 2, axis=0)  # M x nfft
    spectrum = np.roll(power.T, nfft // 2, axis=0)
    _overflow(fn, "the spectrum's powers", spectrum)
    f = (np.arange(nfft) - nfft // 2) * prf / nfft
    return spectrum, (np.arange(count) * hop + (length - 1) / 2) / prf, c * f / (2 * f0)


