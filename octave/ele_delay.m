function ele_delay(Th, element_no, delays)
%ELE_DELAY  Set extra delays of the mathematical elements of physical elements.
%   ele_delay(Th, element_no, delays)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   delays      n x m matrix of delays [s], one row per element number: row k for the
%               mathematical elements of physical element element_no(k), in their order
%
%   A mathematical element's delay adds to its physical element's focusing delay: a positive
%   delay makes it emit later and, on receive, adds to the time its signal is received.
%   Element numbers out of range and too few values are reported as by ele_apodization.
%
%   See also ELE_APODIZATION, XDC_FOCUS_DELAYS.
orvel_usage(nargin, 3, 'ele_delay(Th, element_no, delays)');
Orvel_mex(1081, orvel_num(Th), orvel_num(element_no(:)), orvel_num(delays));
end
