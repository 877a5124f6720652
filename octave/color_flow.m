function [velocity, power, variance] = color_flow(iq, prf, f0, c)
%COLOR_FLOW  Axial velocity, power and spectral variance of slow-time signals (lag one).
%   [velocity, power, variance] = color_flow(iq, prf, f0, c)
%
%   iq        IQ signals along the last dimension (slow time, N >= 2 firings), e.g.
%             samples x lines x N after clutter_filter; a vector is one signal
%   prf       pulse repetition frequency [Hz]
%   f0        centre frequency of the demodulation [Hz]
%   c         speed of sound [m/s]
%
%   With R0 = mean_n |x_n|^2 (n = 0..N-1) and R1 = mean_n conj(x_n) x_(n+1) (n = 0..N-2):
%   velocity  c*prf/(4*pi*f0) * angle(R1) [m/s], positive towards the transducer (depth
%             decreasing); it aliases beyond +-c*prf/(4*f0)
%   power     R0 [unit of iq squared]
%   variance  2*prf^2*(1 - |R1|/R0) [Hz^2]
%   Where R0 = 0 velocity and variance are 0. Each of the size of iq without its last
%   dimension (a scalar for a vector; a column for a matrix).
%
%   See also CLUTTER_FILTER, IQ_DEMODULATE, DOPPLER_SPECTRUM.
if nargin < 4
  error('orvel:usage', 'color_flow: needs 4 arguments: color_flow(iq, prf, f0, c)');
end
if ~isnumeric(iq)
  error('orvel:badArgument', 'color_flow: iq must be a numeric array (complex or real)');
end
names = {'prf', 'f0', 'c'};
values = {prf, f0, c};
units = {'Hz', 'Hz', 'm/s'};
for k = 1:3
  v = values{k};
  if ~isnumeric(v) || ~isreal(v) || ~isscalar(v) || ~(v > 0) || ~isfinite(v)
    error('orvel:badArgument', 'color_flow: %s must be a positive finite number [%s]', names{k}, ...
          units{k});
  end
end
[x, front, vector] = slow_time(iq);
N = columns(x);
if N < 2
  error('orvel:badArgument', 'color_flow: the ensemble must hold at least 2 firings, but holds %d', N);
end
flow = Orvel_mex(7013, real(x), imag(x), double(prf), double(f0), double(c));
velocity = flow(:, 1);
power = flow(:, 2);
variance = flow(:, 3);
if ~vector
  shape = [front, 1];    % a matrix's rows give a column
  velocity = reshape(velocity, shape);
  power = reshape(power, shape);
  variance = reshape(variance, shape);
end
end
