function ele_delay(Th, element_no, delays)
%ELE_DELAY  Set extra delays of the mathematical elements of physical elements.
%   ele_delay(Th, element_no, delays)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   delays      n by m matrix of delays [s]: row k for the mathematical elements of physical
%               element element_no(k)
%
%   See also ELE_APODIZATION.
Orvel_mex(1081, orvel_num(Th), orvel_num(element_no(:)), orvel_num(delays));
end
