function xdc_impulse(Th, pulse)
%XDC_IMPULSE  Set the impulse response of an aperture.
%   xdc_impulse(Th, pulse) sets the transducer's impulse response to the samples of pulse,
%   taken at the current sampling frequency (set_sampling) and starting at time 0. pulse may
%   be a row or a column; it is passed on as a row. Every calculation but calc_h convolves
%   with it as a time integral (sum of products times 1/fs); the receive aperture's impulse
%   response acts on receive. Its length delays the results (help orvel: Time of an echo).
%
%   The samples are kept as given: after a later set_sampling they are taken at the new
%   sampling frequency, so the pulse's duration changes with it (set it again then; a quiet
%   start hides the module's warning). Samples must lie within +-1e30.
%
%   See also XDC_EXCITATION, SET_SAMPLING.
orvel_usage(nargin, 2, 'xdc_impulse(Th, pulse)');
Orvel_mex(1050, orvel_num(Th), orvel_samples('xdc_impulse', 'pulse', pulse));
end
