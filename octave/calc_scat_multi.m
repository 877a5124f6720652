function [scat, start_time] = calc_scat_multi(Th1, Th2, points, amplitudes)
%CALC_SCAT_MULTI  Received signals of point scatterers, one per receiving element.
%   [scat, start_time] = calc_scat_multi(Th1, Th2, points, amplitudes)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n by 3 matrix of scatterer positions [x y z] [m]
%   amplitudes  n scattering amplitudes
%
%   scat        one column per physical element of the receive aperture (with its own
%               apodization), on one time axis; the last row is 0. The columns summed give
%               the signal of calc_scat.
%   start_time  time of the first row [s]
%
%   See also CALC_SCAT.
[scat, start_time] = Orvel_mex(4006, orvel_num(Th1), orvel_num(Th2), orvel_num(points), ...
                               orvel_num(amplitudes(:)));
end
