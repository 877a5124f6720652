function [scat, start_time] = calc_scat_multi_non_linear(Th1, Th2, points, amplitudes, distances)
%CALC_SCAT_MULTI_NON_LINEAR  Per-element received signals with non-linear propagation.
%   [scat, start_time] = calc_scat_multi_non_linear(Th1, Th2, points, amplitudes, distances)
%
%   Th1, Th2    handles of the transmit and the receive aperture
%   points      n x 3 matrix, one scatterer position [x y z] per row [m]
%   amplitudes  n scattering amplitudes, one per point (a row or a column)
%   distances   n propagation distances [m], one per point (a row or a column)
%
%   scat        received signals [unit of calc_scat_non_linear], one column per physical
%               element of the receive aperture (with its own focusing delay and
%               apodization), on one time axis; the last row is 0. The columns summed give
%               the signal of calc_scat_non_linear.
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   The distortion is that of CALC_HP_NON_LINEAR, which takes the transmitted field's samples
%   as pressures in Pa: in steps of dz, each sample advanced in time in proportion to its own
%   value, (1 + B/A/2) p dz / (rho c^3) seconds per step, the sound speed growing with the
%   pressure and the density fixed at 1000 kg/m^3. Only the transmitted wave is distorted.
%   Options 'BdivA' and 'dz' (SET_OPTION); distances below dz/2 give the linear signals of
%   CALC_SCAT_MULTI. A time-shift model of plane-wave distortion, valid before shocks form; a
%   smaller dz is more accurate, slower, and avoids the out-of-range warning.
%
%   See also CALC_SCAT_MULTI, CALC_SCAT_NON_LINEAR, SET_OPTION, ORVEL.
cmd = 'calc_scat_multi_non_linear';
orvel_usage(nargin, 5, [cmd '(Th1, Th2, points, amplitudes, distances)']);
[points, n] = orvel_points(cmd, 'points', points);
amplitudes = orvel_values(cmd, 'amplitudes', amplitudes, n, 'point');
distances = orvel_values(cmd, 'distances', distances, n, 'point');
[scat, start_time] = Orvel_mex(4015, orvel_num(Th1), orvel_num(Th2), points, amplitudes, ...
                               distances);
end
