function xdc_impulse(Th, pulse)
%XDC_IMPULSE  Set the impulse response of an aperture.
%   xdc_impulse(Th, pulse) sets the transducer's impulse response to the samples of pulse,
%   taken at the current sampling frequency (set_sampling) and starting at time 0. pulse may
%   be a row or a column; it is passed on as a row.
%
%   See also XDC_EXCITATION, SET_SAMPLING.
Orvel_mex(1050, orvel_num(Th), orvel_num(reshape(pulse, 1, [])));
end
