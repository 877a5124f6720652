function [hhp, start_time] = calc_hhp(Th1, Th2, points)
%CALC_HHP  Pulse-echo field of a transmit and a receive aperture at field points.
%   [hhp, start_time] = calc_hhp(Th1, Th2, points)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n by 3 matrix of field points [x y z] [m]
%
%   hhp         pulse-echo response, one column per point: the transmit and receive spatial
%               impulse responses convolved with each other, with the transmit impulse
%               response and excitation and with the receive impulse response; the columns
%               share one time axis and the last row is 0
%   start_time  time of the first row [s]
%
%   See also CALC_HP, CALC_SCAT.
[hhp, start_time] = Orvel_mex(4003, orvel_num(Th1), orvel_num(Th2), orvel_num(points));
end
