function xdc_apodization(Th, times, apo)
%XDC_APODIZATION  Set the apodization time line of an aperture.
%   xdc_apodization(Th, times, apo)
%
%   times  the times [s] from which each row of apo is used (n values)
%   apo    n by (number of physical elements) matrix of weights
%
%   The whole apodization time line is replaced.
%
%   See also ELE_APODIZATION, XDC_FOCUS_DELAYS.
Orvel_mex(1070, orvel_num(Th), orvel_num(times(:)), orvel_num(apo));
end
