% Orvel: ultrasound fields and echoes by the spatial impulse response method.
%
% The commands of this folder, one line each by group (transducers, settings of apertures,
% calculations, general commands, conversion), and the conventions they share (units,
% handles, result layout, delays, time lines, the time of an echo) are in one place:
%
%   help orvel
