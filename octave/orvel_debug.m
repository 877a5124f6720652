function orvel_debug(flag)
%ORVEL_DEBUG  Turn Orvel's debug messages on or off.
%   orvel_debug(1) makes every command print "Orvel debug message: ..." as it starts and
%   every signal allocation and release print a trace; orvel_debug(0) turns this off.
%   The flag is rounded to a whole number; any non-zero value turns debugging on.
%
%   See also SET_OPTION, ORVEL_INFO.
orvel_usage(nargin, 1, 'orvel_debug(flag)');
Orvel_mex(5010, orvel_num(flag));
end
