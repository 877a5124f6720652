function ele_apodization(Th, element_no, apo)
%ELE_APODIZATION  Set the apodization of the mathematical elements of physical elements.
%   ele_apodization(Th, element_no, apo)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   apo         n x m matrix, one row per element number: row k weights the mathematical
%               elements (rectangles, triangles or line elements) of physical element
%               element_no(k), in their order (xdc_get)
%
%   The weights multiply the physical element's apodization of the time line
%   (xdc_apodization), on transmit and on receive. An element number out of range, or fewer
%   values than the element has mathematical elements, is reported and the other elements
%   are still set.
%
%   See also ELE_DELAY, XDC_APODIZATION.
orvel_usage(nargin, 3, 'ele_apodization(Th, element_no, apo)');
Orvel_mex(1080, orvel_num(Th), orvel_num(element_no(:)), orvel_num(apo));
end
