function orvel_init(mode)
%ORVEL_INIT  Start the Orvel ultrasound field simulator.
%   orvel_init          starts Orvel and prints its banner.
%   orvel_init(mode)    mode > 0: shows the logo (orvel_logo) and the banner;
%                       mode = 0: the banner only;
%                       mode < 0: quiet: no banner, no informational notices and no
%                       calculation times (they can be turned on with set_option).
%
%   Initialisation makes a fresh configuration with the default values (speed of sound
%   1540 m/s, sampling frequency 100 MHz, no attenuation, ...) and an empty table of
%   apertures. It must come before every other command; calling it twice without orvel_end
%   between is an error. orvel_info prints the configuration.
%
%   help orvel lists every command by group, with the units and conventions they share.
%
%   See also ORVEL, ORVEL_END, ORVEL_INFO, SET_OPTION, SET_SAMPLING, ORVEL_DEBUG.
if nargin < 1
  mode = 0;
end
Orvel_mex(5001, orvel_num(mode));
end
