function xdc_free(Th)
%XDC_FREE  Release an aperture.
%   xdc_free(Th) releases the aperture with handle Th and everything it holds. The handle is
%   void afterwards; the next new aperture may receive it again.
%
%   See also XDC_LINEAR_ARRAY, ORVEL_END.
orvel_usage(nargin, 1, 'xdc_free(Th)');
Orvel_mex(1040, orvel_num(Th));
end
