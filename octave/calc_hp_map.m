function [map, fields] = calc_hp_map(Th, points, quantities)
%CALC_HP_MAP  Map of the emitted field: peak pressures, intensity, harmonic field per point.
%   [map, fields] = calc_hp_map(Th, points, quantities)
%
%   Th          aperture handle
%   points      n x 3 matrix, one field point [x y z] per row [m]
%   quantities  a name, or a cell of names, e.g. {'p_peak', 'pii', {'cw', 3e6}} (below)
%
%   map         n x k matrix [the unit of each quantity, below]: one row per point, one
%               column per quantity in the order asked
%   fields      the same as a struct, one field of n values per quantity [as in map]
%
%   At each point the signal s that calc_hp would return there is computed, reduced to the
%   quantities and dropped: memory grows with n x k, not with the signals, and the work runs
%   on every thread (the map is the same for every number of threads). With the aperture's
%   impulse response convolved with its excitation the surface velocity [m/s], the pressure
%   is p = rho ds/dt [Pa], rho the option rho (default 1000 kg/m^3, set_option). The
%   derivative is the fourth-order central difference on the sample grid, s taken as 0
%   outside its samples:
%       p(j) = rho*fs*((s(j-2) - s(j+2)) + 8*(s(j+1) - s(j-1)))/12
%   for j from 2 before the first sample of s to 2 after its last; its error for a tone of
%   frequency f is about (2*pi*f/fs)^4/30 (3e-4 at f = fs/20). The quantities:
%     'p_plus'        max(p), 0 if p is nowhere positive [Pa]
%     'p_minus'       -min(p), 0 if p is nowhere negative: the peak rarefaction [Pa]
%     'p_peak'        max(abs(p)) [Pa]
%     't_peak'        time of the first sample with the largest abs(p), NaN where p = 0 [s]
%     'pii'           pulse intensity integral sum(p.^2)/fs/(rho*c) [J/m^2]
%     'p_rms'         sqrt(sum(p.^2)/fs/T), T = the duration of the impulse response
%                     convolved with the excitation (its samples / fs) [Pa]
%     'cw_amplitude'  abs(P(f)/V(f)), P(f) = sum(p.*exp(-2i*pi*f*t))/fs over the samples of p
%                     at their times t, V(f) the same sum over the impulse response convolved
%                     with the excitation: the pressure amplitude of the continuous wave of
%                     frequency f whose surface velocity has amplitude 1 [Pa per m/s]
%     'cw_phase'      angle(P(f)/V(f)), the phase of that wave relative to the surface
%                     velocity, in (-pi, pi] [rad]
%     'raw_peak'      max(abs(s)) of the unscaled signal [the unit of calc_hp's result]
%     'raw_energy'    sum(s.^2)/fs [that unit squared, times s]
%   The cw quantities need their frequency f [Hz], 0 < f < fs/2, given in the list as
%   {'cw', f} (in Python the tuple ("cw", f)); a {'cw', f} in a list naming neither cw
%   quantity asks for both, in its place. Python returns a dict of 1-D arrays instead of map
%   and fields, name -> values, in the order asked.
%   Unknown names, a cw quantity without f, and a frequency at which the pulse has no
%   component are refused, listing what is accepted.
%
%   Example: the peak pressure and the 3 MHz harmonic field over a plane
%     [X, Z] = meshgrid(-20e-3:0.2e-3:20e-3, 5e-3:0.25e-3:80e-3);
%     m = calc_hp_map(Th, [X(:), 0*X(:), Z(:)], {'p_peak', {'cw', 3e6}});
%     imagesc(20*log10(reshape(m(:, 1), size(X)) / max(m(:, 1))));
%
%   See also CALC_HP, CALC_HHP_MAP, ACOUSTIC_OUTPUT, SET_OPTION.
orvel_usage(nargin, 3, 'calc_hp_map(Th, points, quantities)');
points = orvel_points('calc_hp_map', 'points', points);
[names, f, columns] = orvel_quantities('calc_hp_map', quantities);
if isempty(f)
  map = Orvel_mex(7002, orvel_num(Th), points, names);
else
  map = Orvel_mex(7002, orvel_num(Th), points, names, f);
end
if nargout > 1
  fields = orvel_map_fields(map, columns);
end
end
