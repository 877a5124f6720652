function orvel_end()
%ORVEL_END  End the Orvel simulator and release all its memory.
%   orvel_end releases every aperture and the configuration. Handles given out before are
%   void afterwards; orvel_init starts again with the default settings and handles from 0.
%
%   See also ORVEL_INIT.
Orvel_mex(5002);
end
