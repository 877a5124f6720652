function [scat, start_time] = calc_scat(Th1, Th2, points, amplitudes)
%CALC_SCAT  Received signal from a collection of point scatterers.
%   [scat, start_time] = calc_scat(Th1, Th2, points, amplitudes)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n x 3 matrix, one scatterer position [x y z] per row [m]
%   amplitudes  n scattering amplitudes, one per point (a row or a column)
%
%   scat        the received signal [calc_hhp's unit times amplitude's], one column without a
%               trailing row: the sum over the scatterers of amplitude times the pulse-echo
%               field of calc_hhp at its position
%   start_time  time of its first sample [s]; sample k is at start_time + (k-1)/fs
%
%   The echo of a scatterer at the common focus F lies near 2*|F - ref|/c + lag, lag being
%   half the length of the two-way pulse (help orvel: Time of an echo).
%
%   See also CALC_SCAT_MULTI, CALC_SCAT_ALL, CALC_HHP, ORVEL.
orvel_usage(nargin, 4, 'calc_scat(Th1, Th2, points, amplitudes)');
[points, n] = orvel_points('calc_scat', 'points', points);
amplitudes = orvel_values('calc_scat', 'amplitudes', amplitudes, n, 'point');
[scat, start_time] = Orvel_mex(4005, orvel_num(Th1), orvel_num(Th2), points, amplitudes);
end
