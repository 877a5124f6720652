function value = get_option(name)
%GET_OPTION  The value of one option of the Orvel configuration, as a double.
%   value = get_option(name) returns the value in force of the option name, any name that
%   set_option takes (case does not matter): 'c', 'fs', 'use_att', 'att', 'freq_att',
%   'att_f0', 'tau_m', 'z', 'BdivA', 'dz', 'rho', 'debug', 'accurate_time_calc',
%   'fast_integration', 'show_times', 'use_rectangles', 'use_triangles', 'use_lines',
%   'threads'.
%
%     value   the option's value [its unit in help set_option: m/s for 'c', Hz for 'fs', ...]
%
%   The value is the double the system holds, not a printed rounding: fs = 100e6/3 comes back
%   as exactly 100e6/3 (orvel_info prints it as 33.3333 MHz). Flags come back as the whole
%   number they hold (0 off); show_times as the seconds between progress lines when times
%   are shown, 0 when not; so set_option(name, get_option(name)) leaves the configuration as
%   it was. An unknown name is an error that lists the options.
%
%   See also SET_OPTION, SET_SAMPLING, ORVEL_INFO.
orvel_usage(nargin, 1, 'get_option(name)');
value = Orvel_mex(7001, name);
end
