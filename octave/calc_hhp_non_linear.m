function [hhp, start_time] = calc_hhp_non_linear(Th1, Th2, points, distances)
%CALC_HHP_NON_LINEAR  Pulse-echo field with non-linear propagation of the transmitted wave.
%   [hhp, start_time] = calc_hhp_non_linear(Th1, Th2, points, distances)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n x 3 matrix, one field point [x y z] per row [m]
%   distances   n propagation distances [m], one per point (a row or a column)
%
%   hhp         pulse-echo field [Pa m s times the unit of impulse_rx], one column per point
%               on one time axis: the transmitted field of calc_hp [Pa] distorted over the
%               point's distance, then convolved with the receive spatial impulse response
%               [m/s] and the receive impulse response impulse_rx (time integrals, 1/fs);
%               the last row is 0. With attenuation on, both paths are attenuated.
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   The distortion is that of CALC_HP_NON_LINEAR, which takes the transmitted field's samples
%   as pressures in Pa: in steps of dz, each sample advanced in time in proportion to its own
%   value, (1 + B/A/2) p dz / (rho c^3) seconds per step, the sound speed growing with the
%   pressure and the density fixed at 1000 kg/m^3. Only the transmitted wave is distorted.
%   Options 'BdivA' and 'dz' (SET_OPTION); distances below dz/2 give the linear field of
%   CALC_HHP. A time-shift model of plane-wave distortion, valid before shocks form; a smaller
%   dz is more accurate, slower, and avoids the out-of-range warning.
%
%   See also CALC_HHP, CALC_HP_NON_LINEAR, SET_OPTION, ORVEL.
orvel_usage(nargin, 4, 'calc_hhp_non_linear(Th1, Th2, points, distances)');
[points, n] = orvel_points('calc_hhp_non_linear', 'points', points);
distances = orvel_values('calc_hhp_non_linear', 'distances', distances, n, 'point');
[hhp, start_time] = Orvel_mex(4013, orvel_num(Th1), orvel_num(Th2), points, distances);
end
