function [iq, t0_iq, fs_iq] = iq_demodulate(rf, t0, fs, f0, cutoff, decimation)
%IQ_DEMODULATE  Complex baseband (IQ) signals from RF: mix down, low-pass, decimate.
%   [iq, t0_iq, fs_iq] = iq_demodulate(rf, t0, fs, f0, cutoff, decimation)
%
%   rf          RF signals along the first dimension (fast time): a vector (one signal) or
%               an array of any number of dimensions, one signal per column [any unit]
%   t0          time of rf's first row [s]; row n+1 is at t_n = t0 + n/fs
%   fs          sampling frequency [Hz]
%   f0          demodulation frequency [Hz], > 0 (the pulse's centre frequency)
%   cutoff      the low-pass filter's cutoff fc [Hz], 0 < fc < fs/2; [] or left out: f0
%   decimation  D, a whole number >= 1 (default 1): every D-th filtered sample is kept
%
%   iq          complex baseband signals [unit of rf], of the size of rf but with
%               ceil(rows/D) rows (a row vector stays a row):
%               1. mixed: m_n = 2 * x_n * exp(-i 2 pi f0 t_n);
%               2. low-passed by a centred FIR of 2K+1 taps, K = ceil(2 fs/fc):
%                  h_k = (2 fc/fs) sinc(2 fc k/fs) (0.5 + 0.5 cos(pi k/(K+1))) for
%                  k = -K..K, sinc(x) = sin(pi x)/(pi x), sinc(0) = 1, then h = h/sum(h);
%                  y_n = sum_k h_k m_(n-k), m taken as 0 outside the signal;
%               3. decimated: y_0, y_D, y_2D, ...
%               A scatterer moving towards the transducer turns the phase of its samples
%               forward from firing to firing (color_flow's positive velocity).
%   t0_iq       time of iq's first row [s]: t0
%   fs_iq       sampling frequency of iq [Hz]: fs/D
%
%   See also CLUTTER_FILTER, COLOR_FLOW, DOPPLER_SPECTRUM, SCAN_ENSEMBLE.
if nargin < 4
  error('orvel:usage', ['iq_demodulate: needs at least 4 arguments: ' ...
                        'iq_demodulate(rf, t0, fs, f0, cutoff, decimation)']);
end
if nargin < 5
  cutoff = [];
end
if nargin < 6
  decimation = 1;
end
number = @(v) isnumeric(v) && isreal(v) && isscalar(v) && isfinite(v);
if ~isnumeric(rf) || ~isreal(rf)
  error('orvel:badArgument', 'iq_demodulate: rf must be a real numeric array');
end
if ~number(t0)
  error('orvel:badArgument', 'iq_demodulate: t0 must be a finite number [s]');
end
if ~number(fs) || ~(fs > 0)
  error('orvel:badArgument', 'iq_demodulate: fs must be a positive finite number [Hz]');
end
if ~number(f0) || ~(f0 > 0)
  error('orvel:badArgument', 'iq_demodulate: f0 must be a positive finite number [Hz]');
end
if isempty(cutoff)
  cutoff = f0;
end
fs = double(fs);
if ~number(cutoff)
  error('orvel:badArgument', 'iq_demodulate: cutoff must be [] or a finite number [Hz]');
end
if ~(cutoff > 0 && cutoff < fs / 2)
  error('orvel:badArgument', 'iq_demodulate: cutoff must lie between 0 and fs/2 = %g Hz, but is %g', ...
        fs / 2, cutoff);
end
if ~number(decimation) || decimation ~= round(decimation) || decimation < 1
  error('orvel:badArgument', 'iq_demodulate: decimation must be a whole number >= 1');
end
row = isrow(rf);
if row
  rf = rf(:);
end
dims = size(rf);
N = dims(1);
D = double(decimation);
if N == 0 || prod(dims(2:end)) == 0
  iq = complex(zeros([ceil(N / D), dims(2:end)]));
else
  [re, im] = Orvel_mex(7011, reshape(double(rf), N, []), double(t0), fs, double(f0), ...
                       double(cutoff), D);
  iq = reshape(complex(re, im), [rows(re), dims(2:end)]);
end
if row
  iq = iq.';
end
t0_iq = double(t0);
fs_iq = fs / D;
end
