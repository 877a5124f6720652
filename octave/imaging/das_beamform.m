function image = das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag)
%DAS_BEAMFORM  Delay-and-sum image of plane-wave transmits.
%   image = das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag)
%
%   rf         samples x elements per-element RF of one plane-wave transmit, or
%              samples x elements x transmits for several (scan_run of scan_planewave)
%   t0         time of row 1 of rf [s]
%   fs         sampling frequency [Hz]; row k is at t0 + (k-1)/fs
%   element_x  lateral positions of the element centres [m], one per column of rf
%   x          lateral positions of the image [m], a vector
%   z          depths of the image [m], a vector
%   c          speed of sound [m/s]
%   f_number   receive F-number [no unit]: the aperture at depth z is z/f_number wide
%   angle      steering angle of each transmit [rad], from the z axis towards +x, one per
%              transmit, sent with the delays of scan_planewave
%   lag        the pulse's own delay [s]: the time from the start of the pulse-echo pulse to
%              its centre; for symmetric pulses
%              lag = (2*numel(impulse) + numel(excitation) - 3) / (2*fs)
%              (the same impulse response on transmit and on receive)
%
%   image      numel(z) x numel(x) beamformed RF [unit of rf] (take its envelope to show it)
%
%   For the point (x, z) and a transmit at angle a, the plane wave arrives at
%   tau_t = (x*sin(a) + z*cos(a))/c - min(element_x*sin(a))/c and its echo reaches element e
%   after tau_r = sqrt((x - x_e)^2 + z^2)/c more; the signal of element e is taken at
%   tau_t + tau_r + lag, interpolated linearly between samples (0 outside the signal).
%   Elements with |x - x_e| <= z/(2*f_number) are summed with the Hann weights
%   0.5 + 0.5*cos(2*pi*(x_e - x)/(z/f_number)); where no element has a positive weight,
%   the nearest one alone (the first of two as near), with weight 1. The images of several transmits are summed (coherent
%   compounding).
%
%   See also SCAN_PLANEWAVE, SCAN_RUN, ENVELOPE.
if nargin < 10
  error('orvel:usage', ['das_beamform: needs 10 arguments: ' ...
                        'das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag)']);
end
if ~isnumeric(rf) || ~isreal(rf) || ndims(rf) > 3
  error('orvel:badArgument', 'das_beamform: rf must be a real samples x elements (x transmits) array');
end
[no_samples, no_elements, no_transmits] = size(rf);
if ~isnumeric(element_x) || ~isreal(element_x) || numel(element_x) ~= no_elements
  error('orvel:badArgument', 'das_beamform: element_x must hold one position per column of rf: %d expected, %d received', ...
        no_elements, numel(element_x));
end
if ~isnumeric(angle) || ~isreal(angle) || numel(angle) ~= no_transmits
  error('orvel:badArgument', 'das_beamform: angle must hold one angle per transmit: %d expected, %d received', ...
        no_transmits, numel(angle));
end
scalars = {t0, fs, c, f_number, lag};
names = {'t0', 'fs', 'c', 'f_number', 'lag'};
positive = [false true true true false];
for k = 1:numel(scalars)
  v = scalars{k};
  if ~isnumeric(v) || ~isreal(v) || ~isscalar(v) || ~isfinite(v)
    error('orvel:badArgument', 'das_beamform: %s must be a finite number', names{k});
  elseif positive(k) && ~(v > 0)
    error('orvel:badArgument', 'das_beamform: %s must be positive', names{k});
  end
end
if ~isnumeric(x) || ~isreal(x) || ~(isvector(x) || isempty(x)) || ~isnumeric(z) || ~isreal(z) ...
   || ~(isvector(z) || isempty(z))
  error('orvel:badArgument', 'das_beamform: x and z must be vectors [m]');
end
[X, Z] = meshgrid(double(x(:)'), double(z(:)));
image = zeros(size(X));
if isempty(image) || no_elements == 0
  return;
end
% Plane waves fired by the delays of scan_planewave: the first element at time 0.
element_x = double(element_x(:));
a = double(angle(:));
t_ref = -min(sin(a) * element_x', [], 2) / double(c);
transmits = [ones(no_transmits, 1), a, zeros(no_transmits, 2), t_ref, zeros(no_transmits, 3)];
image(:) = das_image(reshape(double(rf), no_samples, []), t0, fs, c, lag, ...
                     [element_x, zeros(no_elements, 2)], [X(:), zeros(numel(X), 1), Z(:)], ...
                     transmits, struct('f_number', f_number));
end
