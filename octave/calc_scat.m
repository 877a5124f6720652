function [scat, start_time] = calc_scat(Th1, Th2, points, amplitudes)
%CALC_SCAT  Received signal from a collection of point scatterers.
%   [scat, start_time] = calc_scat(Th1, Th2, points, amplitudes)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n by 3 matrix of scatterer positions [x y z] [m]
%   amplitudes  n scattering amplitudes
%
%   scat        the summed received signal as one column (no trailing row)
%   start_time  time of its first sample [s]
%
%   See also CALC_SCAT_MULTI, CALC_HHP.
[scat, start_time] = Orvel_mex(4005, orvel_num(Th1), orvel_num(Th2), orvel_num(points), ...
                               orvel_num(amplitudes(:)));
end
