function ele_apodization(Th, element_no, apo)
%ELE_APODIZATION  Set the apodization of the mathematical elements of physical elements.
%   ele_apodization(Th, element_no, apo)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   apo         n by m matrix: row k weights the mathematical elements (rectangles,
%               triangles or line elements) of physical element element_no(k)
%
%   An element number out of range, or fewer values than the element has mathematical
%   elements, is reported and the other elements are still set.
%
%   See also ELE_DELAY, XDC_APODIZATION.
Orvel_mex(1080, orvel_num(Th), orvel_num(element_no(:)), orvel_num(apo));
end
