function xdc_quantization(Th, value)
%XDC_QUANTIZATION  Quantize the focusing delays of an aperture.
%   xdc_quantization(Th, value) rounds focusing delays to the nearest multiple of value [s]
%   (halves upwards); value 0 turns quantization off. Fixed-focus entries are quantized when
%   they are made, so set the focus time line again (xdc_focus); dynamic focusing is quantized
%   during each calculation. Delays given by xdc_focus_delays are never quantized.
%
%   See also XDC_FOCUS, XDC_DYNAMIC_FOCUSING.
orvel_usage(nargin, 2, 'xdc_quantization(Th, value)');
Orvel_mex(1065, orvel_num(Th), orvel_num(value));
end
