function image = das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag, options)
%DAS_BEAMFORM  Delay-and-sum image of RF data from any array and any transmits.
%   image = das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag)
%   image = das_beamform(rf, t0, fs, element_x, x, z, c, f_number, angle, lag, options)
%
%   rf         samples x elements per-element RF of one transmit, or samples x elements x
%              transmits for several (scan_run of scan_planewave), or samples x
%              (elements*transmits) with column (t-1)*elements + e for element e of
%              transmit t (calc_scat_all); T is the number of transmits
%   t0         time of row 1 of rf [s]
%   fs         sampling frequency [Hz]; row k is at t0 + (k-1)/fs
%   element_x  the receiving elements, in the order of rf's columns: a vector of their x
%              positions [m] (a linear array along x), or their R x 3 positions [m] (any
%              array: convex, multi-row, 2-D; element_positions(Th) gives them); a row of
%              3 is read as x positions when rf has 3 element columns (or, samples x
%              (elements*transmits), a multiple of 3)
%   x          lateral positions of the image [m], a vector; or, with z = [], a P x 3 list
%              of image points [m]
%   z          depths of the image [m], a vector; [] for a list of points
%   c          speed of sound [m/s]
%   f_number   receive F-number [no unit]: the aperture at depth z is z/f_number wide
%   angle      the transmits, told apart by the shape against T:
%                T angles       plane waves steered from the z axis towards +x [rad]
%                T x 2          [ax ay] per transmit [rad]: plane waves from a 2-D array,
%                               direction u = [sin(ax)cos(ay), sin(ay), cos(ax)cos(ay)]
%                T x 8          a transmit table as das_image takes it (plane, diverging,
%                               focused, single element), used as it is
%              Plane waves given by angles are taken as sent from the elements of rf with
%              the delays (u.e - min(u.e))/c at element e, those of scan_planewave for a
%              linear array (u.e = x_e*sin(a)) and the same rule for any other: the front
%              is the plane u.p = c*t + min(u.e), which reaches p at t_ref + (u.p)/c,
%              t_ref = -min over the elements of (u.e)/c.
%   lag        the pulse's own delay [s]: the time from the start of the pulse-echo pulse to
%              its centre; for symmetric pulses
%              lag = (2*numel(impulse) + numel(excitation) - 3) / (2*fs)
%              (the same impulse response on transmit and on receive)
%   options    optional struct, each field optional:
%                y              y positions of a 3-D image grid [m], a vector (default: the
%                               plane y = 0)
%                window         receive window: 'hann' (default), 'tukey' or 'boxcar'
%                tukey_alpha    tapered fraction of the Tukey window (0.5)
%                interpolation  'linear' (default) or 'cubic' (Keys, a = -0.5)
%                per_transmit   true: the image of each transmit, along one more dimension
%                               (default false: the transmits summed, coherent compounding)
%
%   image      numel(z) x numel(x) beamformed RF [unit of rf] (take its envelope to show
%              it); numel(z) x numel(x) x numel(y) with options.y; P x 1 for a list of
%              points; per_transmit adds a last dimension of T
%
%   For the point p = (x, y, z) and a transmit whose wave reaches p at tau_t (help
%   das_image gives it for each kind; a plane wave at angle a from a linear array along x
%   gives tau_t = (x*sin(a) + z*cos(a))/c - min(x_e*sin(a))/c), the echo reaches element e
%   after tau_r = |p - e|/c more; the signal of element e is taken at tau_t + tau_r + lag,
%   interpolated between samples (0 outside the signal). Elements whose lateral distance l
%   from p (in x and y) is below a = (z - z_e)/(2*f_number) are summed with the weights of
%   the window, Hann 0.5 + 0.5*cos(pi*l/a) by default (for a linear array
%   0.5 + 0.5*cos(2*pi*(x_e - x)/(z/f_number))); where no element has a positive weight,
%   the nearest one alone (the first of two as near), with weight 1.
%
%   See also DAS_IMAGE, SCAN_PLANEWAVE, SCAN_RUN, ELEMENT_POSITIONS, ENVELOPE.
if nargin < 10
  error('orvel:usage', ['das_beamform: needs at least 10 arguments: das_beamform(rf, t0, ' ...
                        'fs, element_x, x, z, c, f_number, angle, lag, options)']);
end
if nargin < 11
  options = struct();
end
if ~isnumeric(rf) || ~isreal(rf) || ndims(rf) > 3
  error('orvel:badArgument', 'das_beamform: rf must be a real samples x elements (x transmits) array');
end
[no_samples, no_columns, no_pages] = size(rf);
elements = element_table(element_x, no_columns, no_pages);
no_elements = rows(elements);
if no_pages > 1
  no_transmits = no_pages;
elseif no_elements > 0
  no_transmits = no_columns / no_elements;
else
  no_transmits = 1;
end
[transmits, angle_pairs] = transmit_table(angle, no_transmits);
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
settings = read_options(options);
[points, shape] = image_points(x, z, settings.y);
if settings.per_transmit
  shape(end + 1) = no_transmits;
end
image = zeros([shape 1]);  % a list of P points alone: P x 1
if isempty(image) || no_elements == 0
  return;
end
if isempty(transmits)
  % Plane waves fired by the delays of scan_planewave: the first element at time 0.
  ax = angle_pairs(:, 1);
  ay = angle_pairs(:, 2);
  u = [sin(ax) .* cos(ay), sin(ay), cos(ax) .* cos(ay)];
  ue = u(:, 1) .* elements(:, 1)' + u(:, 2) .* elements(:, 2)' + u(:, 3) .* elements(:, 3)';
  t_ref = -min(ue, [], 2) / double(c);
  transmits = [ones(no_transmits, 1), ax, ay, zeros(no_transmits, 1), t_ref, ...
               zeros(no_transmits, 3)];
end
forward = rmfield(settings, 'y');
forward.f_number = f_number;
% The columns of rf counted, not left to reshape: with no samples [] would make them 0.
image(:) = das_image(reshape(double(rf), no_samples, no_columns * no_pages), t0, fs, c, lag, ...
                     elements, points, transmits, forward);
end

function elements = element_table(element_x, no_columns, no_pages)
% The R x 3 element positions: element_x is R x positions or R x 3 positions, and rf holds
% R columns per transmit (samples x R x T, or samples x (R*T) when it has two dimensions).
fits = @(r) r == no_columns || (no_pages == 1 && r > 0 && no_columns > 0 ...
                                && mod(no_columns, r) == 0);
numeric = isnumeric(element_x) && isreal(element_x) && ismatrix(element_x);
if numeric && (isvector(element_x) || isempty(element_x)) && fits(numel(element_x))
  elements = [double(element_x(:)), zeros(numel(element_x), 2)];
elseif numeric && columns(element_x) == 3 && fits(rows(element_x))
  elements = double(element_x);
elseif no_pages > 1
  error('orvel:badArgument', ['das_beamform: element_x must hold R x positions or be R x 3 ' ...
        'element positions, R = %d (the element columns of rf), but is %s'], no_columns, ...
        size_text(element_x));
else
  error('orvel:badArgument', ['das_beamform: element_x must hold R x positions or be R x 3 ' ...
        'element positions, R a divisor of the %d columns of rf, but is %s'], no_columns, ...
        size_text(element_x));
end
end

function [transmits, pairs] = transmit_table(angle, no_transmits)
% A T x 8 table given as angle, as it is, or the angle pairs [ax ay] of plane waves (and
% transmits []).
transmits = [];
numeric = isnumeric(angle) && isreal(angle) && ismatrix(angle);
if numeric && isvector(angle) && numel(angle) == no_transmits
  pairs = [double(angle(:)), zeros(no_transmits, 1)];
elseif numeric && isequal(size(angle), [no_transmits 2])
  pairs = double(angle);
elseif numeric && isequal(size(angle), [no_transmits 8])
  transmits = double(angle);
  pairs = [];
else
  error('orvel:badArgument', ['das_beamform: angle must be one angle per transmit (%d ' ...
        'values), %d x 2 angle pairs or a %d x 8 transmit table, but is %s'], no_transmits, ...
        no_transmits, no_transmits, size_text(angle));
end
end

function settings = read_options(options)
if ~isstruct(options) || ~isscalar(options)
  error('orvel:badArgument', 'das_beamform: options must be a struct, but is %s', ...
        size_text(options));
end
settings = struct('y', [], 'window', 'hann', 'tukey_alpha', 0.5, 'interpolation', 'linear', ...
                  'per_transmit', false);
for name = fieldnames(options)'
  if ~isfield(settings, name{1})
    error('orvel:badArgument', ['das_beamform: options has no field %s; its fields are ' ...
          'y, window, tukey_alpha, interpolation, per_transmit'], name{1});
  end
  settings.(name{1}) = options.(name{1});
end
p = settings.per_transmit;
if ~(isnumeric(p) || islogical(p)) || ~isscalar(p) || ~(p == 0 || p == 1)
  error('orvel:badArgument', 'das_beamform: options.per_transmit must be true or false');
end
settings.per_transmit = logical(p);
end

function [points, shape] = image_points(x, z, y)
% The P x 3 image points and the image's shape: a list, or a grid with depth along the
% first dimension (neighbours in depth read neighbouring samples).
is_vector = @(v) isnumeric(v) && isreal(v) && (isvector(v) || isempty(v));
if isempty(z) && isnumeric(x) && isreal(x) && ismatrix(x) && columns(x) == 3
  if ~isempty(y)
    error('orvel:badArgument', ['das_beamform: options.y makes a grid of the vectors x ' ...
          'and z; a list of points (x P x 3, z = []) has no y']);
  end
  points = double(x);
  shape = rows(x);
  return;
end
if ~is_vector(x) || ~is_vector(z)
  error('orvel:badArgument', 'das_beamform: x and z must be vectors [m]');
end
if ~is_vector(y)
  error('orvel:badArgument', 'das_beamform: options.y must be a vector [m]');
end
shape = [numel(z) numel(x) numel(y)];
if isempty(y)
  y = 0;
  shape = shape(1:2);
end
[Z, X, Y] = ndgrid(double(z(:)), double(x(:)), double(y(:)));
points = [X(:), Y(:), Z(:)];
end
