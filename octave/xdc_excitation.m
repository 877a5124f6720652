function xdc_excitation(Th, pulse)
%XDC_EXCITATION  Set the excitation of an aperture.
%   xdc_excitation(Th, pulse) sets the excitation applied to every physical element without a
%   waveform of its own (ele_waveform), sampled at the current sampling frequency and starting
%   at time 0. pulse may be a row or a column; it is passed on as a row.
%
%   See also XDC_IMPULSE, ELE_WAVEFORM.
Orvel_mex(1051, orvel_num(Th), orvel_num(reshape(pulse, 1, [])));
end
