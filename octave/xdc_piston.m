function Th = xdc_piston(radius, ele_size)
%XDC_PISTON  Define a flat, round, single-element piston transducer.
%   Th = xdc_piston(radius, ele_size)
%
%   radius    radius of the piston [m]
%   ele_size  side of the square mathematical elements that fill it [m]
%
%   The piston lies in the plane z = 0, centred on the origin. It is filled with squares of
%   side ele_size whose centres lie inside the circle (so some corners lie outside it); a
%   smaller ele_size follows the rim more closely. An ele_size of 2*radius or more gives no
%   squares. The focus is set 100 km along the z axis, that is no focusing.
%
%   Th is the handle of the new aperture, with one physical element.
%
%   See also XDC_CONCAVE, XDC_GET.
orvel_usage(nargin, 2, 'xdc_piston(radius, ele_size)');
Th = Orvel_mex(1010, orvel_num(radius), orvel_num(ele_size));
end
