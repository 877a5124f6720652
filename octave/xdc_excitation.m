function xdc_excitation(Th, pulse)
%XDC_EXCITATION  Set the excitation of an aperture.
%   xdc_excitation(Th, pulse) sets the excitation of the physical elements, sampled at the
%   current sampling frequency and starting at time 0. pulse may be a row or a column; it is
%   passed on as a row. It is used by the transmit aperture only: every calculation but
%   calc_h convolves with it as a time integral (sum of products times 1/fs), for every
%   element, also one with a waveform of its own (ele_waveform). Its length delays the
%   results (help orvel: Time of an echo).
%
%   The samples are kept as given: after a later set_sampling they are taken at the new
%   sampling frequency, so the pulse's duration changes with it (set it again then; a quiet
%   start hides the module's warning). Samples must lie within +-1e30.
%
%   See also XDC_IMPULSE, ELE_WAVEFORM, SET_SAMPLING.
orvel_usage(nargin, 2, 'xdc_excitation(Th, pulse)');
Orvel_mex(1051, orvel_num(Th), orvel_samples('xdc_excitation', 'pulse', pulse));
end
