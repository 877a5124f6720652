% ORVEL_MEX  The compiled module of Orvel, which every command calls.
%   Orvel_mex(code, ...) runs the command with that code; the commands (orvel_init, xdc_*,
%   calc_*, ...) are the way to use it: help orvel lists them by group, with their units
%   and conventions.
%
%   This file only gives the module its help text: in the package it lies beside
%   Orvel_mex.mex, which Octave calls in its place.
