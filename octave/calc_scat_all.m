function [scat, start_time] = calc_scat_all(Th1, Th2, points, amplitudes, dec_factor)
%CALC_SCAT_ALL  Received signals of point scatterers for every transmit and receive element pair.
%   [scat, start_time] = calc_scat_all(Th1, Th2, points, amplitudes, dec_factor)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n by 3 matrix of scatterer positions [x y z] [m]
%   amplitudes  n scattering amplitudes
%   dec_factor  decimation factor D, a whole number of at least 1: the signals are
%               evaluated only at every D-th sample of the time grid
%
%   scat        one column per pair of a transmitting and a receiving physical element: with
%               T transmit and R receive elements, T*R columns, the pair of transmit element
%               t and receive element r (counted from 0) in column t*R + r + 1; counted from
%               1, transmit element e and receive element j give column (e-1)*R + j, so the
%               R columns of the first transmit element come first. Each pair is the echo
%               sent by that element alone and received by that element alone: no focusing
%               and no apodization are applied (the element's own waveform is). The rows are
%               sampled at fs/dec_factor (fs the sampling frequency set by set_sampling) on
%               one time axis; the last row is 0. A pair involving an element without
%               rectangles, or any pair when there are no scatterers, gives a zero column.
%   start_time  time of the first row [s], a multiple of dec_factor/fs
%
%   See also CALC_SCAT, CALC_SCAT_MULTI.
[scat, start_time] = Orvel_mex(4007, orvel_num(Th1), orvel_num(Th2), orvel_num(points), ...
                               orvel_num(amplitudes(:)), orvel_num(dec_factor));
end
