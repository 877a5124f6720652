function [h, start_time] = calc_h(Th, points)
%CALC_H  Spatial impulse response of an aperture at field points.
%   [h, start_time] = calc_h(Th, points)
%
%   Th          aperture handle
%   points      n x 3 matrix, one field point [x y z] per row [m]
%
%   h           spatial impulse responses [m/s], one column per point, one row per sample at
%               fs (set_sampling), all columns on one time axis; the last row is 0
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   For a surface velocity v(t) [m/s] the velocity potential at a point is v conv h and the
%   pressure rho0 d/dt (v conv h) [Pa] (help orvel); a flat piston seen on its axis gives c.
%   Focusing delays and apodization are included; impulse response, excitation and element
%   waveforms are not; with attenuation on (set_option) h is attenuated. A point that no
%   element reaches gives a column of zeros.
%
%   See also CALC_HP, CALC_HHP, SET_SAMPLING, ORVEL.
orvel_usage(nargin, 2, 'calc_h(Th, points)');
points = orvel_points('calc_h', 'points', points);
[h, start_time] = Orvel_mex(4001, orvel_num(Th), points);
end
