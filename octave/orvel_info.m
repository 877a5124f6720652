function orvel_info()
%ORVEL_INFO  Print the current Orvel configuration.
%   orvel_info prints the number of apertures, the element kinds used for new apertures,
%   the speed of sound, sampling frequency, attenuation and non-linearity settings, the
%   memory used by signals, and the debug and timing settings.
%
%   See also SET_OPTION, ORVEL_INIT.
Orvel_mex(5051);
end
