function [scat, start_time] = calc_scat_non_linear(Th1, Th2, points, amplitudes, distances)
%CALC_SCAT_NON_LINEAR  Received signal of point scatterers with non-linear propagation.
%   [scat, start_time] = calc_scat_non_linear(Th1, Th2, points, amplitudes, distances)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n by 3 matrix of scatterer positions [x y z] [m]
%   amplitudes  n scattering amplitudes
%   distances   n propagation distances [m], one per scatterer
%
%   scat        the summed received signal as one column (no trailing row): for each
%               scatterer the transmitted field distorted over its distance, convolved with
%               the receive spatial impulse response and times its amplitude; the receive
%               impulse response applied once to the sum
%   start_time  time of its first sample [s]
%
%   The distortion is that of CALC_HP_NON_LINEAR: in steps of dz, each sample advanced in
%   time in proportion to its own value, (1 + B/A/2) p dz / (rho c^3) seconds per step, the
%   sound speed growing with the pressure and the density fixed at 1000 kg/m^3. Only the
%   transmitted wave is distorted. Options 'BdivA' and 'dz' (SET_OPTION); distances below
%   dz/2 give the linear signal of CALC_SCAT. A time-shift model of plane-wave distortion,
%   valid before shocks form; a smaller dz is more accurate, slower, and avoids the
%   out-of-range warning.
%
%   See also CALC_SCAT, CALC_SCAT_MULTI_NON_LINEAR, SET_OPTION.
[scat, start_time] = Orvel_mex(4014, orvel_num(Th1), orvel_num(Th2), orvel_num(points), ...
                               orvel_num(amplitudes(:)), orvel_num(distances(:)));
end
