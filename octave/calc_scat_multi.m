function [scat, start_time] = calc_scat_multi(Th1, Th2, points, amplitudes)
%CALC_SCAT_MULTI  Received signals of point scatterers, one per receiving element.
%   [scat, start_time] = calc_scat_multi(Th1, Th2, points, amplitudes)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n x 3 matrix, one scatterer position [x y z] per row [m]
%   amplitudes  n scattering amplitudes, one per point (a row or a column)
%
%   scat        received signals [unit of calc_scat], one column per physical element of the
%               receive aperture (with its own focusing delay and apodization), on one time
%               axis; the last row is 0. The columns summed give the signal of calc_scat.
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   See also CALC_SCAT, CALC_SCAT_ALL, ORVEL.
orvel_usage(nargin, 4, 'calc_scat_multi(Th1, Th2, points, amplitudes)');
[points, n] = orvel_points('calc_scat_multi', 'points', points);
amplitudes = orvel_values('calc_scat_multi', 'amplitudes', amplitudes, n, 'point');
[scat, start_time] = Orvel_mex(4006, orvel_num(Th1), orvel_num(Th2), points, amplitudes);
end
