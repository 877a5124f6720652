function xdc_focus(Th, times, points)
%XDC_FOCUS  Set the focus time line of an aperture from focus points.
%   xdc_focus(Th, times, points)
%
%   times   the times [s] from which each focus point is used, one per point
%   points  n x 3 matrix, one focus point [x y z] per row [m]
%
%   For a focus point F, element i gets the delay |F - ref|/c - |F - centre_i|/c [s] (ref the
%   reference point, xdc_center_focus), rounded to the quantization step if one is set
%   (xdc_quantization): the waves of all elements meet at F at |F - ref|/c. Elements nearer
%   to F than ref get positive delays, that is emit later; on receive the same delays are
%   added to the received signals. The delays are computed now, with the c, reference point
%   and quantization in force; later changes of these do not alter them.
%
%   The entry in force for element i is chosen by its one-way time of flight |P - centre_i|/c
%   to the field point or scatterer P, on transmit and on receive alike (not the round-trip
%   time): an entry holds from its time up to and including the next entry's time, the first
%   also before its own. To switch the receive focus at depth d, use the time d/c. The whole
%   focus time line is replaced.
%
%   See also XDC_FOCUS_DELAYS, XDC_DYNAMIC_FOCUSING, XDC_CENTER_FOCUS, ORVEL.
orvel_usage(nargin, 3, 'xdc_focus(Th, times, points)');
points = orvel_points('xdc_focus', 'points', points);
Orvel_mex(1060, orvel_num(Th), orvel_num(times(:)), points);
end
