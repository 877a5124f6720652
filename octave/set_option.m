function set_option(name, value)
%SET_OPTION  Set one option of the Orvel configuration.
%   set_option(name, value) with the option name as text (case does not matter; the whole
%   name must match) and a numeric value:
%
%     option               meaning [unit]                                   default; range
%     'c'                  speed of sound [m/s]                             1540; 10 to 1e5
%     'fs'                 sampling frequency [Hz]                          100e6; 1e3 to 1e12
%     'use_att'            attenuation on (any non-zero value) or off       0
%     'att'                frequency independent attenuation [dB/m]         0; 0 to 1e5
%     'freq_att'           frequency dependent attenuation [dB/(m Hz)]      0; 0 to 0.01
%     'att_f0'             centre frequency of the frequency dependent term [Hz]
%                                                                           0; 0 to 5e11
%     'tau_m'              constant of the dispersion phase, no unit        20; -100 to 100
%     'z'                  characteristic acoustic impedance [kg/(m^2 s)]   1.54e6; > 0 to 1e9
%     'BdivA'              non-linearity parameter B/A                      5.2; -1e4 to 1e4
%     'dz'                 propagation step of non-linear calculations [m]  0.5e-3; > 0 to 1
%     'rho'                density of the medium, for the pressure of field
%                          maps (calc_hp_map) [kg/m^3]                      1000; > 0 to 1e5
%     'debug'              debug messages                                   0
%     'accurate_time_calc' corner-accurate arrival times for rectangles     0
%     'fast_integration'   fast integration for lines and triangles         0
%     'show_times'         n > 0 shows calculation times, every n seconds
%                          when n > 2, else every 5 seconds; n <= 0 hides them
%     'use_rectangles'     apertures defined from now on keep rectangles    1
%     'use_triangles'      ... are converted to triangles                   0
%     'use_lines'          ... are converted to bounding-line elements      0
%     'threads'            threads a calculation runs on, 1 to 1024; 1 runs it on the
%                          calling thread alone. Results are the same for every count.
%                          (the cores this process may use)
%
%   Whole-number options are rounded. The flags (debug to fast_integration and the three
%   use_ options) take whole numbers from -32768 to 32767: 0 is off, any other value on.
%   Turning one of use_rectangles, use_triangles and use_lines on turns the other two off.
%   A value outside its range is refused and changes nothing: the ranges are those in which
%   a calculation means something and its numbers stay within double precision (sound is
%   slower than 10 m/s only in theory, and below it a response spans so many samples that a
%   calculation takes minutes; a negative attenuation is a gain that overflows with the
%   distance). A calculation with freq_att non-zero also needs att_f0 <= fs/2. An unknown
%   name is an error.
%
%   Attenuation (use_att on). Over a path of r metres the amplitude at frequency f [Hz] is
%   multiplied by exp(-(att + freq_att*(f - att_f0)) * b * r), b = ln(10)/20 (dB to nepers),
%   so frequencies below att_f0 are raised by the freq_att term; att = freq_att*att_f0 gives
%   freq_att*f dB/m in all. The att term is applied sample by sample at the distance
%   travelled by then, r = c*(t - delay) (t the sample's time, delay the element's focusing
%   delay); the freq_att term in the frequency domain, once per response, at the r = c*t of
%   the response's middle sample, with the dispersion phase
%     phi(f) = -(freq_att * b * r / pi^2) * w * (ln(w) - tau_m),   w = 2*pi*f [rad/s],
%   which tau_m enters only as a term linear in w (a time shift, no amplitude change).
%   Pulse-echo calculations attenuate over the way out and back.
%
%   See also GET_OPTION, ORVEL_INFO, SET_SAMPLING, ORVEL_DEBUG, ORVEL.
orvel_usage(nargin, 2, 'set_option(name, value)');
% The module names no valid option when it finds none; a name that is not text is left to it.
names = {'c', 'fs', 'use_att', 'att', 'freq_att', 'att_f0', 'tau_m', 'z', 'BdivA', 'dz', 'rho', ...
         'debug', 'accurate_time_calc', 'fast_integration', 'show_times', 'use_rectangles', ...
         'use_triangles', 'use_lines', 'threads'};
if ischar(name) && ~any(strcmpi(name, names))
  error('orvel:badArgument', 'set_option: name must be one of %s (in any case), but is ''%s''', ...
        strjoin(names, ', '), name);
end
Orvel_mex(5050, name, orvel_num(value));
end
