% Field maps through the script layer and the real module: the columns come in the order
% asked and as a struct, {'cw', f} stands for both cw quantities in its place, p_peak is the
% documented derivative of calc_hp's signal, and malformed quantity lists are refused.
orvel_init(-1);
fs = 100e6;
f0 = 3e6;
Th = xdc_linear_array(16, 0.3e-3, 4e-3, 0.05e-3, 1, 3, [0 0 25e-3]);
t = (0:1 / fs:2 / f0)';
xdc_excitation(Th, sin(2 * pi * f0 * t)');
xdc_impulse(Th, (sin(2 * pi * f0 * t) .* hanning(numel(t)))');
set_option('rho', 1020);
points = [0 0 20e-3; 2e-3 0 25e-3; -1e-3 1e-3 30e-3; 0 0 40e-3];

[m, s] = calc_hp_map(Th, points, {'pii', {'cw', f0}, 'p_peak'});
assert(isequal(size(m), [4 4]));
assert(isequal(fieldnames(s)', {'pii', 'cw_amplitude', 'cw_phase', 'p_peak'}));
assert(isequal(m, [s.pii, s.cw_amplitude, s.cw_phase, s.p_peak]));
assert(isequal(m(:, 4), calc_hp_map(Th, points, 'p_peak')));
assert(isequal(m(:, 2), calc_hp_map(Th, points, {'cw_amplitude', {'cw', f0}})));

% p = rho ds/dt by the fourth-order central difference of calc_hp's signal.
hp = calc_hp(Th, points);
p = 1020 * fs * conv2(hp, [-1; 8; 0; -8; 1] / 12);
assert(max(abs(m(:, 4)' - max(abs(p))) ./ max(abs(p))) < 1e-12);

hhp = calc_hhp_map(Th, Th, points, {'raw_peak'});
assert(max(abs(hhp' - max(abs(calc_hhp(Th, Th, points))))) == 0);

expect_error(@() calc_hp_map(Th, points, 3), ['calc_hp_map: quantities must be a name or a ' ...
             'cell of names (and {''cw'', f}), but is 1 x 1']);
expect_error(@() calc_hp_map(Th, points, {'p_peak', {'cw', 1e6}, {'cw', 2e6}}), ...
             'calc_hp_map: the quantities give {''cw'', f} more than once');
expect_error(@() calc_hhp_map(Th, Th, points, {{'cw'}}), ['calc_hhp_map: a cell among the ' ...
             'quantities must be {''cw'', f} with one frequency f [Hz], but item 1 is not']);
expect_error(@() calc_hp_map(Th, points, {'p_peak', 'cw_phase'}), ['Error: cw_amplitude and ' ...
             'cw_phase need the frequency of the wave: give {''cw'', f} (Octave) or ("cw", f) ' ...
             '(Python) among the quantities, f in Hz']);
expect_error(@() calc_hp_map(Th, points), ['calc_hp_map: needs 3 arguments: ' ...
             'calc_hp_map(Th, points, quantities)']);
xdc_free(Th);
orvel_end();
