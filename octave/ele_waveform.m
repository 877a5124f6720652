function ele_waveform(Th, element_no, samples)
%ELE_WAVEFORM  Give physical elements excitations of their own.
%   ele_waveform(Th, element_no, samples)
%
%   element_no  numbers of the physical elements (1-based, n values)
%   samples     n by m matrix: row k is the excitation of element element_no(k), sampled at
%               the current sampling frequency from time 0
%
%   These elements then use their own excitation instead of the aperture's (xdc_excitation)
%   in every calculation but calc_h.
%
%   See also XDC_EXCITATION.
Orvel_mex(1082, orvel_num(Th), orvel_num(element_no(:)), orvel_num(samples));
end
