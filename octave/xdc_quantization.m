function xdc_quantization(Th, value)
%XDC_QUANTIZATION  Quantize the focusing delays of an aperture.
%   xdc_quantization(Th, value) rounds focusing delays to the nearest multiple of value [s];
%   value 0 turns quantization off. It applies to focus entries made afterwards (and to
%   dynamic focusing): set the focus time line again.
%
%   See also XDC_FOCUS.
Orvel_mex(1065, orvel_num(Th), orvel_num(value));
end
