function [hhp, start_time] = calc_hhp_non_linear(Th1, Th2, points, distances)
%CALC_HHP_NON_LINEAR  Pulse-echo field with non-linear propagation of the transmitted wave.
%   [hhp, start_time] = calc_hhp_non_linear(Th1, Th2, points, distances)
%
%   Th1, Th2    handles of the transmit and the receive aperture (may be the same)
%   points      n by 3 matrix of field points [x y z] [m]
%   distances   n propagation distances [m], one per point
%
%   hhp         pulse-echo response, one column per point: the transmitted field (transmit
%               spatial impulse response, impulse response and excitation) distorted over
%               the point's distance, then convolved with the receive spatial impulse
%               response and the receive impulse response; the columns share one time axis
%               and the last row is 0. With attenuation on, both paths are attenuated.
%   start_time  time of the first row [s]
%
%   The distortion is that of CALC_HP_NON_LINEAR: in steps of dz, each sample advanced in
%   time in proportion to its own value, (1 + B/A/2) p dz / (rho c^3) seconds per step, the
%   sound speed growing with the pressure and the density fixed at 1000 kg/m^3. Only the
%   transmitted wave is distorted. Options 'BdivA' and 'dz' (SET_OPTION); distances below
%   dz/2 give the linear field of CALC_HHP. A time-shift model of plane-wave distortion,
%   valid before shocks form; a smaller dz is more accurate, slower, and avoids the
%   out-of-range warning.
%
%   See also CALC_HHP, CALC_HP_NON_LINEAR, SET_OPTION.
[hhp, start_time] = Orvel_mex(4013, orvel_num(Th1), orvel_num(Th2), orvel_num(points), ...
                              orvel_num(distances(:)));
end
