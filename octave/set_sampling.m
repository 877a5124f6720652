function set_sampling(fs)
%SET_SAMPLING  Set the sampling frequency of all calculations.
%   set_sampling(fs) sets the sampling frequency to fs in Hz (default 100e6; from 1e3 to
%   1e12): the time step of every calculated signal and of every pulse.
%   Impulse responses, excitations and element waveforms already given to apertures keep
%   their samples, which are then taken at the new fs: a pulse set at 100 MHz lasts half as
%   long at 200 MHz. Set them again after changing fs. The module's warning that says so is
%   not printed after a quiet start (orvel_init(-1)), which the examples use.
%
%   See also SET_OPTION, XDC_IMPULSE, XDC_EXCITATION.
orvel_usage(nargin, 1, 'set_sampling(fs)');
Orvel_mex(5020, orvel_num(fs));
end
