"""Benchmark of colour flow: the simulation of an ensemble of 16 firings of 64 focused lines
over a flow phantom (scan_run, one process, every core), then the Doppler processing of its RF
in the core (iq_demodulate decimating by 4, clutter_filter, color_flow; median of three runs), and
the spectrogram of one range gate.

The phantom and the array are those of python/examples/doppler.py: a vessel of radius 2.5 mm
at 60 degrees to the beam, parabolic flow of 0.5 m/s peak, in tissue (3 scatterers per mm^3);
96 elements at 5 MHz, 32 active, lines 0.15 mm apart from -4.8 to 4.8 mm, each with the
scatterers within 1.5 mm of its active elements; PRF 10 kHz, the 16 firings of a line in a row.

    PYTHONPATH=build/python python3 bench/doppler_ensemble.py
"""
import contextlib
import io
import os
import time

import numpy as np

import orvel
import orvel.imaging as im

f0, fs, c = 5e6, 100e6, 1540.0
pitch, kerf, height, focus = c / f0 / 2, 0.02e-3, 10e-3, 25e-3
prf, ensemble, no_lines = 10e3, 16, 64

orvel.orvel_init(-1)
orvel.set_option("c", c)
orvel.set_sampling(fs)
t = np.arange(0, 2 / f0 + 1e-12, 1 / fs)
impulse = np.sin(2 * np.pi * f0 * t) * np.hanning(t.size)
excitation = np.sin(2 * np.pi * f0 * np.arange(0, 6 / f0 + 1e-12, 1 / fs))
make = (96, pitch - kerf, height, kerf, focus, 1, 5, [0, 0, focus])
tx, rx = orvel.xdc_focused_array(*make), orvel.xdc_focused_array(*make)
orvel.xdc_impulse(tx, impulse)
orvel.xdc_excitation(tx, excitation)
orvel.xdc_impulse(rx, impulse)
theta = np.deg2rad(60)
vessel = {"center": [0, 0, 25e-3], "direction": [np.sin(theta), 0, -np.cos(theta)],
          "radius": 2.5e-3, "v_peak": 0.5, "clutter": 10}
phantom = im.phantom_flow([-6.5e-3, 6.5e-3, -2.5e-3, 2.5e-3, 16e-3, 34e-3], vessel, 3.0, 1e-9,
                          seed=1)
count = phantom["blood_s0"].size + phantom["tissue_amplitudes"].size
seq = im.scan_ensemble(im.scan_linear(96, pitch, 32, np.linspace(-4.8e-3, 4.8e-3, no_lines),
                                      focus), prf, ensemble)
threads = len(os.sched_getaffinity(0))

print("Orvel benchmark: colour flow, %d lines x %d firings, %d scatterers, %d cores"
      % (no_lines, ensemble, count, threads), flush=True)
start = time.monotonic()
with contextlib.redirect_stdout(io.StringIO()):  # scan_run's progress lines
    rf, t0 = im.scan_run(seq, tx, rx, phantom, None, window=1.5e-3)
t_sim = time.monotonic() - start
orvel.orvel_end()
print("  simulation (scan_run): %.1f s, %.1f ms per firing; RF %s, %.0f MB"
      % (t_sim, 1e3 * t_sim / len(seq), "x".join(str(d) for d in rf.shape), rf.nbytes / 1e6))

steps = {"iq_demodulate": [], "clutter_filter": [], "color_flow": []}
for _ in range(3):
    start = time.monotonic()
    iq, t0_iq, fs_iq = im.iq_demodulate(rf, t0, fs, f0, decimation=4)
    steps["iq_demodulate"].append(time.monotonic() - start)
    start = time.monotonic()
    flow = im.clutter_filter(iq, "polynomial", 1)
    steps["clutter_filter"].append(time.monotonic() - start)
    start = time.monotonic()
    velocity, power, variance = im.color_flow(flow, prf, f0, c)
    steps["color_flow"].append(time.monotonic() - start)
total = sum(np.median(v) for v in steps.values())
print("  Doppler processing (core, medians of three runs): %.2f s in all, %s"
      % (total, ", ".join("%s %.3f s" % (k, np.median(v)) for k, v in steps.items())))
gate = iq.shape[0] // 2 + np.arange(-10, 11)
start = time.monotonic()
spectrum, _, _ = im.doppler_spectrum(flow[gate, no_lines // 2], prf, f0, c, 8, nfft=128)
print("  doppler_spectrum of one gate (21 samples, windows of 8, nfft 128): %.4f s"
      % (time.monotonic() - start))
print("  processing / simulation: %.2g" % (total / t_sim))
