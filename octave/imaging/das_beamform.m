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
rf = double(rf);
element_x = double(element_x(:)');
[t0, fs, c, f_number, lag] = deal(double(t0), double(fs), double(c), double(f_number), double(lag));
[X, Z] = meshgrid(double(x(:)'), double(z(:)));
image = zeros(size(X));
if isempty(image) || no_elements == 0
  return;
end

% Receive apertures: Hann weights over the elements within z/(2*f_number) of x; points where
% no element has a positive weight (shallow ones) use their nearest element alone.
half_width = Z / (2 * f_number);
width = Z / f_number;
hann_weight = @(e) (abs(X - element_x(e)) <= half_width & width > 0) ...
                   .* (0.5 + 0.5 * cos(2 * pi * (element_x(e) - X) ./ width));
covered = false(size(X));
nearest = ones(size(X));
nearest_distance = abs(X - element_x(1));
for e = 1:no_elements
  covered = covered | hann_weight(e) > 0;
  distance = abs(X - element_x(e));
  closer = distance < nearest_distance;
  nearest(closer) = e;
  nearest_distance(closer) = distance(closer);
end

for e = 1:no_elements
  weight = hann_weight(e);
  weight(~covered) = nearest(~covered) == e;
  used = find(weight ~= 0);
  if isempty(used)
    continue;
  end
  tau_r = sqrt((X(used) - element_x(e)).^2 + Z(used).^2) / c;
  for t = 1:no_transmits
    a = double(angle(t));
    tau_t = (X(used) * sin(a) + Z(used) * cos(a)) / c - min(element_x * sin(a)) / c;
    s = (tau_t + tau_r + lag - t0) * fs;             % sample position, from 0
    ok = s >= 0 & s <= no_samples - 1;
    i = max(min(floor(s(ok)), no_samples - 2), 0);   % the last sample: i = n-2, f = 1
    f = s(ok) - i;
    column = rf(:, e, t);
    value = zeros(size(s));
    if no_samples == 1
      value(ok) = column(1);
    else
      value(ok) = (1 - f) .* column(i + 1) + f .* column(i + 2);
    end
    image(used) = image(used) + weight(used) .* value;
  end
end
end
