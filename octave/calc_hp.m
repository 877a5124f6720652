function [hp, start_time] = calc_hp(Th, points)
%CALC_HP  Emitted pressure field of an aperture at field points.
%   [hp, start_time] = calc_hp(Th, points)
%
%   Th          aperture handle
%   points      n x 3 matrix, one field point [x y z] per row [m]
%
%   hp          emitted field [m times the unit of the pulse impulse conv excitation], one
%               column per point on one time axis (as calc_h); the last row is 0
%   start_time  time of the first row [s]; row k is at start_time + (k-1)/fs
%
%   hp is the spatial impulse response (calc_h) convolved with the aperture's impulse
%   response and excitation, each convolution a time integral (sum of products times 1/fs);
%   element waveforms (ele_waveform) are convolved in too. No density and no time derivative
%   are applied: with the pulse the surface velocity v [m/s], the pressure is
%   rho0 * diff(hp) * fs [Pa] (rho0 the density [kg/m^3]); with the pulse rho0 dv/dt [Pa/m],
%   hp is the pressure [Pa]. With the default one-sample pulses hp is h / fs^2.
%   The pulse starts at time 0: the field at a focus F is centred near |F - ref|/c plus
%   (numel(impulse) + numel(excitation) - 2) / (2*fs) for symmetric pulses (help orvel).
%
%   See also CALC_H, CALC_HP_NON_LINEAR, XDC_IMPULSE, XDC_EXCITATION, ORVEL.
orvel_usage(nargin, 2, 'calc_hp(Th, points)');
points = orvel_points('calc_hp', 'points', points);
[hp, start_time] = Orvel_mex(4002, orvel_num(Th), points);
end
