function [scat, start_time] = calc_scat_all(Th1, Th2, points, amplitudes, dec_factor)
%CALC_SCAT_ALL  Received signals of point scatterers for every transmit and receive element pair.
%   [scat, start_time] = calc_scat_all(Th1, Th2, points, amplitudes, dec_factor)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n x 3 matrix, one scatterer position [x y z] per row [m]
%   amplitudes  n scattering amplitudes, one per point (a row or a column)
%   dec_factor  decimation factor, a whole number of at least 1: the signals are evaluated
%               only at every dec_factor-th sample of the time grid (no low-pass filter)
%
%   scat        received signals [unit of calc_scat], one column per pair of a transmitting
%               and a receiving physical element: with T transmit and R receive elements, T*R
%               columns; transmit element e and receive element j (counted from 1) give column
%               (e-1)*R + j, so the R columns of the first transmit element come first. Each
%               pair is the echo sent by that element alone and received by that element
%               alone: no focusing and no apodization are applied (the element's own waveform
%               is). The rows are sampled at fs/dec_factor on one time axis; the last row is
%               0. A pair involving an element without rectangles, or any pair when there are
%               no scatterers, gives a zero column.
%   start_time  time of the first row [s], a multiple of dec_factor/fs; row k is at
%               start_time + (k-1)*dec_factor/fs
%
%   See also CALC_SCAT, CALC_SCAT_MULTI, ORVEL.
orvel_usage(nargin, 5, 'calc_scat_all(Th1, Th2, points, amplitudes, dec_factor)');
[points, n] = orvel_points('calc_scat_all', 'points', points);
amplitudes = orvel_values('calc_scat_all', 'amplitudes', amplitudes, n, 'point');
[scat, start_time] = Orvel_mex(4007, orvel_num(Th1), orvel_num(Th2), points, amplitudes, ...
                               orvel_num(dec_factor));
end
