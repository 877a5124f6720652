% The non-linear calculations through the script layer and the real module: with every
% distance 0 each equals its linear twin, and the per-element signals of
% calc_scat_multi_non_linear add up to calc_scat_non_linear.
orvel_init(-1);
fs = 100e6;
f0 = 3e6;
Th = xdc_linear_array(8, 0.3e-3, 4e-3, 0.05e-3, 1, 3, [0 0 25e-3]);
Rh = xdc_linear_array(6, 0.3e-3, 4e-3, 0.05e-3, 1, 2, [0 0 25e-3]);
t = (0:1 / fs:3 / f0)';
xdc_excitation(Th, 2e5 * sin(2 * pi * f0 * t)');
xdc_impulse(Th, (sin(2 * pi * f0 * t) .* hanning(numel(t)))');
xdc_impulse(Rh, (sin(2 * pi * f0 * t) .* hanning(numel(t)))');
points = [0 0 20e-3; 2e-3 0 25e-3; -1e-3 1e-3 30e-3];
amplitudes = [1; -0.5; 2];
% A source strong enough for about 1 MPa at the points, where the distortion shows.
xdc_excitation(Th, 2e5 * sin(2 * pi * f0 * t)' * 1e6 / max(max(abs(calc_hp(Th, points)))));

% With every distance 0: the same time axis and the same samples up to rounding.
zero = zeros(rows(points), 1);
twins = {'calc_hp', @() calc_hp_non_linear(Th, points, zero), @() calc_hp(Th, points)
         'calc_hhp', @() calc_hhp_non_linear(Th, Rh, points, zero), @() calc_hhp(Th, Rh, points)
         'calc_scat', @() calc_scat_non_linear(Th, Rh, points, amplitudes, zero), ...
                      @() calc_scat(Th, Rh, points, amplitudes)
         'calc_scat_multi', @() calc_scat_multi_non_linear(Th, Rh, points, amplitudes, zero), ...
                            @() calc_scat_multi(Th, Rh, points, amplitudes)};
for k = 1:rows(twins)
  [a, ta] = twins{k, 2}();
  [b, tb] = twins{k, 3}();
  assert(isequal(size(a), size(b)), '%s: sizes differ', twins{k, 1});
  assert(abs(ta - tb) < 1e-15, '%s: start times differ', twins{k, 1});
  assert(max(abs(a(:) - b(:))) <= 1e-9 * max(abs(b(:))), '%s: samples differ', twins{k, 1});
end

% Distorted over their own distances: the receive elements' signals add up to the sum.
distances = [20e-3; 25e-3; 30e-3];
[multi, tm] = calc_scat_multi_non_linear(Th, Rh, points, amplitudes, distances);
[single, ts] = calc_scat_non_linear(Th, Rh, points, amplitudes, distances);
summed = sum(multi, 2);
offset = round((ts - tm) * fs);  % rows of the single signal after the first row of multi
assert(offset >= 0 && offset + rows(single) <= rows(summed) + 1);
part = summed(offset + 1:min(offset + rows(single), rows(summed)));
assert(max(abs(part - single(1:numel(part)))) <= 1e-9 * max(abs(single)));
% (That the distortion is real is checked in tests/unit, test_non_linear.)
orvel_end();
