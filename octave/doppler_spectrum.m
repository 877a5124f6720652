function [spectrum, times, velocities] = doppler_spectrum(iq, prf, f0, c, window_length, overlap, nfft)
%DOPPLER_SPECTRUM  Spectral Doppler of a range gate: power over velocity and slow time.
%   [spectrum, times, velocities] = doppler_spectrum(iq, prf, f0, c, window_length, overlap, nfft)
%
%   iq             the gate's IQ signals: gate_samples x N (one slow-time signal per row), or
%                  a vector of N
%   prf            pulse repetition frequency [Hz]
%   f0             centre frequency of the demodulation [Hz]
%   c              speed of sound [m/s]
%   window_length  L, a whole number from 2 to N: periodic Hann window
%                  w_k = 0.5 - 0.5 cos(2 pi k/L), k = 0..L-1
%   overlap        samples shared by neighbouring windows, 0 <= overlap < L (default, or
%                  []: floor(L/2)); the hop is H = L - overlap, M = floor((N - L)/H) + 1
%                  windows
%   nfft           transform length >= L, zero padded (default, or []: L)
%
%   spectrum       nfft x M [unit of iq squared]: spectrum(j, m) = sum over the gate of
%                  |sum_k w_k x_(mH+k) exp(-i 2 pi j' k/nfft)|^2, rows ordered by frequency
%                  from -prf/2 upwards: row j+1 holds f_j = (j - floor(nfft/2)) prf/nfft,
%                  j' = j - floor(nfft/2) (j = 0..nfft-1)
%   times          1 x M centres of the windows [s]: (m H + (L - 1)/2)/prf, m = 0..M-1
%   velocities     nfft x 1 velocities of the rows [m/s]: c f_j/(2 f0), positive towards the
%                  transducer
%
%   See also COLOR_FLOW, CLUTTER_FILTER, IQ_DEMODULATE.
if nargin < 5
  error('orvel:usage', ['doppler_spectrum: needs at least 5 arguments: doppler_spectrum(iq, ' ...
                        'prf, f0, c, window_length, overlap, nfft)']);
end
if nargin < 6
  overlap = [];
end
if nargin < 7
  nfft = [];
end
if ~isnumeric(iq) || ndims(iq) ~= 2 || isempty(iq)
  error('orvel:badArgument', ['doppler_spectrum: iq must be a vector or a gate_samples x N ' ...
                              'matrix, but is %s'], mat2str(size(iq)));
end
names = {'prf', 'f0', 'c'};
values = {prf, f0, c};
units = {'Hz', 'Hz', 'm/s'};
for k = 1:3
  v = values{k};
  if ~isnumeric(v) || ~isreal(v) || ~isscalar(v) || ~(v > 0) || ~isfinite(v)
    error('orvel:badArgument', 'doppler_spectrum: %s must be a positive finite number [%s]', ...
          names{k}, units{k});
  end
end
[x, ~, ~] = slow_time(iq);
[G, N] = size(x);
whole = @(v) isnumeric(v) && isreal(v) && isscalar(v) && isfinite(v) && v == round(v);
if ~whole(window_length) || window_length < 2 || window_length > N
  error('orvel:badArgument', ['doppler_spectrum: window_length must be a whole number from 2 ' ...
                              'to the ensemble''s %d firings'], N);
end
L = double(window_length);
if isempty(overlap)
  overlap = floor(L / 2);
end
if ~whole(overlap) || overlap < 0 || overlap >= L
  error('orvel:badArgument', ['doppler_spectrum: overlap must be a whole number from 0 to ' ...
                              'window_length - 1 = %d'], L - 1);
end
if isempty(nfft)
  nfft = L;
end
if ~whole(nfft) || nfft < L
  error('orvel:badArgument', 'doppler_spectrum: nfft must be a whole number >= window_length = %d', L);
end
nfft = double(nfft);
H = L - double(overlap);
M = floor((N - L) / H) + 1;
spectrum = Orvel_mex(7014, real(x), imag(x), L, double(overlap), nfft);
shift = (0:nfft - 1)' - floor(nfft / 2);   % the frequency index of row j + 1
velocities = double(c) * (shift * double(prf) / nfft) / (2 * double(f0));
times = ((0:M - 1) * H + (L - 1) / 2) / double(prf);
end
