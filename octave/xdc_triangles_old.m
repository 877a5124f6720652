function Th = xdc_triangles_old(corners, apo, center, apo_element)
%XDC_TRIANGLES_OLD  Define a single physical element made of triangles.
%   Th = xdc_triangles_old(corners, apo, center, apo_element)
%
%   corners      one row per triangle, 9 columns: corner 1 (x, y, z), corner 2, corner 3 [m]
%   apo          apodization of each triangle, one value per row of corners
%   center       centre of the physical element [x y z] [m]
%   apo_element  apodization of the physical element
%
%   The focus is set infinitely far along the z axis (no focusing). Th is the handle of the
%   new aperture, with one physical element.
%
%   See also XDC_TRIANGLES.
cmd = 'xdc_triangles_old';
orvel_usage(nargin, 4, [cmd '(corners, apo, center, apo_element)']);
Th = Orvel_mex(1020, orvel_num(corners), orvel_num(apo), orvel_point(cmd, 'center', center), ...
               orvel_num(apo_element));
end
