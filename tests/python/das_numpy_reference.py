"""The plane-wave delay-and-sum that orvel.imaging.das_beamform computed in numpy before it
moved into the core: kept as an independent reference for the tests and the benchmark."""
import numpy as np


def das_numpy(rf, t0, fs, element_x, x, z, c, f_number, angles, lag):
    """das_beamform's image, shape (len(z), len(x)), of rf (samples, elements, transmits)."""
    element_x, x, z = (np.asarray(v, dtype=np.float64) for v in (element_x, x, z))
    angles = np.atleast_1d(np.asarray(angles, dtype=np.float64))
    rf = np.asarray(rf, dtype=np.float64)
    if rf.ndim == 2:
        rf = rf[:, :, np.newaxis]
    X, Z = np.meshgrid(x.astype(np.float64), z)
    half = np.where(Z > 0, Z / (2 * f_number), 0.0)  # half the receive aperture [m]

    def hann(xe):
        """Receive weight of the element at xe over the grid: 0 outside its aperture."""
        inside = np.abs(X - xe) < half
        ratio = np.where(inside, (xe - X) / np.where(inside, half, 1.0), 1.0)
        return np.where(inside, 0.5 + 0.5 * np.cos(np.pi * ratio), 0.0)

    # Where no element weighs anything (shallow points, or beyond the array's ends) the
    # nearest element is used alone.
    covered = np.zeros(X.shape, dtype=bool)
    for xe in element_x:
        covered |= hann(xe) > 0
    nearest = np.argmin(np.abs(x[:, np.newaxis] - element_x), axis=1)[np.newaxis, :]

    image = np.zeros(X.shape)
    n = rf.shape[0]
    if n == 0:  # no samples: every point lies outside the signal
        return image
    padded = np.concatenate([rf, np.zeros((1,) + rf.shape[1:])])  # row n: for s = n - 1
    for e, xe in enumerate(element_x):
        w = np.where(covered, hann(xe), (nearest == e).astype(float))
        use = np.nonzero(w)
        if use[0].size == 0:
            continue
        xu, zu, wu = X[use], Z[use], w[use]
        tau_r = np.sqrt((xu - xe) ** 2 + zu ** 2) / c
        for k, a in enumerate(angles):
            tau_t = (xu * np.sin(a) + zu * np.cos(a)) / c - np.min(element_x * np.sin(a)) / c
            s = (tau_t + tau_r + lag - t0) * fs
            inside = (s >= 0) & (s <= n - 1)
            s = np.where(inside, s, 0.0)
            i0 = s.astype(np.intp)
            frac = s - i0
            column = padded[:, e, k]
            value = column[i0] * (1 - frac) + column[i0 + 1] * frac
            image[use] += np.where(inside, wu * value, 0.0)
    return image
