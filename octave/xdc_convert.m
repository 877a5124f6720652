function xdc_convert(Th)
%XDC_CONVERT  Convert an aperture of rectangles to triangles, in place.
%   xdc_convert(Th)
%
%   Every rectangle of the aperture with handle Th is split along the diagonal from its
%   corner 1 to corner 3 into two triangles with the rectangle's apodization and delay;
%   triangles a physical element already holds stay in front. Afterwards xdc_get(Th, 'tri')
%   lists them. Setting set_option('use_triangles', 1) converts every new array the same way.
%
%   Every calculation then uses the exact response of each triangle (no far-field
%   approximation, so large elements need no division), sampled as the mean over each
%   sampling interval; it costs far more per element than a rectangle's. Points behind the
%   plane of a triangle get the response of their mirror image.
%
%   See also XDC_LINE_CONVERT, XDC_GET, SET_OPTION.
orvel_usage(nargin, 1, 'xdc_convert(Th)');
Orvel_mex(1030, orvel_num(Th));
end
