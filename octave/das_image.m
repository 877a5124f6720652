function image = das_image(rf, t0, fs, c, lag, elements, points, transmits, options)
%DAS_IMAGE  Delay-and-sum image of RF data from any transmits, on every thread.
%   image = das_image(rf, t0, fs, c, lag, elements, points, transmits, options)
%
%   rf          samples x elements x transmits RF data (or samples x (elements*transmits),
%               column (t-1)*elements + e for element e of transmit t, as calc_scat_all
%               gives a synthetic aperture's data)
%   t0          time of rf's first row [s];  fs: sampling frequency [Hz]
%   c           speed of sound [m/s]
%   lag         the pulse's own delay, added to every arrival [s]: for symmetric pulses
%               (2*numel(impulse) + numel(excitation) - 3) / (2*fs)
%   elements    R x 3 positions of the receiving elements [m] (any array: linear, convex,
%               multi-row, 2-D)
%   points      P x 3 image points [m] (a grid of any dimension, flattened, or any list)
%   transmits   T x 8 table, one row per transmit: [kind, sx, sy, sz, t_ref, ox, oy, oz].
%               The wave of a transmit reaches a point p at (from the data's time origin):
%                 kind 1, plane:      t_ref + (u . p)/c, u = [sin(ax)cos(ay), sin(ay),
%                                     cos(ax)cos(ay)], the angles ax = sx, ay = sy [rad]
%                 kind 2, diverging:  t_ref + |p - s|/c, s = [sx sy sz] the virtual source
%                 kind 3, focused:    t_ref -+ |p - s|/c, s the focus: minus for points
%                                     before it, (p - s).(s - o) < 0 with o = [ox oy oz]
%                                     the line's origin, plus beyond
%                 kind 4, element:    t_ref + |p - s|/c, s the transmitting element
%               Orvel's own delays give t_ref = -min(u . e)/c for plane waves
%               (scan_planewave), -min|e - s|/c for diverging waves, |s - o|/c for a focus
%               with reference point o (xdc_center_focus), and 0 for one element.
%   options     optional struct: f_number (2), window ('hann', 'tukey' or 'boxcar'),
%               tukey_alpha (0.5), interpolation ('linear' or 'cubic'), per_transmit (false)
%
%   image       P x 1 sum over the transmits [the unit of rf], or P x T images of each
%               transmit with per_transmit
%
%   At point p, element e adds w * rf(t_arrival + |p - e|/c + lag), interpolated at that
%   time (0 outside the data). The receive weight w: with the lateral distance
%   l = |(p - e) in x and y| and half the aperture a = (p_z - e_z)/(2*f_number), the window
%   of r = l/a for l < a, else 0: Hann 0.5 + 0.5*cos(pi*r); Tukey flat up to 1 - alpha
%   and a Hann taper beyond; boxcar 1. Where no element weighs anything the laterally
%   nearest element takes part alone, weight 1. Linear interpolation between the two
%   nearest samples, or Keys' cubic convolution (a = -0.5) over the four nearest. The image
%   is the same for every number of threads.
%
%   See also DAS_BEAMFORM, CALC_SCAT_MULTI, CALC_SCAT_ALL.
orvel_usage(nargin, 8, ['das_image(rf, t0, fs, c, lag, elements, points, transmits, ' ...
                        'options)']);
if nargin < 9
  options = struct();
end
if ~isstruct(options)
  error('orvel:argument', 'das_image: options must be a struct, but is %s', ...
        orvel_describe(options));
end
defaults = struct('f_number', 2, 'window', 'hann', 'tukey_alpha', 0.5, ...
                  'interpolation', 'linear', 'per_transmit', false);
for name = fieldnames(options)'
  if ~isfield(defaults, name{1})
    error('orvel:argument', ['das_image: options has no field %s; its fields are ' ...
          'f_number, window, tukey_alpha, interpolation, per_transmit'], name{1});
  end
  defaults.(name{1}) = options.(name{1});
end
windows = {'hann', 'tukey', 'boxcar'};
window = find(strcmpi(defaults.window, windows));
if ~ischar(defaults.window) || isempty(window)
  error('orvel:argument', 'das_image: options.window must be ''hann'', ''tukey'' or ''boxcar''');
end
interpolation = find(strcmpi(defaults.interpolation, {'linear', 'cubic'}));
if ~ischar(defaults.interpolation) || isempty(interpolation)
  error('orvel:argument', 'das_image: options.interpolation must be ''linear'' or ''cubic''');
end
values = [orvel_num(defaults.f_number), window, orvel_num(defaults.tukey_alpha), ...
          interpolation, double(logical(defaults.per_transmit))];
image = Orvel_mex(7010, orvel_num(rf), orvel_num(t0), orvel_num(fs), orvel_num(c), ...
                  orvel_num(lag), orvel_points('das_image', 'elements', elements), ...
                  orvel_points('das_image', 'points', points), orvel_num(transmits), values);
end
