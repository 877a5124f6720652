function out = acoustic_output(Th, points, prf)
%ACOUSTIC_OUTPUT  Mechanical index and derated intensities of an emitted pulse.
%   out = acoustic_output(Th, points, prf)
%
%   Th      aperture handle; the pulse (its impulse response convolved with its excitation)
%           must be the surface velocity [m/s] for the results to be in pascals and W/m^2
%   points  n x 3 matrix, one field point [x y z] per row [m], n >= 1 (one point may be a
%           column): where to look for the peaks (e.g. the beam axis, or a plane through
%           the focus)
%   prf     pulse repetition frequency [Hz], one positive finite number
%
%   out     struct of the results [each in the unit given below]:
%     p_r3       the largest derated peak rarefactional pressure over the points [Pa]:
%                max of calc_hp_map's p_minus with the derating on
%     mi_point   the 1 x 3 point where p_r3 is [m] (the first of equal ones)
%     f_awf      acoustic working frequency at mi_point [Hz]: (f_lo + f_hi)/2, f_lo and
%                f_hi the frequencies below and above the peak of abs(fft(p, N)), nearest
%                to it, where it falls to 10^(-3/20) of the peak (3 dB below it), found by
%                linear interpolation between bins; p is the un-derated pressure there and
%                N = 2^nextpow2(max(16384, 8*numel(p))) (zero-padded); where no crossing
%                lies below (above) the peak, f_lo = 0 (f_hi = fs/2)
%     mi         mechanical index (p_r3/1e6) / sqrt(f_awf/1e6) [no unit]: the pressure in
%                MPa over the root of the frequency in MHz. p_r3 is at least the derated
%                p_minus at pii_point, the point some standards take for the index, so mi
%                is at least their value wherever f_awf is the same at both points (as for
%                a pulse that keeps its spectrum)
%     pii_3      the largest derated pulse intensity integral over the points [J/m^2]:
%                max of calc_hp_map's pii, sum(p.^2)/fs/(rho*c), with the derating on
%     pii_point  the 1 x 3 point where pii_3 is [m] (the first of equal ones)
%     pd         pulse duration at pii_point [s]: 1.25*(t90 - t10), t10 and t90 the times
%                at which the running integral of the derated p.^2 reaches 10 % and 90 % of
%                its total (the integral taken as cumsum(p.^2)/fs at the ends of the
%                samples, linear between them)
%     isppa_3    derated spatial-peak pulse-average intensity pii_3 / pd [W/m^2]
%     ispta_3    derated spatial-peak temporal-average intensity pii_3 * prf [W/m^2]
%
%   The pressure at a point is p = rho*fs*conv(s, [-1 8 0 -8 1]/12) [Pa], s the signal
%   calc_hp gives there, rho = get_option('rho') [kg/m^3] and fs = get_option('fs') [Hz]
%   (the derivative of calc_hp_map). Derating is a loss of 0.3 dB/(cm MHz) = 3e-5 dB/(m Hz)
%   along the path, set through the attenuation options: use_att 1, att 0, freq_att 3e-5
%   [dB/(m Hz)], att_f0 0 [Hz] (a loss of exactly freq_att*f dB/m, help set_option). The
%   un-derated pressure is that of the lossless medium (use_att 0). The four options are
%   read before and set back afterwards, also when the calculation fails, so the caller's
%   attenuation plays no part in the results and is kept. A field that is 0 at every point
%   is refused (it has no working frequency).
%
%   Usual limits, for reference: MI 1.9; I_spta.3 720 mW/cm^2 (7200 W/m^2);
%   I_sppa.3 190 W/cm^2 (1.9e6 W/m^2).
%
%   Example: the output along the axis of a focused array
%     out = acoustic_output(Th, [zeros(200, 2), (1:200)' * 0.5e-3], 5e3);
%     printf('MI %.2f at z = %.1f mm\n', out.mi, out.mi_point(3) * 1e3);
%
%   See also CALC_HP_MAP, CALC_HP, SET_OPTION, GET_OPTION.
if nargin < 3
  error('orvel:usage', 'acoustic_output: needs 3 arguments: acoustic_output(Th, points, prf)');
end
numbers = (isnumeric(points) || islogical(points)) && isreal(points);
if numbers && isequal(size(points), [3 1])   % one point as a column, as calc_hp_map takes it
  points = points.';
elseif ~numbers || ndims(points) ~= 2 || columns(points) ~= 3
  hint = '';
  if numbers && ndims(points) == 2 && rows(points) == 3
    hint = '; transpose it (points.'')';
  end
  shape = sprintf('%d x ', size(points));
  error('orvel:badArgument', ['acoustic_output: points must be an n x 3 real matrix ' ...
        '(one row [x y z] per point), but is %s%s'], shape(1:end - 3), hint);
end
if isempty(points)
  error('orvel:badArgument', 'acoustic_output: points must hold at least one point');
end
bad = find(~all(isfinite(points), 2), 1);
if ~isempty(bad)
  error('orvel:badArgument', 'acoustic_output: points must be finite, but row %d is not', bad);
end
if ~isnumeric(prf) || ~isreal(prf) || ~isscalar(prf) || ~(prf > 0) || ~isfinite(prf)
  error('orvel:badArgument', 'acoustic_output: prf must be a positive finite number [Hz]');
end
points = double(points);

names = {'use_att', 'att', 'freq_att', 'att_f0'};
saved = cellfun(@get_option, names, 'UniformOutput', false);
restore = onCleanup(@() cellfun(@set_option, names, saved));
derating = {1, 0, 3e-5, 0};   % 0.3 dB/(cm MHz): freq_att*f dB/m with f in Hz
cellfun(@set_option, names, derating);
rho = get_option('rho');
fs = get_option('fs');
pressure = @(s) rho * fs * conv(s, [-1 8 0 -8 1]' / 12);

[~, map] = calc_hp_map(Th, points, {'p_minus', 'pii'});
[p_r3, i_mi] = max(map.p_minus);
[pii_3, i_pii] = max(map.pii);
if ~(p_r3 > 0)
  error('orvel:badArgument', ['acoustic_output: the pressure is 0 at every point (is the ' ...
        'pulse set, and do the points lie in the field?)']);
end
pd = pulse_duration(pressure(calc_hp(Th, points(i_pii, :))), fs);
set_option('use_att', 0);
f_awf = working_frequency(pressure(calc_hp(Th, points(i_mi, :))), fs);

out = struct('p_r3', p_r3, 'mi_point', points(i_mi, :), 'f_awf', f_awf, ...
             'mi', (p_r3 / 1e6) / sqrt(f_awf / 1e6), 'pii_3', pii_3, ...
             'pii_point', points(i_pii, :), 'pd', pd, 'isppa_3', pii_3 / pd, ...
             'ispta_3', pii_3 * prf);
end

function pd = pulse_duration(p, fs)
% 1.25 times the time the running energy takes from 10 % to 90 % of the total. The energy
% after j samples is q(j + 1); between sample ends it grows linearly.
q = [0; cumsum(p .^ 2)];
at = @(level) crossing(q, level * q(end));
pd = 1.25 * (at(0.9) - at(0.1)) / fs;
end

function x = crossing(q, level)
% The fractional number of samples at which the non-decreasing q (q(1) = 0 < level) first
% reaches level.
i = find(q >= level, 1);
x = (i - 2) + (level - q(i - 1)) / (q(i) - q(i - 1));
end

function f = working_frequency(p, fs)
% The mean of the -3 dB frequencies on either side of the spectrum's peak.
n = 2 ^ nextpow2(max(16384, 8 * numel(p)));
a = abs(fft(p, n));
a = a(1:n / 2 + 1);             % 0 to fs/2
df = fs / n;
[peak, k] = max(a);
level = peak * 10 ^ (-3 / 20);
lo = find(a(1:k) < level, 1, 'last');
if isempty(lo)
  f_lo = 0;
else                            % between bins lo (below) and lo + 1 (at or above)
  f_lo = (lo - 1 + (level - a(lo)) / (a(lo + 1) - a(lo))) * df;
end
hi = k - 1 + find(a(k:end) < level, 1);
if isempty(hi)
  f_hi = fs / 2;
else                            % between bins hi - 1 (at or above) and hi (below)
  f_hi = (hi - 2 + (a(hi - 1) - level) / (a(hi - 1) - a(hi))) * df;
end
f = (f_lo + f_hi) / 2;
end
