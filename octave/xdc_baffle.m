function xdc_baffle(Th, soft_baffle)
%XDC_BAFFLE  Set the baffle condition of an aperture.
%   xdc_baffle(Th, soft_baffle): 1 uses the soft-baffle boundary condition (the response is
%   weighted by the obliquity z/r), 0 the rigid baffle (the default). The value is rounded.
%
%   See also XDC_LINEAR_ARRAY.
orvel_usage(nargin, 2, 'xdc_baffle(Th, soft_baffle)');
Orvel_mex(1066, orvel_num(Th), orvel_num(soft_baffle));
end
