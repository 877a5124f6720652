function positions = element_positions(Th)
%ELEMENT_POSITIONS  The centres of an aperture's physical elements, for das_image.
%   positions = element_positions(Th)
%
%   Th         aperture handle (any array: linear, convex, multi-row, 2-D, user-defined)
%
%   positions  N x 3 matrix [m], row k the centre [x y z] of physical element k, as the
%              aperture holds it (xdc_get: rows 24 to 26 of 'rect', or rows 4 to 6 of 'tri'
%              for an aperture converted to triangles)
%
%   See also DAS_IMAGE, XDC_GET.
if nargin < 1
  error('orvel:usage', 'element_positions: needs 1 argument: element_positions(Th)');
end
info = xdc_get(Th, 'rect');
rows_of_centre = 24:26;
if isempty(info)
  info = xdc_get(Th, 'tri');
  rows_of_centre = 4:6;
end
if isempty(info)
  error('orvel:badArgument', ['element_positions: the aperture has neither rectangles nor ' ...
        'triangles to read its element centres from']);
end
[~, first] = unique(info(1, :));   % the first rectangle of each physical element, in order
positions = info(rows_of_centre, first)';
end
