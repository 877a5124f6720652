function [hhp, start_time] = calc_hhp(Th1, Th2, points)
%CALC_HHP  Pulse-echo field of a transmit and a receive aperture at field points.
%   [hhp, start_time] = calc_hhp(Th1, Th2, points)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n x 3 matrix, one field point [x y z] per row [m]
%
%   hhp         pulse-echo field [m^2 times the unit of the two-way pulse], one column per
%               point on one time axis (as calc_h); the last row is 0
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   hhp is the transmit and the receive spatial impulse responses convolved with each other,
%   with the transmit impulse response and excitation and with the receive impulse response
%   (the two-way pulse), each convolution a time integral (sum of products times 1/fs). It is
%   the echo of one scatterer of amplitude 1 at the point (calc_scat); no density, scattering
%   constant or time derivative is applied (help orvel). Each aperture uses its own focusing
%   and apodization, read at its elements' one-way times of flight to the point. The echo of
%   a point at the common focus F is centred near 2*|F - ref|/c + lag (help orvel).
%
%   See also CALC_HP, CALC_SCAT, ORVEL.
orvel_usage(nargin, 3, 'calc_hhp(Th1, Th2, points)');
points = orvel_points('calc_hhp', 'points', points);
[hhp, start_time] = Orvel_mex(4003, orvel_num(Th1), orvel_num(Th2), points);
end
