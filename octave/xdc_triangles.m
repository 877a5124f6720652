function Th = xdc_triangles(data, center, focus)
%XDC_TRIANGLES  Define an aperture from a list of triangles.
%   Th = xdc_triangles(data, center, focus)
%
%   data    one row per triangle, 11 columns, lengths in m:
%             1      physical element number (1, 2, ...; rows of one element together,
%                    numbers never decreasing down the table)
%             2-4    corner 1 (x, y, z)   5-7  corner 2   8-10  corner 3
%             11     apodization of the triangle
%   center  one row [x y z] per physical element [m]: the point the focusing delays of the
%           element are calculated from
%   focus   fixed focus point [x y z] [m]
%
%   The number in the last row is the number of physical elements. The aperture is made of
%   triangles and is never converted. Th is the handle of the new aperture.
%
%   See also XDC_TRIANGLES_OLD, XDC_RECTANGLES.
Th = Orvel_mex(1023, orvel_num(data), orvel_num(center), orvel_num(focus));
end
