# The imaging functions of orvel.imaging and of the Octave scripts (octave/imaging) on the same
# inputs give the same numbers: envelopes, compression, delay-and-sum images, scan conversion,
# the fields of scan sequences, resolution cells and the acoustic output of a small array;
# IQ demodulation, clutter filters, colour flow and Doppler spectra, the positions of moving
# phantoms, firing times of ensembles and the RF of a flow phantom fired as an ensemble;
# volumes: spherical cysts, points in space, plane and diverging waves from a 2-D array through
# scan_run and das_beamform on an x-y-z grid, show_volume's panels and the refusals; the
# pyramidal scan (scan_phased_2d, its RF from a sparse 2-D array, scan_convert_3d).
# Inputs go to Octave as binary files and its results come back the same way; one Octave run
# serves all the tests.
import os
import re
import subprocess

import numpy as np
import pytest

import orvel
import orvel.imaging as im

RNG = np.random.default_rng(20240611)
C = 1540.0
FS = 40e6


def synthetic_rf(samples, elements, transmits):
    """Smooth random RF: a few Gaussian-windowed 5 MHz bursts per column, some at the ends."""
    t = np.arange(samples)[:, None, None] / FS
    rf = np.zeros((samples, elements, transmits))
    for _ in range(6):
        centre = RNG.uniform(-0.05, 1.05, size=(1, elements, transmits)) * samples / FS
        phase = RNG.uniform(0, 2 * np.pi, size=(1, elements, transmits))
        rf += RNG.normal(size=(1, elements, transmits)) * np.exp(
            -((t - centre) * 3e6) ** 2) * np.cos(2 * np.pi * 5e6 * (t - centre) + phase)
    return rf


# Inputs, by name.
EL = (np.arange(1, 17) - 8.5) * 0.3e-3                 # 16 element centres [m]
INPUTS = {
    "rf_even": RNG.normal(size=(256, 3)),
    "rf_odd": RNG.normal(size=(257, 2)),
    "rf_vector": RNG.normal(size=101),
    "env": np.abs(RNG.normal(size=(40, 7))) * np.where(RNG.random((40, 7)) < 0.1, 0.0, 1.0),
    "das_rf": synthetic_rf(300, 16, 2),
    "das_x": np.linspace(-4e-3, 4.5e-3, 35),            # beyond the array's ends too
    "das_z": np.linspace(0.2e-3, 9e-3, 41),             # shallow points use one element
    "sc_lines": RNG.normal(size=(30, 11)),
    "sc_angles": np.linspace(-0.6, 0.55, 11),
    "sc_r": 5e-3 + np.cumsum(RNG.uniform(0.2e-3, 0.6e-3, size=30)),   # uneven radii
    "sc_x": np.linspace(-16e-3, 16e-3, 45),
    "sc_z": np.linspace(-1e-3, 22e-3, 50),
    "linear_x": np.array([-5e-3, -1.5e-3, -0.15e-3, 0.0, 0.15e-3, 0.45e-3, 1.35e-3, 4e-3]),
    "phased_angles": np.linspace(-0.5, 0.5, 7),
    "plane_angles": np.array([-0.2, 0.0, 0.13]),
    "convex_angles": np.array([-0.7, -0.21, -0.0125, 0.0, 0.05, 0.3, 0.9]),
    "sources": np.array([[0.0, 0.0, -5e-3], [1.2e-3, -0.3e-3, -3e-3], [-4e-3, 0.0, -8e-3]]),
    "sc_apex": np.array([0.7e-3, -6e-3]),
    "tgc_rf": RNG.normal(size=(60, 3, 2)),
    # A convex array's lines and transmits over scatterers, some outside the window.
    "run_points": np.column_stack([RNG.uniform(-8e-3, 8e-3, 6), RNG.uniform(-1e-3, 1e-3, 6),
                                   RNG.uniform(8e-3, 20e-3, 6)]),
    "run_amplitudes": RNG.normal(size=6),
    # Two cycles of 4 MHz at 100 MHz, Hann-weighted for the impulse response; a field grid
    # around the focus at 20 mm of an 8-element array.
    "ao_impulse": np.sin(2 * np.pi * np.arange(50) / 25) * np.hanning(50) * 1e8,
    "ao_excitation": 0.05 * np.sin(2 * np.pi * np.arange(50) / 25),
    "ao_points": np.column_stack([np.repeat(np.linspace(-3e-3, 3e-3, 7), 9), np.zeros(63),
                                  np.tile(np.linspace(10e-3, 30e-3, 9), 7)]),
}
# Motion and Doppler: RF, IQ with a silent signal (color_flow gives 0 there), a range gate,
# a flow phantom built field by field (near the convex array's lines), given points moved by
# a velocity field and by frames, and the times they are placed at (blood wraps round).
RNG_DOPPLER = np.random.default_rng(20250302)
DOPPLER_IQ = RNG_DOPPLER.normal(size=(4, 3, 24)) + 1j * RNG_DOPPLER.normal(size=(4, 3, 24))
DOPPLER_IQ[3, 2, :] = 0
DOPPLER_GATE = RNG_DOPPLER.normal(size=(5, 40)) + 1j * RNG_DOPPLER.normal(size=(5, 40))
_MOTION_POINTS = np.column_stack([RNG_DOPPLER.uniform(-2e-3, 2e-3, 4),
                                  RNG_DOPPLER.uniform(-1e-3, 1e-3, 4),
                                  RNG_DOPPLER.uniform(10e-3, 20e-3, 4)])
_DIRECTION = np.array([0.8, 0.1, -0.6])
INPUTS.update({
    "dop_rf": RNG_DOPPLER.normal(size=(64, 3, 2)),
    "dop_iq_re": DOPPLER_IQ.real, "dop_iq_im": DOPPLER_IQ.imag,
    "dop_gate_re": DOPPLER_GATE.real, "dop_gate_im": DOPPLER_GATE.imag,
    "flow_tissue": np.column_stack([RNG_DOPPLER.uniform(-3e-3, 3e-3, 4),
                                    RNG_DOPPLER.uniform(-0.5e-3, 0.5e-3, 4),
                                    RNG_DOPPLER.uniform(10e-3, 18e-3, 4)]),
    "flow_tissue_amp": RNG_DOPPLER.normal(size=4),
    "flow_tissue_v": np.array([0.002, 0.0, -0.004]),
    "flow_center": np.array([0.5e-3, 0.0, 14e-3]),
    "flow_direction": _DIRECTION / np.linalg.norm(_DIRECTION),
    "flow_chord": np.array([-4e-3, 3.5e-3]),
    "flow_s0": RNG_DOPPLER.uniform(-4e-3, 3.5e-3, 5),
    "flow_offset": RNG_DOPPLER.normal(size=(5, 3)) * 0.5e-3,
    "flow_speed": RNG_DOPPLER.uniform(-0.6, 0.6, 5),
    "flow_blood_amp": RNG_DOPPLER.normal(size=5),
    "pos_times": np.array([0.0, 1.3e-3, -4.1e-2, 0.77]),
    "motion_points": _MOTION_POINTS,
    "motion_amp": RNG_DOPPLER.normal(size=4),
    "frames_times": np.array([-1e-3, 0.5e-3, 2.75e-3]),
    "frames_positions": _MOTION_POINTS[:, :, None] + RNG_DOPPLER.normal(size=(4, 3, 3)) * 1e-4,
    "frames_eval": np.array([-1e-3, 0.5e-3, 1.2e-3, 2.75e-3]),
})

# A pyramidal scan: a grid of 3 ax by 2 ay values, its rows shuffled; lines on uneven radii;
# a volume grid reaching beyond the pyramid; a sparse 6 x 5 array (a random half enabled).
RNG_PYRAMID = np.random.default_rng(20250611)
_AX, _AY = np.meshgrid([-0.2, 0.05, 0.3], [-0.15, 0.1])
INPUTS.update({
    "p2d_angles": np.column_stack([_AX.ravel(), _AY.ravel()])[RNG_PYRAMID.permutation(6)],
    "sc3_lines": RNG_PYRAMID.normal(size=(25, 6)),
    "sc3_r": 5e-3 + np.cumsum(RNG_PYRAMID.uniform(0.2e-3, 0.6e-3, size=25)),
    "sc3_x": np.linspace(-3e-3, 4e-3, 13),
    "sc3_y": np.linspace(-2e-3, 1.5e-3, 8),
    "sc3_z": np.linspace(4e-3, 15e-3, 14),
    "sparse_enabled": (RNG_PYRAMID.permutation(30) < 15).reshape(6, 5).astype(float),
})


# Volumes: element centres off any grid (some out of the plane z = 0), steering angles, transmit
# weights and sources; points in space and in the plane; a box with a cylinder and two balls,
# one overlapping the cylinder; a volume in dB with NaNs, values above 0 and two voxels tied for
# the maximum, the first in C order (B) not the first in Fortran order (A).
RNG_VOLUME = np.random.default_rng(20250918)
VOL_DB = RNG_VOLUME.uniform(-50, -1, size=(9, 7, 5))
VOL_DB[5, 2, 1] = VOL_DB[2, 4, 3] = 3.0             # A and B
VOL_DB[0, 0, 0] = VOL_DB[6, 3, 2] = np.nan
INPUTS.update({
    "vol_elements": np.column_stack([RNG_VOLUME.uniform(-2e-3, 2e-3, 10),
                                     RNG_VOLUME.uniform(-1.5e-3, 1.5e-3, 10),
                                     RNG_VOLUME.uniform(-0.3e-3, 0.2e-3, 10)]),
    "vol_angles": np.array([[0.1, -0.08], [-0.25, 0.0], [0.0, 0.3]]),
    "vol_apod": RNG_VOLUME.uniform(0.2, 1.0, 10),
    "vol_sources": np.array([[0.5e-3, -0.2e-3, -4e-3], [-1e-3, 1e-3, -6e-3]]),
    "vol_xyz": np.column_stack([RNG_VOLUME.uniform(-1e-3, 1e-3, 4),
                                RNG_VOLUME.uniform(-1e-3, 1e-3, 4),
                                RNG_VOLUME.uniform(6e-3, 9e-3, 4)]),
    "vol_xz": RNG_VOLUME.uniform(-1e-3, 1e-3, size=(3, 2)),
    "vol_amp": RNG_VOLUME.normal(size=4),
    "vol_run_apod": RNG_VOLUME.uniform(0.2, 1.0, 12),
    "vol_db": VOL_DB,
    "vol_region": np.array([-2e-3, 2e-3, -1.5e-3, 1.5e-3, 3e-3, 7e-3]),
    "vol_cysts": np.array([[0.5e-3, 5e-3, 1e-3, 0.5]]),
    "vol_spheres": np.array([[0.3e-3, -0.2e-3, 5.2e-3, 0.9e-3, 3.0],
                             [-1e-3, 0.8e-3, 4e-3, 0.6e-3, 0.0]]),
    "vol_x": np.linspace(-1e-3, 1e-3, 5),                # a grid for the volume's images
    "vol_y": np.linspace(-0.8e-3, 0.8e-3, 4),
    "vol_z": np.linspace(6e-3, 9e-3, 7),
})


def motion_field(p):
    """The velocity field of the motion phantom, written alike in Octave [m/s]."""
    return np.column_stack([3 * p[:, 2], -p[:, 0], 0.5 * p[:, 1]])


def flow_phantom():
    return dict(kind="flow", tissue_points=INPUTS["flow_tissue"],
                tissue_amplitudes=INPUTS["flow_tissue_amp"],
                tissue_velocity=INPUTS["flow_tissue_v"], center=INPUTS["flow_center"],
                direction=INPUTS["flow_direction"], s_lo=INPUTS["flow_chord"][0],
                s_hi=INPUTS["flow_chord"][1], blood_s0=INPUTS["flow_s0"],
                blood_offset=INPUTS["flow_offset"], blood_speed=INPUTS["flow_speed"],
                blood_amplitudes=INPUTS["flow_blood_amp"])


DAS = dict(t0=3.1e-6, c=C, f_number=1.4, lag=0.2e-6)
AO = dict(fs=100e6, rho=1050.0, prf=4e3)

OCTAVE = r"""
1;
function a = load_array(name)
  f = fopen(fullfile(getenv('ORVEL_IN'), [name '.bin']), 'r');
  n = fread(f, 1, 'double');
  dims = fread(f, n, 'double')';
  a = reshape(fread(f, Inf, 'double'), [dims ones(1, 2 - numel(dims))]);
  fclose(f);
end
function save_array(f, name, a)
  fwrite(f, [numel(name) double(name) ndims(a) size(a)], 'double');
  fwrite(f, double(a), 'double');
end
function save_complex(f, name, a)
  save_array(f, [name '.re'], real(a));
  save_array(f, [name '.im'], imag(a));
end
function save_positions(f, name, phantom, times)
  for k = 1:numel(times)
    [q, a] = phantom_positions(phantom, times(k));
    save_array(f, sprintf('%%s%%d.points', name, k), q);
    save_array(f, sprintf('%%s%%d.amplitudes', name, k), a);
  end
end
function save_sequence(f, name, seq)
  n = numel(seq(1).tx_apodization);
  [~, kind] = ismember({seq.kind}, {'line', 'plane', 'diverging', 'element'});
  save_array(f, [name '.kind'], kind - 1);
  save_array(f, [name '.angle'], [seq.angle]);
  save_array(f, [name '.x'], [seq.x]);
  save_array(f, [name '.tx_apodization'], reshape([seq.tx_apodization], n, [])');
  save_array(f, [name '.rx_apodization'], reshape([seq.rx_apodization], n, [])');
  if strcmp(seq(1).kind, 'line')
    save_array(f, [name '.tx_focus'], vertcat(seq.tx_focus));
    save_array(f, [name '.rx_center'], vertcat(seq.rx_center));
  else
    save_array(f, [name '.tx_delays'], reshape([seq.tx_delays], n, [])');
  end
  if isfield(seq, 'source')
    save_array(f, [name '.source'], vertcat(seq.source));
  end
  if isfield(seq, 'element')
    save_array(f, [name '.element'], [seq.element] - 1);   %% from 0, as in Python
  end
  if isfield(seq, 'angle_y')
    save_array(f, [name '.angle_y'], [seq.angle_y]);
  end
end
function save_refusal(f, name, call)
  message = 'no error';
  try
    call();
  catch err
    message = err.message;
  end
  save_array(f, name, double(message));
end
f = fopen(getenv('ORVEL_OUT'), 'w');
save_array(f, 'envelope_even', envelope(load_array('rf_even')));
save_array(f, 'envelope_odd', envelope(load_array('rf_odd')));
save_array(f, 'envelope_vector', envelope(load_array('rf_vector')'));
save_array(f, 'log_compress', log_compress(load_array('env'), 40));
save_array(f, 'log_compress_zero', log_compress(zeros(3, 4), 30));
rf = load_array('das_rf');
el = ((1:16) - 8.5) * 0.3e-3;
x = load_array('das_x');
z = load_array('das_z');
save_array(f, 'das_one', das_beamform(rf(:, :, 1), %(t0)r, %(fs)r, el, x, z, %(c)r, %(f_number)r, 0.12, %(lag)r));
save_array(f, 'das_two', das_beamform(rf, %(t0)r, %(fs)r, el, x', z', %(c)r, %(f_number)r, [-0.1 0.15], %(lag)r));
save_array(f, 'scan_convert', scan_convert(load_array('sc_lines'), load_array('sc_angles'), ...
           load_array('sc_r')', load_array('sc_x'), load_array('sc_z')));
save_sequence(f, 'linear5', scan_linear(12, 0.3e-3, 5, load_array('linear_x'), 20e-3));
save_sequence(f, 'linear4', scan_linear(12, 0.3e-3, 4, load_array('linear_x')', 25e-3));
save_sequence(f, 'phased', scan_phased(10, load_array('phased_angles'), 30e-3));
save_sequence(f, 'plane', scan_planewave(10, 0.3e-3, load_array('plane_angles'), 1540));
save_sequence(f, 'convex', scan_convex(14, 0.35e-3, 12e-3, 5, load_array('convex_angles'), 18e-3));
save_sequence(f, 'diverging', scan_diverging(10, 0.3e-3, load_array('sources'), 1540));
save_sequence(f, 'sta', scan_sta(6));
save_array(f, 'scan_convert_apex', scan_convert(load_array('sc_lines'), load_array('sc_angles'), ...
           load_array('sc_r')', load_array('sc_x'), load_array('sc_z'), load_array('sc_apex')));
save_array(f, 'sample_depth', sample_depth(7, 2.1e-6, 33e6, 1530, 0.4e-6));
save_array(f, 'tgc', tgc(load_array('tgc_rf'), 1.3e-6, 20e6, 1540, 0.7, 3.5e6));
save_array(f, 'resolution_cell', resolution_cell(0.5e-3, 2.5, 0.8e-3, 3e-3));
rf = load_array('dop_rf');
[iq, t0_iq, fs_iq] = iq_demodulate(rf, 2.3e-6, 40e6, 5e6);
save_complex(f, 'iq_default', iq);
save_array(f, 'iq_default.axis', [t0_iq fs_iq]);
[iq, t0_iq, fs_iq] = iq_demodulate(rf, 2.3e-6, 40e6, 5e6, 3e6, 3);
save_complex(f, 'iq_decimated', iq);
save_array(f, 'iq_decimated.axis', [t0_iq fs_iq]);
iq = complex(load_array('dop_iq_re'), load_array('dop_iq_im'));
save_complex(f, 'clutter_poly', clutter_filter(iq, 'polynomial', 2));
save_complex(f, 'clutter_poly0', clutter_filter(iq, 'polynomial', 0));
save_complex(f, 'clutter_fir', clutter_filter(iq, 'fir', 0.15));
[v, p, s] = color_flow(iq, 4e3, 5e6, 1540);
save_array(f, 'color_flow.velocity', v);
save_array(f, 'color_flow.power', p);
save_array(f, 'color_flow.variance', s);
gate = complex(load_array('dop_gate_re'), load_array('dop_gate_im'));
spectra = {{16}, {12, 7, 33}};
for k = 1:2
  [S, t, vel] = doppler_spectrum(gate, 4e3, 5e6, 1540, spectra{k}{:});
  save_array(f, sprintf('spectrum%%d.spectrum', k), S);
  save_array(f, sprintf('spectrum%%d.times', k), t);
  save_array(f, sprintf('spectrum%%d.velocities', k), vel);
end
chord = load_array('flow_chord');
flow = struct('kind', 'flow', 'tissue_points', load_array('flow_tissue'), ...
              'tissue_amplitudes', load_array('flow_tissue_amp'), ...
              'tissue_velocity', load_array('flow_tissue_v')', 'center', load_array('flow_center')', ...
              'direction', load_array('flow_direction')', 's_lo', chord(1), 's_hi', chord(2), ...
              'blood_s0', load_array('flow_s0'), 'blood_offset', load_array('flow_offset'), ...
              'blood_speed', load_array('flow_speed'), 'blood_amplitudes', load_array('flow_blood_amp'));
save_positions(f, 'flow', flow, load_array('pos_times'));
save_positions(f, 'motion', phantom_motion(load_array('motion_points'), load_array('motion_amp'), ...
               @(p) [3 * p(:, 3), -p(:, 1), 0.5 * p(:, 2)]), load_array('pos_times'));
frames = struct('times', load_array('frames_times'), 'positions', load_array('frames_positions'));
save_positions(f, 'frames', phantom_motion(load_array('motion_points'), load_array('motion_amp'), ...
               frames), load_array('frames_eval'));
vessel = struct('center', [1e-3 -0.5e-3 21e-3], 'direction', [2 -1 -3], 'radius', 1.2e-3, ...
                'v_peak', -0.3);
ph = phantom_flow([-5e-3 4e-3 -3e-3 3e-3 12e-3 30e-3], vessel, 7, 0.3e-9, 5);
save_array(f, 'phantom_flow.chord', [ph.s_lo ph.s_hi]);
save_array(f, 'phantom_flow.direction', ph.direction);
save_array(f, 'phantom_flow.blood', numel(ph.blood_s0));
for order = {'line', 'frame'}
  fired = scan_ensemble(scan_sta(3), 2.5e3, 4, order{1});
  save_array(f, ['ensemble_' order{1} '.t'], [fired.t]);
  save_array(f, ['ensemble_' order{1} '.firing'], [fired.firing] - 1);       %% from 0
  save_array(f, ['ensemble_' order{1} '.step_index'], [fired.step_index] - 1);
end
orvel_init(-1);
set_sampling(%(ao_fs)r);
set_option('rho', %(rho)r);
th = xdc_linear_array(8, 0.25e-3, 4e-3, 0.05e-3, 1, 2, [0 0 20e-3]);
xdc_impulse(th, load_array('ao_impulse'));
xdc_excitation(th, load_array('ao_excitation'));
out = acoustic_output(th, load_array('ao_points'), %(prf)r);
for name = fieldnames(out)'
  save_array(f, ['acoustic_output.' name{1}], out.(name{1}));
end
orvel_end();
orvel_init(-1);
set_sampling(%(ao_fs)r);
tx = xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0 0 15e-3]);
rx = xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0 0 15e-3]);
points = load_array('run_points');
amplitudes = load_array('run_amplitudes');
runs = {scan_convex(14, 0.35e-3, 12e-3, 5, [-0.3 0.02 0.25], 15e-3), scan_sta(14)([2 9])};
for k = 1:2
  evalc('[rf, t0] = scan_run(runs{k}, tx, rx, points, amplitudes, 1.5e-3);');
  save_array(f, sprintf('run%%d.rf', k), rf);
  save_array(f, sprintf('run%%d.t0', k), t0);
end
fired = scan_ensemble(scan_convex(14, 0.35e-3, 12e-3, 5, [-0.1 0.2], 15e-3), 3e3, 3);
evalc('[rf, t0] = scan_run(fired, tx, rx, flow, []);');
save_array(f, 'run_flow.rf', rf);
save_array(f, 'run_flow.t0', t0);
orvel_end();
save_sequence(f, 'phased2d', scan_phased_2d(15, load_array('p2d_angles'), 12e-3));
save_array(f, 'scan_convert_3d', scan_convert_3d(load_array('sc3_lines'), ...
           load_array('p2d_angles'), load_array('sc3_r'), load_array('sc3_x'), ...
           load_array('sc3_y'), load_array('sc3_z')));
orvel_init(-1);
set_sampling(%(ao_fs)r);
enabled = load_array('sparse_enabled');
tx = xdc_2d_array(6, 5, 0.3e-3, 0.3e-3, 0.05e-3, 0.05e-3, enabled, 1, 1, [0 0 15e-3]);
rx = xdc_2d_array(6, 5, 0.3e-3, 0.3e-3, 0.05e-3, 0.05e-3, enabled, 1, 1, [0 0 15e-3]);
save_array(f, 'sparse.positions', element_positions(rx));
seq = scan_phased_2d(15, load_array('p2d_angles'), 12e-3);
evalc('[rf, t0] = scan_run(seq, tx, rx, points, amplitudes, 1e-3);');
save_array(f, 'sparse.rf', rf);
save_array(f, 'sparse.t0', t0);
orvel_end();
e = load_array('vol_elements');
angles = load_array('vol_angles');
sources = load_array('vol_sources');
save_sequence(f, 'plane2d', scan_planewave_2d(e, angles, 1540, load_array('vol_apod')));
save_sequence(f, 'plane2d_ones', scan_planewave_2d(e, angles(2, :), 1540));
save_sequence(f, 'diverging2d', scan_diverging_2d(e, sources, 1540));
xyz = load_array('vol_xyz');
amplitudes = load_array('vol_amp');
[q, a] = phantom_points(xyz, amplitudes');
save_array(f, 'points_xyz.points', q);
save_array(f, 'points_xyz.amplitudes', a);
[q, a] = phantom_points(load_array('vol_xz'));
save_array(f, 'points_xz.points', q);
save_array(f, 'points_xz.amplitudes', a);
region = load_array('vol_region');
[q, a] = phantom_tissue(region, 10, 1e-10, load_array('vol_cysts'), 4);
save_array(f, 'tissue_plain.points', q);
save_array(f, 'tissue_plain.amplitudes', a);
[q, a] = phantom_tissue(region, 10, 1e-10, load_array('vol_cysts'), 4, load_array('vol_spheres'));
save_array(f, 'tissue_spheres.points', q);
save_array(f, 'tissue_spheres.amplitudes', a);
gx = load_array('vol_x');
gy = load_array('vol_y');
gz = load_array('vol_z');
%% show_volume without gnuplot on the PATH: the panels alone, read back.
picture = fullfile(getenv('ORVEL_IN'), 'volume.png');
path_before = getenv('PATH');
setenv('PATH', getenv('ORVEL_IN'));
show_volume(picture, load_array('vol_db'), (1:7) * 1e-3, (1:5) * 1e-3, (1:9) * 1e-3, 40);
setenv('PATH', path_before);
save_array(f, 'show_volume', imread(picture));
refusals = {@() phantom_tissue(region, 10, 1e-10, [], 0, [0 0 1e-3 0]), ...
            @() phantom_points(ones(2, 4)), ...
            @() scan_planewave_2d(e, [0.1 0.2 0.3], 1540), ...
            @() scan_planewave_2d(e, [0.1 0.2], 1540, ones(1, 3)), ...
            @() scan_planewave_2d(e(:, 1:2), [0.1 0.2], 1540), ...
            @() scan_diverging_2d(e, [0 0 -0.1e-3], 1540), ...
            @() show_volume(picture, zeros(3, 4, 5), 1:4, 1:4, 1:3, 40)};
for k = 1:numel(refusals)
  save_refusal(f, sprintf('refusal%%d', k), refusals{k});
end
%% A small 2-D array: plane waves in two angles and diverging waves, simulated and beamformed
%% on an x-y-z grid (the diverging waves through their transmit table).
orvel_init(-1);
set_sampling(%(ao_fs)r);
tx = xdc_2d_array(4, 3, 0.28e-3, 0.28e-3, 0.02e-3, 0.02e-3, ones(4, 3), 1, 1, [0 0 20e-3]);
rx = xdc_2d_array(4, 3, 0.28e-3, 0.28e-3, 0.02e-3, 0.02e-3, ones(4, 3), 1, 1, [0 0 20e-3]);
e = element_positions(rx);
d = sqrt((e(:, 1) - sources(:, 1)').^2 + (e(:, 2) - sources(:, 2)').^2 ...
         + (e(:, 3) - sources(:, 3)').^2);
table = [2 * ones(2, 1), sources, -min(d, [], 1)' / 1540, zeros(2, 3)];
runs = {scan_planewave_2d(e, angles, 1540, load_array('vol_run_apod')), angles;
        scan_diverging_2d(e, sources, 1540), table};
names = {'vol_plane', 'vol_diverging'};
for k = 1:2
  evalc('[rf, t0] = scan_run(runs{k, 1}, tx, rx, xyz, amplitudes);');
  save_array(f, [names{k} '.rf'], rf);
  save_array(f, [names{k} '.t0'], t0);
  save_array(f, [names{k} '.image'], das_beamform(rf, t0, %(ao_fs)r, e, gx, gz, 1540, 1.5, ...
                                                   runs{k, 2}, 0, struct('y', gy)));
end
orvel_end();
fclose(f);
""" % dict(DAS, fs=FS, ao_fs=AO["fs"], rho=AO["rho"], prf=AO["prf"])


@pytest.fixture(scope="module")
def octave(tmp_path_factory):
    """Octave's results by name."""
    folder = tmp_path_factory.mktemp("imaging_octave")
    for name, a in INPUTS.items():
        a = np.asarray(a, dtype=np.float64)
        np.concatenate([[a.ndim], a.shape, a.ravel(order="F")]).tofile(folder / (name + ".bin"))
    script = folder / "imaging_numbers.m"
    script.write_text(OCTAVE)
    out = folder / "octave.bin"
    scripts = os.environ["ORVEL_SCRIPTS"]
    env = dict(os.environ, ORVEL_IN=str(folder), ORVEL_OUT=str(out))
    done = subprocess.run(
        [os.environ["ORVEL_OCTAVE"], "--no-gui", "--norc", "--no-history", "--quiet",
         "--path", os.environ["ORVEL_MEX_DIR"], "--path", scripts,
         "--path", os.path.join(scripts, "imaging"), str(script)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    v = np.fromfile(out, dtype=np.float64)
    results = {}
    while v.size:
        k = int(v[0])
        name = "".join(chr(int(ch)) for ch in v[1:1 + k])
        ndim = int(v[1 + k])
        shape = tuple(int(d) for d in v[2 + k:2 + k + ndim])
        size = int(np.prod(shape))
        start = 2 + k + ndim
        results[name] = v[start:start + size].reshape(shape, order="F")
        v = v[start + size:]
    return results


def close(mine, theirs, rtol, what):
    """Same shape (Octave keeps 2 dimensions for vectors), same NaNs, values within rtol of
    the largest magnitude."""
    mine = np.asarray(mine, dtype=np.float64)
    if mine.ndim == 1:
        theirs = theirs.reshape(-1)
    assert mine.shape == theirs.shape, "%s: shape %s, Octave %s" % (what, mine.shape, theirs.shape)
    assert np.array_equal(np.isnan(mine), np.isnan(theirs)), "%s: NaNs differ" % what
    scale = np.nanmax(np.abs(theirs)) if np.isfinite(theirs).any() else 1.0
    error = np.nanmax(np.abs(mine - theirs)) if mine.size else 0.0
    assert error <= rtol * scale, "%s: differs by %.3g of %.3g" % (what, error, scale)


def test_envelope_and_log_compress(octave):
    close(im.envelope(INPUTS["rf_even"]), octave["envelope_even"], 1e-9, "envelope, even length")
    close(im.envelope(INPUTS["rf_odd"]), octave["envelope_odd"], 1e-9, "envelope, odd length")
    close(im.envelope(INPUTS["rf_vector"]), octave["envelope_vector"], 1e-9, "envelope, vector")
    db = im.log_compress(INPUTS["env"], 40)
    close(db, octave["log_compress"], 1e-12, "log_compress")
    assert db.min() == -40 and (INPUTS["env"] == 0).any()
    close(im.log_compress(np.zeros((3, 4)), 30), octave["log_compress_zero"], 0, "all-zero env")


def test_das_beamform(octave):
    rf = INPUTS["das_rf"]
    x, z = INPUTS["das_x"], INPUTS["das_z"]
    a = DAS
    one = im.das_beamform(rf[:, :, 0], a["t0"], FS, EL, x, z, a["c"], a["f_number"], 0.12,
                          a["lag"])
    two = im.das_beamform(rf, a["t0"], FS, EL, x, z, a["c"], a["f_number"], [-0.1, 0.15],
                          a["lag"])
    close(one, octave["das_one"], 1e-10, "das_beamform, one transmit")
    close(two, octave["das_two"], 1e-10, "das_beamform, two transmits")
    assert one.shape == (z.size, x.size) and np.abs(one).max() > 0
    # The deepest points' echoes lie beyond the signal's end: 0 there.
    assert (one[-1] == 0).all() and (one[z < 7e-3] != 0).all(axis=1).any()


def test_scan_convert(octave):
    mine = im.scan_convert(INPUTS["sc_lines"], INPUTS["sc_angles"], INPUTS["sc_r"],
                           INPUTS["sc_x"], INPUTS["sc_z"])
    close(mine, octave["scan_convert"], 1e-12, "scan_convert")
    inside = ~np.isnan(mine)
    assert 0.1 < inside.mean() < 0.9


def test_scan_sequences_and_resolution_cell(octave):
    kinds = ["line", "plane", "diverging", "element"]
    cases = {
        "convex": im.scan_convex(14, 0.35e-3, 12e-3, 5, INPUTS["convex_angles"], 18e-3),
        "diverging": im.scan_diverging(10, 0.3e-3, INPUTS["sources"], 1540),
        "sta": im.scan_sta(6),
        "linear5": im.scan_linear(12, 0.3e-3, 5, INPUTS["linear_x"], 20e-3),
        "linear4": im.scan_linear(12, 0.3e-3, 4, INPUTS["linear_x"], 25e-3),
        "phased": im.scan_phased(10, INPUTS["phased_angles"], 30e-3),
        "plane": im.scan_planewave(10, 0.3e-3, INPUTS["plane_angles"], 1540),
    }
    for name, seq in cases.items():
        plane = seq[0]["kind"] != "line"
        close([kinds.index(step["kind"]) for step in seq], octave[name + ".kind"], 0, name)
        fields = ["angle", "x", "tx_apodization", "rx_apodization"]
        fields += ["tx_delays"] if plane else ["tx_focus", "rx_center"]
        fields += [k for k in ("source", "element") if k in seq[0]]
        for field in fields:
            mine = np.array([np.asarray(step[field], dtype=np.float64) for step in seq])
            close(mine, octave[name + "." + field], 1e-12, name + "." + field)
    close(np.array([im.resolution_cell(0.5e-3, 2.5, 0.8e-3, 3e-3)]),
          octave["resolution_cell"], 1e-15, "resolution_cell")


def test_scan_convert_apex_sample_depth_and_tgc(octave):
    mine = im.scan_convert(INPUTS["sc_lines"], INPUTS["sc_angles"], INPUTS["sc_r"],
                           INPUTS["sc_x"], INPUTS["sc_z"], INPUTS["sc_apex"])
    close(mine, octave["scan_convert_apex"], 1e-12, "scan_convert with an apex")
    assert 0.1 < (~np.isnan(mine)).mean() < 0.9
    close(im.sample_depth(7, 2.1e-6, 33e6, 1530, 0.4e-6), octave["sample_depth"], 1e-15,
          "sample_depth")
    close(im.tgc(INPUTS["tgc_rf"], 1.3e-6, 20e6, 1540, 0.7, 3.5e6), octave["tgc"], 1e-13, "tgc")


def test_scan_run_with_a_window_on_a_convex_array(octave, system):
    orvel.set_sampling(AO["fs"])
    tx = orvel.xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0, 0, 15e-3])
    rx = orvel.xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0, 0, 15e-3])
    runs = [im.scan_convex(14, 0.35e-3, 12e-3, 5, [-0.3, 0.02, 0.25], 15e-3),
            [im.scan_sta(14)[k] for k in (1, 8)]]
    for k, seq in enumerate(runs, 1):
        rf, t0 = im.scan_run(seq, tx, rx, INPUTS["run_points"], INPUTS["run_amplitudes"],
                             window=1.5e-3)
        close(rf, octave["run%d.rf" % k], 1e-12, "scan_run %d" % k)
        close(np.array([t0]), octave["run%d.t0" % k], 0, "scan_run %d: t0" % k)
        assert np.abs(rf).max() > 0


def test_acoustic_output(octave, system):
    orvel.set_sampling(AO["fs"])
    orvel.set_option("rho", AO["rho"])
    th = orvel.xdc_linear_array(8, 0.25e-3, 4e-3, 0.05e-3, 1, 2, [0, 0, 20e-3])
    orvel.xdc_impulse(th, INPUTS["ao_impulse"])
    orvel.xdc_excitation(th, INPUTS["ao_excitation"])
    out = im.acoustic_output(th, INPUTS["ao_points"], AO["prf"])
    names = [k.split(".", 1)[1] for k in octave if k.startswith("acoustic_output.")]
    assert names == list(out), "the fields differ or come in another order"
    for name, value in out.items():
        close(np.atleast_1d(value), octave["acoustic_output." + name], 1e-10, name)
    assert out["p_r3"] > 0 and 3e6 < out["f_awf"] < 5e6


def close_complex(mine, octave, name, rtol=1e-12):
    """Complex results against Octave's real and imaginary parts, within rtol of the largest
    magnitude."""
    theirs = octave[name + ".re"] + 1j * octave[name + ".im"]
    mine = np.asarray(mine)
    assert mine.shape == theirs.shape, "%s: shape %s, Octave %s" % (name, mine.shape, theirs.shape)
    error = np.abs(mine - theirs).max()
    assert error <= rtol * np.abs(theirs).max(), "%s: differs by %.3g" % (name, error)


def test_doppler_processing(octave):
    rf = INPUTS["dop_rf"]
    for name, extra in (("iq_default", ()), ("iq_decimated", (3e6, 3))):
        iq, t0_iq, fs_iq = im.iq_demodulate(rf, 2.3e-6, 40e6, 5e6, *extra)
        close_complex(iq, octave, name)
        close(np.array([t0_iq, fs_iq]), octave[name + ".axis"], 0, name + ": t0 and fs")
    for name, method, parameter in (("clutter_poly", "polynomial", 2),
                                    ("clutter_poly0", "polynomial", 0),
                                    ("clutter_fir", "fir", 0.15)):
        close_complex(im.clutter_filter(DOPPLER_IQ, method, parameter), octave, name)
    for name, value in zip(("velocity", "power", "variance"),
                           im.color_flow(DOPPLER_IQ, 4e3, 5e6, 1540)):
        close(value, octave["color_flow." + name], 1e-12, "color_flow " + name)
    for k, extra in enumerate(((16,), (12, 7, 33)), 1):
        result = im.doppler_spectrum(DOPPLER_GATE, 4e3, 5e6, 1540, *extra)
        for name, value in zip(("spectrum", "times", "velocities"), result):
            close(value, octave["spectrum%d.%s" % (k, name)], 1e-12, "doppler_spectrum %d %s"
                  % (k, name))


def test_moving_phantoms_and_ensembles(octave):
    motion = im.phantom_motion(INPUTS["motion_points"], INPUTS["motion_amp"], motion_field)
    frames = im.phantom_motion(INPUTS["motion_points"], INPUTS["motion_amp"],
                               dict(times=INPUTS["frames_times"],
                                    positions=np.moveaxis(INPUTS["frames_positions"], 2, 0)))
    for name, phantom, times in (("flow", flow_phantom(), INPUTS["pos_times"]),
                                 ("motion", motion, INPUTS["pos_times"]),
                                 ("frames", frames, INPUTS["frames_eval"])):
        for k, t in enumerate(times, 1):
            points, amplitudes = im.phantom_positions(phantom, t)
            close(points, octave["%s%d.points" % (name, k)], 1e-12, "%s at %g s" % (name, t))
            close(amplitudes, octave["%s%d.amplitudes" % (name, k)], 0, "%s amplitudes" % name)
    # The random flow phantom's deterministic parts: the axis's chord, its direction and the
    # number of blood scatterers.
    ph = im.phantom_flow([-5e-3, 4e-3, -3e-3, 3e-3, 12e-3, 30e-3],
                         dict(center=[1e-3, -0.5e-3, 21e-3], direction=[2, -1, -3],
                              radius=1.2e-3, v_peak=-0.3), 7, 0.3e-9, seed=5)
    close(np.array([ph["s_lo"], ph["s_hi"]]), octave["phantom_flow.chord"], 1e-12, "chord")
    close(np.asarray(ph["direction"]), octave["phantom_flow.direction"], 1e-15, "direction")
    assert len(ph["blood_s0"]) == octave["phantom_flow.blood"].item() > 0
    for order in ("line", "frame"):
        fired = im.scan_ensemble(im.scan_sta(3), 2.5e3, 4, order)
        for key in ("t", "firing", "step_index"):
            close(np.array([step[key] for step in fired], dtype=np.float64),
                  octave["ensemble_%s.%s" % (order, key)], 1e-15, "%s order: %s" % (order, key))


def test_scan_run_of_a_flow_ensemble(octave, system):
    orvel.set_sampling(AO["fs"])
    tx = orvel.xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0, 0, 15e-3])
    rx = orvel.xdc_convex_array(14, 0.3e-3, 3e-3, 0.05e-3, 12e-3, 1, 1, [0, 0, 15e-3])
    fired = im.scan_ensemble(im.scan_convex(14, 0.35e-3, 12e-3, 5, [-0.1, 0.2], 15e-3), 3e3, 3)
    rf, t0 = im.scan_run(fired, tx, rx, flow_phantom(), None)
    close(rf, octave["run_flow.rf"], 1e-12, "scan_run of a flow ensemble")
    close(np.array([t0]), octave["run_flow.t0"], 0, "scan_run of a flow ensemble: t0")
    assert rf.shape[1:] == (2, 3) and not np.array_equal(rf[:, :, 0], rf[:, :, 1])


def test_pyramidal_scan_from_a_sparse_2d_array(octave, system):
    seq = im.scan_phased_2d(15, INPUTS["p2d_angles"], 12e-3)
    assert [step["kind"] for step in seq] == ["line"] * 6
    close(octave["phased2d.kind"], np.zeros((1, 6)), 0, "phased2d.kind")
    for field in ("angle", "angle_y", "x", "tx_apodization", "rx_apodization", "tx_focus",
                  "rx_center"):
        mine = np.array([np.asarray(step[field], dtype=np.float64) for step in seq])
        close(mine, octave["phased2d." + field], 1e-12, "phased2d." + field)
    volume = im.scan_convert_3d(INPUTS["sc3_lines"], INPUTS["p2d_angles"], INPUTS["sc3_r"],
                                INPUTS["sc3_x"], INPUTS["sc3_y"], INPUTS["sc3_z"])
    close(volume, octave["scan_convert_3d"], 1e-12, "scan_convert_3d")
    assert 0.1 < (~np.isnan(volume)).mean() < 0.9
    # The same lines from the same sparse array: scan_apply sets both angles in both languages
    # (the lines' signals would differ otherwise), the window drops some scatterers.
    orvel.set_sampling(AO["fs"])
    tx, rx = (orvel.xdc_2d_array(6, 5, 0.3e-3, 0.3e-3, 0.05e-3, 0.05e-3,
                                 INPUTS["sparse_enabled"], 1, 1, [0, 0, 15e-3]) for _ in range(2))
    e = im.element_positions(rx)
    close(e, octave["sparse.positions"], 1e-15, "element positions of a sparse array")
    assert len(e) == 15
    rf, t0 = im.scan_run(seq, tx, rx, INPUTS["run_points"], INPUTS["run_amplitudes"],
                         window=1e-3)
    close(rf, octave["sparse.rf"], 1e-12, "scan_run of a pyramidal scan")
    close(np.array([t0]), octave["sparse.t0"], 0, "scan_run of a pyramidal scan: t0")
    assert rf.shape[1] == 6 and np.abs(rf).max() > 0


def test_volume_phantoms_sequences_and_refusals(octave):
    e = INPUTS["vol_elements"]
    cases = {"plane2d": im.scan_planewave_2d(e, INPUTS["vol_angles"], C, INPUTS["vol_apod"]),
             "plane2d_ones": im.scan_planewave_2d(e, INPUTS["vol_angles"][1], C),
             "diverging2d": im.scan_diverging_2d(e, INPUTS["vol_sources"], C)}
    for name, seq in cases.items():
        fields = ["kind", "angle", "x", "tx_apodization", "rx_apodization", "tx_delays"]
        fields += [k for k in ("source", "angle_y") if k in seq[0]]
        assert len(fields) == 7, "%s: angle_y or source missing in Python" % name
        for field in fields:
            if field == "kind":
                mine = np.array([["line", "plane", "diverging"].index(s["kind"]) for s in seq])
            else:
                mine = np.array([np.asarray(s[field], dtype=np.float64) for s in seq])
            assert name + "." + field in octave, "%s: Octave has no %s" % (name, field)
            close(mine, octave[name + "." + field], 1e-12, name + "." + field)
    assert not np.all(octave["plane2d.tx_apodization"] == 1)

    for name, args in (("points_xyz", (INPUTS["vol_xyz"], INPUTS["vol_amp"])),
                       ("points_xz", (INPUTS["vol_xz"],))):
        points, amplitudes = im.phantom_points(*args)
        close(points, octave[name + ".points"], 0, name)
        close(amplitudes, octave[name + ".amplitudes"], 0, name + " amplitudes")

    # Octave's random draws are its own: the count is Python's, the positions do not move with
    # the spheres, and the amplitudes are those without them times the gains of the cylinder
    # and the balls holding each point, the balls found here from Octave's positions.
    plain, a0 = octave["tissue_plain.points"], octave["tissue_plain.amplitudes"].reshape(-1)
    points, a = octave["tissue_spheres.points"], octave["tissue_spheres.amplitudes"].reshape(-1)
    mine = im.phantom_tissue(INPUTS["vol_region"], 10, 1e-10, INPUTS["vol_cysts"], 4,
                             spheres=INPUTS["vol_spheres"])[0]
    assert points.shape == mine.shape and np.array_equal(points, plain)
    want = a0.copy()
    for xc, yc, zc, r, gain in INPUTS["vol_spheres"]:
        inside = np.sum((points - [xc, yc, zc]) ** 2, axis=1) <= r ** 2
        assert inside.sum() > 20
        want[inside] *= gain
    assert np.array_equal(a, want) and (a == 0).sum() > 20 and (a != a0).sum() > 40

    e2 = e[:, :2]
    calls = [
        (lambda: im.phantom_tissue(INPUTS["vol_region"], 10, 1e-10, None, 0,
                                   [0, 0, 1e-3, 0]), "phantom_tissue: spheres"),
        (lambda: im.phantom_points(np.ones((2, 4))), "phantom_points: xy?z "),
        (lambda: im.scan_planewave_2d(e, [0.1, 0.2, 0.3], C), "scan_planewave_2d: angles"),
        (lambda: im.scan_planewave_2d(e, [0.1, 0.2], C, np.ones(3)),
         "scan_planewave_2d: apodization"),
        (lambda: im.scan_planewave_2d(e2, [0.1, 0.2], C), "scan_planewave_2d: element_pos"),
        (lambda: im.scan_diverging_2d(e, [0, 0, -0.1e-3], C),
         "scan_diverging_2d: sources must be finite and lie behind the array"),
        (lambda: im.show_volume("w.png", np.zeros((3, 4, 5)), np.arange(1, 5),
                                np.arange(1, 5), np.arange(1, 4), 40), "show_volume: volume_db"),
    ]
    for k, (call, start) in enumerate(calls, 1):
        with pytest.raises(ValueError, match="^" + start):
            call()
        message = "".join(chr(int(ch)) for ch in octave["refusal%d" % k].reshape(-1))
        assert re.match(start, message), "Octave: %s" % message


def test_volume_scan_run_das_beamform_and_show_volume_panels(octave, system):
    orvel.set_sampling(AO["fs"])
    tx, rx = (orvel.xdc_2d_array(4, 3, 0.28e-3, 0.28e-3, 0.02e-3, 0.02e-3, np.ones((4, 3)), 1,
                                 1, [0, 0, 20e-3]) for _ in range(2))
    e = im.element_positions(rx)
    angles, sources = INPUTS["vol_angles"], INPUTS["vol_sources"]
    d = np.linalg.norm(e[:, None, :] - sources[None, :, :], axis=2)
    table = np.column_stack([np.full(2, 2.0), sources, -d.min(axis=0) / C, np.zeros((2, 3))])
    runs = {"vol_plane": (im.scan_planewave_2d(e, angles, C, INPUTS["vol_run_apod"]), angles),
            "vol_diverging": (im.scan_diverging_2d(e, sources, C), table)}
    for name, (seq, transmits) in runs.items():
        rf, t0 = im.scan_run(seq, tx, rx, INPUTS["vol_xyz"], INPUTS["vol_amp"])
        close(rf, octave[name + ".rf"], 1e-12, name + " rf")
        close(np.array([t0]), octave[name + ".t0"], 0, name + " t0")
        image = im.das_beamform(rf, t0, AO["fs"], e, INPUTS["vol_x"], INPUTS["vol_z"], C, 1.5,
                                transmits, 0.0, y=INPUTS["vol_y"])
        close(image, octave[name + ".image"], 1e-10, name + " image")
        assert image.shape == (7, 5, 4) and np.abs(image).max() > 0

    # show_volume's panels drawn without gnuplot: grey blocks of s x s pixels on a blue
    # ground, the slices through the first maximum in C order (NaN as -40 dB) and the
    # projections, from numpy's indexing.
    v = np.where(np.isnan(VOL_DB), -40.0, VOL_DB)
    iz, ix, iy = np.unravel_index(np.argmax(v), v.shape)
    assert (iz, ix, iy) == (2, 4, 3)
    panels = [v[:, :, iy], v[:, ix, :], v[iz].T, v.max(axis=2), v.max(axis=1), v.max(axis=0).T]
    picture = octave["show_volume"]
    nz, nx, ny = v.shape
    s, gap = int(np.ceil(200 / max(nz, nx, ny))), 8
    height = s * max(nz, ny)
    assert picture.shape == (2 * height + 3 * gap, s * (2 * nx + ny) + 4 * gap, 3)
    ground = np.ones(picture.shape[:2], dtype=bool)
    for p, panel in enumerate(panels):
        level = np.round((np.clip(panel, -40, 0) + 40) / 40 * 255)
        top = gap + (p // 3) * (height + gap)
        left = gap + [0, s * nx + gap, s * (nx + ny) + 2 * gap][p % 3]
        rows, cols = s * panel.shape[0], s * panel.shape[1]
        block = picture[top:top + rows, left:left + cols]
        assert np.array_equal(block, np.repeat(np.kron(level, np.ones((s, s)))[:, :, None], 3,
                                               axis=2)), "panel %d" % (p + 1)
        ground[top:top + rows, left:left + cols] = False
    assert (picture[ground] == [0, 0, 160]).all()
