function img = log_compress(env, dynamic_range)
%LOG_COMPRESS  Envelope in decibels relative to its maximum, clipped to a dynamic range.
%   img = log_compress(env, dynamic_range)
%
%   env            non-negative envelope values (envelope), any size [any unit]
%   dynamic_range  range shown [dB], positive
%
%   img            20*log10(env/max(env(:))) clipped below at -dynamic_range [dB], of the
%                  size of env: 0 dB at the maximum; zeros, and an all-zero env, give
%                  -dynamic_range; NaN stays NaN
%
%   See also ENVELOPE, SHOW_IMAGE.
if nargin < 2
  error('orvel:usage', 'log_compress: needs 2 arguments: log_compress(env, dynamic_range)');
end
if ~isnumeric(env) || ~isreal(env) || any(env(:) < 0)
  error('orvel:badArgument', 'log_compress: env must hold real non-negative values');
end
if ~isnumeric(dynamic_range) || ~isreal(dynamic_range) || ~isscalar(dynamic_range) ...
   || ~(dynamic_range > 0) || ~isfinite(dynamic_range)
  error('orvel:badArgument', 'log_compress: dynamic_range must be a positive number [dB]');
end
env = double(env);
dynamic_range = double(dynamic_range);
peak = max(env(:));
if isempty(peak) || ~(peak > 0)
  img = -dynamic_range * ones(size(env));
  img(isnan(env)) = NaN;
  return;
end
img = max(20 * log10(env / peak), -dynamic_range);
img(isnan(env)) = NaN;
end
