function [hp, start_time] = calc_hp_non_linear(Th, points, distances)
%CALC_HP_NON_LINEAR  Emitted pressure field with non-linear propagation.
%   [hp, start_time] = calc_hp_non_linear(Th, points, distances)
%
%   Th          aperture handle
%   points      n x 3 matrix, one field point [x y z] per row [m]
%   distances   n propagation distances [m], one per point (a row or a column)
%
%   hp          emitted pressure [Pa when calc_hp gives Pa], one column per point on one time
%               axis: the field of calc_hp, distorted as if it had travelled its point's
%               distance through a medium whose sound speed grows with the pressure; the
%               last row is 0
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   The samples are taken as pressures in Pa: give the aperture an impulse response and
%   excitation whose convolution is rho0 dv/dt [Pa/m] (help orvel), or the distortion is
%   that of another amplitude.
%
%   The model: the distance is crossed in steps of dz (floor(distance/dz + 0.5) steps; none
%   for a distance below dz/2 or a negative one, which gives the linear field). In each step
%   every sample p but the last is advanced in time in proportion to its own value, by
%   (1 + B/A/2) p dz / (rho c^3) seconds with the density rho fixed at 1000 kg/m^3, and the
%   signal is interpolated linearly at the shifted times. Peaks of positive pressure thus move
%   earlier and troughs later, steepening the wave and building its harmonics.
%
%   Options (SET_OPTION): 'BdivA' the non-linearity parameter B/A (5.2); 'dz' the step [m]
%   (0.5e-3); 'c' and 'fs' as for every calculation.
%
%   Limits: a simple time-shift model of the distortion of a plane wave, valid before shocks
%   form (beyond the shock distance the model no longer holds). A smaller dz is more accurate
%   and slower; a sample whose shift in one step reaches past the end of the signal is
%   kept and reported by the warning "Index outside range found for
%   non-linear propagation", which a smaller dz avoids.
%
%   See also CALC_HP, CALC_HHP_NON_LINEAR, SET_OPTION, ORVEL.
orvel_usage(nargin, 3, 'calc_hp_non_linear(Th, points, distances)');
[points, n] = orvel_points('calc_hp_non_linear', 'points', points);
distances = orvel_values('calc_hp_non_linear', 'distances', distances, n, 'point');
[hp, start_time] = Orvel_mex(4012, orvel_num(Th), points, distances);
end
