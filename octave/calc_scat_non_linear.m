function [scat, start_time] = calc_scat_non_linear(Th1, Th2, points, amplitudes, distances)
%CALC_SCAT_NON_LINEAR  Received signal of point scatterers with non-linear propagation.
%   [scat, start_time] = calc_scat_non_linear(Th1, Th2, points, amplitudes, distances)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n x 3 matrix, one scatterer position [x y z] per row [m]
%   amplitudes  n scattering amplitudes, one per point (a row or a column)
%   distances   n propagation distances [m], one per point (a row or a column)
%
%   scat        the summed received signal [calc_hhp_non_linear's unit times amplitude's], one
%               column without a trailing row: for each scatterer the
%               transmitted field distorted over its distance, convolved with the receive
%               spatial impulse response and times its amplitude; the receive impulse
%               response applied once to the sum
%   start_time  time of its first sample [s]; sample k is at start_time + (k-1)/fs
%
%   The distortion is that of CALC_HP_NON_LINEAR, which takes the transmitted field's samples
%   as pressures in Pa: in steps of dz, each sample advanced in time in proportion to its own
%   value, (1 + B/A/2) p dz / (rho c^3) seconds per step, the sound speed growing with the
%   pressure and the density fixed at 1000 kg/m^3. Only the transmitted wave is distorted.
%   Options 'BdivA' and 'dz' (SET_OPTION); distances below dz/2 give the linear signal of
%   CALC_SCAT. A time-shift model of plane-wave distortion, valid before shocks form; a
%   smaller dz is more accurate, slower, and avoids the out-of-range warning.
%
%   See also CALC_SCAT, CALC_SCAT_MULTI_NON_LINEAR, SET_OPTION, ORVEL.
orvel_usage(nargin, 5, 'calc_scat_non_linear(Th1, Th2, points, amplitudes, distances)');
[points, n] = orvel_points('calc_scat_non_linear', 'points', points);
amplitudes = orvel_values('calc_scat_non_linear', 'amplitudes', amplitudes, n, 'point');
distances = orvel_values('calc_scat_non_linear', 'distances', distances, n, 'point');
[scat, start_time] = Orvel_mex(4014, orvel_num(Th1), orvel_num(Th2), points, amplitudes, ...
                               distances);
end
