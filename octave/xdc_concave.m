function Th = xdc_concave(radius, focal_radius, ele_size)
%XDC_CONCAVE  Define a round, single-element transducer curved to a sphere.
%   Th = xdc_concave(radius, focal_radius, ele_size)
%
%   radius        radius of the transducer seen from the front [m]
%   focal_radius  radius of the sphere [m]; its centre, the focus, is at (0, 0, focal_radius)
%   ele_size      side of the square mathematical elements [m]
%
%   The squares are those of xdc_piston, each lifted onto the sphere, which touches the origin.
%   The corners of every square must lie on the sphere, so focal_radius must be somewhat
%   larger than radius.
%
%   Th is the handle of the new aperture, with one physical element.
%
%   See also XDC_PISTON.
orvel_usage(nargin, 3, 'xdc_concave(radius, focal_radius, ele_size)');
Th = Orvel_mex(1011, orvel_num(radius), orvel_num(focal_radius), orvel_num(ele_size));
end
