function ele_waveform(Th, element_no, samples)
%ELE_WAVEFORM  Give physical elements waveforms of their own.
%   ele_waveform(Th, element_no, samples)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   samples     n x m matrix, one row per element number: row k is the waveform of element
%               element_no(k), sampled at the current sampling frequency from time 0
%
%   In every calculation but calc_h, an element's response is convolved with its waveform as
%   a plain sum of products (no factor 1/fs), on transmit and on receive. The aperture's
%   impulse response and excitation still apply to every element; with the default
%   one-sample excitation of value 1 that only divides by fs.
%
%   See also XDC_EXCITATION, XDC_IMPULSE.
orvel_usage(nargin, 3, 'ele_waveform(Th, element_no, samples)');
Orvel_mex(1082, orvel_num(Th), orvel_num(element_no(:)), orvel_num(samples));
end
