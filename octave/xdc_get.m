function info = xdc_get(Th, info_type)
%XDC_GET  Get the elements or time lines of an aperture as a matrix.
%   info = xdc_get(Th, info_type), info_type:
%
%   'rect'  (1)  26 rows per rectangle: physical element no. (from 0), rectangle no. (from 0),
%                width, height, apodization, tan_xz, tan_yz, centre (3), corners 1-4 (12),
%                delay, centre of the physical element (3)
%   'tri'   (2)  15 rows per triangle: physical element no., triangle no., apodization,
%                centre of the physical element (3), corners 1-3 (9)
%   'lin'   (3)  46 rows per line element (4 bounding lines and 4 crossings): element
%                numbers, apodization, delay, centre (3), direction cosines and sines (4), zc,
%                no. of lines, 5 values per line, no. of crossings, 3 per crossing
%   'focus' (4)  one column per focus entry: time, then the delay of every physical element
%   'apod'  (5)  one column per apodization entry: time, then the weights
%
%   info    one column per element or entry, with the rows above [m, s, rad]: lengths in m,
%           times and delays in s, angles in rad; numbers and weights have no unit. The
%           default type is 'rect'. An unknown name is an error; any other number returns [].
%
%   See also XDC_SHOW.
orvel_usage(nargin, 1, 'xdc_get(Th, info_type)');
if nargin < 2
  info_type = 'rect';
end
if ischar(info_type)
  names = {'rect', 'tri', 'lin', 'focus', 'apod'};
  k = find(strcmpi(info_type, names));
  if isempty(k)
    error('orvel:badArgument', ['xdc_get: info_type must be ''rect'', ''tri'', ''lin'', ' ...
          '''focus'' or ''apod'' (or a number from 1 to 5), but is ''%s'''], info_type);
  end
  info_type = k;
end
if any(info_type == 1:5)
  info = Orvel_mex(1101, orvel_num(Th), orvel_num(info_type));
else
  Orvel_mex(1101, orvel_num(Th), orvel_num(info_type));
  info = [];
end
end
