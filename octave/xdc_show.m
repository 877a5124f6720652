function xdc_show(Th, info_type)
%XDC_SHOW  Print a description of an aperture.
%   xdc_show(Th)             prints everything
%   xdc_show(Th, info_type)  info_type 'all' (0), 'elements' (1), 'focus' (2) or 'apod' (3)
%
%   The header (type, creation time, pulses, quantization, baffle, reference point) is always
%   printed; lengths in mm, times in us, angles in degrees.
%
%   See also XDC_GET.
orvel_usage(nargin, 1, 'xdc_show(Th, info_type)');
if nargin < 2
  info_type = 'all';
end
if ischar(info_type)
  names = {'all', 'elements', 'focus', 'apod'};
  k = find(strcmpi(info_type, names));
  if isempty(k)
    error('orvel:badArgument', ...
          'xdc_show: info_type must be ''all'', ''elements'', ''focus'' or ''apod''');
  end
  info_type = k - 1;
end
Orvel_mex(1100, orvel_num(Th), orvel_num(info_type));
end
