function depth = sample_depth(no_samples, t0, fs, c, lag)
%SAMPLE_DEPTH  The depth (range) of each sample of line data.
%   depth = sample_depth(no_samples, t0, fs, c, lag)
%
%   no_samples  number of samples (rows of rf), >= 0
%   t0          time of the first sample [s] (scan_run's t0)
%   fs          sampling frequency [Hz]
%   c           speed of sound [m/s]
%   lag         the pulse's own delay [s], optional (default 0): time from the start of the
%               pulse-echo pulse to its centre, as for das_beamform
%
%   depth       no_samples x 1 column [m]: c*(t0 + k/fs - lag)/2 for k = 0 .. no_samples-1.
%               The round trip to a depth d takes 2*d/c; the range is measured from the
%               line's origin (rx_center), the reference point scan_apply sets.
%
%   See also TGC, SCAN_RUN, SCAN_CONVERT.
if nargin < 4
  error('orvel:usage', 'sample_depth: needs 4 arguments: sample_depth(no_samples, t0, fs, c, lag)');
end
if nargin < 5
  lag = 0;
end
number = @(v) isnumeric(v) && isreal(v) && isscalar(v) && isfinite(v);
if ~number(no_samples) || no_samples ~= round(no_samples) || no_samples < 0
  error('orvel:badArgument', 'sample_depth: no_samples must be a whole number >= 0');
end
if ~number(t0)
  error('orvel:badArgument', 'sample_depth: t0 must be a finite number [s]');
end
if ~number(fs) || ~(fs > 0)
  error('orvel:badArgument', 'sample_depth: fs must be a positive number [Hz]');
end
if ~number(c) || ~(c > 0)
  error('orvel:badArgument', 'sample_depth: c must be a positive speed [m/s]');
end
if ~number(lag)
  error('orvel:badArgument', 'sample_depth: lag must be a finite number [s]');
end
k = (0:double(no_samples) - 1)';
depth = double(c) * (double(t0) + k / double(fs) - double(lag)) / 2;
end
