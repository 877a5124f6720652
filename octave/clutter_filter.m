function out = clutter_filter(iq, method, parameter)
%CLUTTER_FILTER  Remove the slow echoes of tissue (clutter) from slow-time signals.
%   out = clutter_filter(iq, method, parameter)
%
%   iq         signals along the last dimension (slow time: the firings of an ensemble, N of
%              them), complex or real; a vector is one signal [any unit]
%   method     'polynomial' or 'fir'
%   parameter  'polynomial': the order p, a whole number >= 0; 'fir': the cutoff over the
%              prf, fc/prf, between 0 and 0.5
%
%   out        the filtered signals [unit of iq]:
%              'polynomial': x - B (B' x), the least-squares fit of a polynomial of degree p
%                in the firing index n = 0..N-1 removed, B an orthonormal basis of its span
%                (the QR of the Vandermonde matrix of (n - (N-1)/2)/N, for conditioning);
%                N samples; needs N > p + 1.
%              'fir': high-pass g = delta - h of 2K+1 taps, K = ceil(0.5/cutoff), with the
%                low-pass h_k = 2 cutoff sinc(2 cutoff k) (0.5 + 0.5 cos(pi k/(K+1))),
%                k = -K..K, normalised to unit sum (g_0 = 1 - h_0, g_k = -h_k otherwise);
%                only the outputs the taps fully overlap, y_n = sum_k g_k x_(n+K-k),
%                n = 0..N-2K-1: N - 2K samples; needs N >= 2K + 2.
%              Of the size of iq but for the last dimension (a vector keeps its orientation).
%
%   See also IQ_DEMODULATE, COLOR_FLOW, DOPPLER_SPECTRUM.
if nargin < 3
  error('orvel:usage', 'clutter_filter: needs 3 arguments: clutter_filter(iq, method, parameter)');
end
if ~isnumeric(iq)
  error('orvel:badArgument', 'clutter_filter: iq must be a numeric array (complex or real)');
end
if ~ischar(method) || ~any(strcmp(method, {'polynomial', 'fir'}))
  error('orvel:badArgument', 'clutter_filter: method must be ''polynomial'' or ''fir''');
end
number = isnumeric(parameter) && isreal(parameter) && isscalar(parameter) && isfinite(parameter);
[x, front, vector] = slow_time(iq);
N = columns(x);
if strcmp(method, 'polynomial')
  if ~number || parameter ~= round(parameter) || parameter < 0
    error('orvel:badArgument', ['clutter_filter: parameter, the polynomial''s order, must be ' ...
                                'a whole number >= 0']);
  end
  if ~(N > parameter + 1)
    error('orvel:badArgument', ['clutter_filter: the ensemble (%d firings) must be longer ' ...
          'than order + 1 = %d'], N, parameter + 1);
  end
  code = 1;
else
  if ~number || ~(parameter > 0 && parameter < 0.5)
    error('orvel:badArgument', ['clutter_filter: parameter, the cutoff over the prf, must lie ' ...
                                'between 0 and 0.5']);
  end
  K = ceil(0.5 / double(parameter));
  if ~(N >= 2 * K + 2)
    error('orvel:badArgument', ['clutter_filter: the ensemble (%d firings) must be longer than ' ...
          'the filter''s 2K + 1 = %d taps by at least one (%d firings), for two outputs'], ...
          N, 2 * K + 1, 2 * K + 2);
  end
  code = 2;
end
[re, im] = Orvel_mex(7012, real(x), imag(x), code, double(parameter));
y = complex(re, im);
if vector
  if iscolumn(iq)
    out = y.';
  else
    out = y;
  end
else
  out = reshape(y, [front, columns(y)]);
end
end
