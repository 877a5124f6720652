function [h, start_time] = calc_h(Th, points)
%CALC_H  Spatial impulse response of an aperture at field points.
%   [h, start_time] = calc_h(Th, points)
%
%   Th          aperture handle
%   points      n by 3 matrix of field points [x y z] [m]
%
%   h           spatial impulse responses [m/s], one column per point, one row per sample
%               at the sampling frequency fs (set_sampling); all columns share one time
%               axis and the last row is 0
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   Focusing and apodization of the aperture are included; element waveforms are not. A
%   point no element reaches gives a column of zeros.
%
%   See also CALC_HP, CALC_HHP, SET_SAMPLING.
[h, start_time] = Orvel_mex(4001, orvel_num(Th), orvel_num(points));
end
