function [map, fields] = calc_hhp_map(Th1, Th2, points, quantities)
%CALC_HHP_MAP  Map of the pulse-echo field: the quantities of calc_hp_map for calc_hhp.
%   [map, fields] = calc_hhp_map(Th1, Th2, points, quantities)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n x 3 matrix, one field point [x y z] per row [m]
%   quantities  a name, or a cell of names and {'cw', f}, as for calc_hp_map
%
%   map         n x k matrix [the unit of each quantity, below]: one row per point, one
%               column per quantity in the order asked
%   fields      the same as a struct, one field of n values per quantity [as in map]
%
%   At each point the signal s that calc_hhp would return there (the echo of a scatterer of
%   amplitude 1) is reduced to the quantities of calc_hp_map, by the same formulas, and
%   dropped. Here p = rho ds/dt is the echo's derivative scaled by the density: proportional
%   to the pressure an element of the receive aperture would record from a unit point
%   scatterer at the point, for comparing points (the two-way beam), not an absolute pressure
%   [Pa times m/s, times the unit of the receive impulse response]. T of p_rms is the
%   duration of the two-way pulse (transmit impulse response, excitation and receive impulse
%   response convolved), and V(f) of the cw quantities that pulse's component at f: the cw
%   quantities are the two-way field of a continuous wave, the transmit and receive harmonic
%   responses multiplied, times rho 2 pi f. raw_peak and raw_energy are of calc_hhp's result
%   [its unit; its unit squared times s].
%
%   See also CALC_HHP, CALC_HP_MAP, SET_OPTION.
orvel_usage(nargin, 4, 'calc_hhp_map(Th1, Th2, points, quantities)');
points = orvel_points('calc_hhp_map', 'points', points);
[names, f, columns] = orvel_quantities('calc_hhp_map', quantities);
if isempty(f)
  map = Orvel_mex(7003, orvel_num(Th1), orvel_num(Th2), points, names);
else
  map = Orvel_mex(7003, orvel_num(Th1), orvel_num(Th2), points, names, f);
end
if nargout > 1
  fields = orvel_map_fields(map, columns);
end
end
