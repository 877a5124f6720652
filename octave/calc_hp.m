function [hp, start_time] = calc_hp(Th, points)
%CALC_HP  Emitted pressure field of an aperture at field points.
%   [hp, start_time] = calc_hp(Th, points)
%
%   Th          aperture handle
%   points      n by 3 matrix of field points [x y z] [m]
%
%   hp          emitted field, one column per point: the spatial impulse response convolved
%               with the aperture's impulse response and excitation (each convolution scaled
%               by 1/fs); the columns share one time axis and the last row is 0
%   start_time  time of the first row [s]
%
%   See also CALC_H, XDC_IMPULSE, XDC_EXCITATION.
[hp, start_time] = Orvel_mex(4002, orvel_num(Th), orvel_num(points));
end
