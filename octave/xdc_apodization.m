function xdc_apodization(Th, times, apo)
%XDC_APODIZATION  Set the apodization time line of an aperture.
%   xdc_apodization(Th, times, apo)
%
%   times  the times [s] from which each row of apo is used (n values)
%   apo    n x (number of physical elements) matrix of weights, one row per time
%
%   The weight multiplies the element's response, on transmit and on receive. The row in
%   force for element i is chosen by its one-way time of flight |P - centre_i|/c to the field
%   point or scatterer P, on transmit and on receive alike (not the round-trip time): a row
%   holds from its time up to and including the next row's time, the first also before its
%   own. The whole apodization time line is replaced.
%
%   See also ELE_APODIZATION, XDC_FOCUS_DELAYS, ORVEL.
orvel_usage(nargin, 3, 'xdc_apodization(Th, times, apo)');
orvel_per_element('xdc_apodization', 'apo', apo, Th);
Orvel_mex(1070, orvel_num(Th), orvel_num(times(:)), orvel_num(apo));
end
