function out = tgc(rf, t0, fs, c, db_per_cm_mhz, f0)
%TGC  Time-gain compensation: undo the round-trip loss of a frequency-dependent attenuation.
%   out = tgc(rf, t0, fs, c, db_per_cm_mhz, f0)
%
%   rf             signals along the first dimension: a vector (one signal) or an array of
%                  one signal per column [any unit]
%   t0             time of rf's first row [s]
%   fs             sampling frequency [Hz]
%   c              speed of sound [m/s]
%   db_per_cm_mhz  attenuation alpha [dB/(cm MHz)], >= 0
%   f0             frequency at which the loss is taken [Hz], > 0 (e.g. the pulse's centre)
%
%   out            rf with row k multiplied by 10^(alpha * f0[MHz] * 2*depth[cm] / 20),
%                  depth the sample_depth of the row (lag 0): the loss of alpha*f0 dB per cm
%                  of the way there and back [unit of rf], of the size of rf
%
%   An echo's centre comes the pulse's lag after its depth's time: give t0 - lag for the
%   gain of the depth to fall on it.
%
%   See also SAMPLE_DEPTH, ENVELOPE, SET_OPTION.
if nargin < 6
  error('orvel:usage', 'tgc: needs 6 arguments: tgc(rf, t0, fs, c, db_per_cm_mhz, f0)');
end
if ~isnumeric(rf) || ~isreal(rf)
  error('orvel:badArgument', 'tgc: rf must be a real numeric array');
end
if ~isnumeric(db_per_cm_mhz) || ~isreal(db_per_cm_mhz) || ~isscalar(db_per_cm_mhz) ...
   || ~(db_per_cm_mhz >= 0) || ~isfinite(db_per_cm_mhz)
  error('orvel:badArgument', 'tgc: db_per_cm_mhz must be >= 0 [dB/(cm MHz)]');
end
if ~isnumeric(f0) || ~isreal(f0) || ~isscalar(f0) || ~(f0 > 0) || ~isfinite(f0)
  error('orvel:badArgument', 'tgc: f0 must be a positive frequency [Hz]');
end
row = isrow(rf);
if row
  rf = rf(:);
end
depth = sample_depth(size(rf, 1), t0, fs, c, 0);
gain = 10 .^ (double(db_per_cm_mhz) * (double(f0) / 1e6) * (2 * depth * 100) / 20);
out = double(rf) .* gain;
if row
  out = out.';
end
end
