function env = envelope(rf)
%ENVELOPE  Envelope of RF signals: the magnitude of their analytic signal.
%   env = envelope(rf)
%
%   rf   RF signals along the first dimension: a vector (one signal) or a matrix or array
%        of one signal per column [any unit]
%
%   env  the envelope, of the size of rf [unit of rf]: for each signal the spectrum (FFT)
%        weighted 1 at DC, 2 at positive frequencies, 1 at the Nyquist frequency (even
%        length) and 0 at negative ones, transformed back (inverse FFT), magnitude
%
%   The FFT makes the signal periodic: keep echoes away from the ends, or pad with zeros.
%
%   See also LOG_COMPRESS, FFT.
if nargin < 1
  error('orvel:usage', 'envelope: needs 1 argument: envelope(rf)');
end
if ~isnumeric(rf) || ~isreal(rf)
  error('orvel:badArgument', 'envelope: rf must be a real numeric array');
end
row = isrow(rf);
if row
  rf = rf(:);
end
rf = double(rf);
n = size(rf, 1);
weight = zeros(n, 1);
if n > 0
  weight(1) = 1;                       % the mean, once
  weight(2:ceil(n / 2)) = 2;           % positive frequencies, doubled
  if mod(n, 2) == 0
    weight(n / 2 + 1) = 1;             % Nyquist, shared by both halves
  end
end
env = abs(ifft(fft(rf, [], 1) .* weight, [], 1));
if row
  env = env.';
end
end
