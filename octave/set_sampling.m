function set_sampling(fs)
%SET_SAMPLING  Set the sampling frequency of all calculations.
%   set_sampling(fs) sets the sampling frequency to fs in Hz (default 100e6): the time step
%   of every calculated signal and of every pulse given afterwards.
%   Impulse responses and excitations already given to apertures keep the sampling
%   frequency they were made with: set them again for the new frequency (a warning
%   reminds of this unless Orvel was started quietly).
%
%   See also SET_OPTION, XDC_IMPULSE, XDC_EXCITATION.
orvel_usage(nargin, 1, 'set_sampling(fs)');
Orvel_mex(5020, orvel_num(fs));
end
