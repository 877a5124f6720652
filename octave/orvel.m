function orvel()
%ORVEL  Orvel: ultrasound fields and echoes by the spatial impulse response method.
%   Start with orvel_init; define transducers (apertures) with xdc_*; give them pulses,
%   focusing and apodization; calculate with calc_*; end with orvel_end. help COMMAND tells
%   more; typing orvel prints this overview.
%
%   Transducers (each returns a handle Th)
%     xdc_piston                   flat round single-element piston
%     xdc_concave                  round single element curved to a sphere
%     xdc_linear_array             flat linear array
%     xdc_focused_array            linear array curved in elevation
%     xdc_linear_multirow          flat linear array of several rows
%     xdc_focused_multirow         multi-row linear array curved in elevation
%     xdc_2d_array                 flat 2-D array with a pattern of enabled elements
%     xdc_convex_array             convex (curved linear) array
%     xdc_convex_focused_array     convex array curved in elevation
%     xdc_convex_focused_multirow  multi-row convex array curved in elevation
%     xdc_rectangles               aperture from a table of rectangles
%     xdc_triangles                aperture from a table of triangles
%     xdc_triangles_old            one physical element made of triangles
%     xdc_line_elements            aperture of flat elements bounded by straight lines
%     xdc_free                     release an aperture
%
%   Settings of apertures
%     xdc_impulse                  impulse response of the transducer
%     xdc_excitation               excitation of the elements
%     xdc_focus                    focus time line from focus points
%     xdc_focus_delays             focus time line from given delays
%     xdc_dynamic_focusing         dynamic focusing along a direction
%     xdc_center_focus             reference point of focusing
%     xdc_quantization             quantization of focusing delays
%     xdc_apodization              apodization time line
%     xdc_baffle                   soft or rigid baffle
%     ele_apodization              apodization of the mathematical elements
%     ele_delay                    delays of the mathematical elements
%     ele_waveform                 waveforms of single physical elements
%     xdc_show                     print a description of an aperture
%     xdc_get                      elements and time lines of an aperture as a matrix
%
%   Calculations
%     calc_h                       spatial impulse response [m/s]
%     calc_hp                      emitted field
%     calc_hhp                     pulse-echo field
%     calc_scat                    received signal of point scatterers, summed
%     calc_scat_multi              received signals, one per receive element
%     calc_scat_all                received signals of every transmit and receive element pair
%     calc_hp_non_linear           emitted field with non-linear propagation
%     calc_hhp_non_linear          pulse-echo field with non-linear propagation
%     calc_scat_non_linear         summed signal of scatterers with non-linear propagation
%     calc_scat_multi_non_linear   per-element signals with non-linear propagation
%     calc_hp_map                  map of the emitted field: peak pressures [Pa], intensity,
%                                  harmonic field, per point, without the signals
%     calc_hhp_map                 map of the pulse-echo field, the same quantities
%     das_image                    delay-and-sum image of RF data from plane, diverging,
%                                  focused or single-element transmits, on every thread
%     iq_demodulate                IQ (baseband) signals of RF data: mixed, low-passed, decimated
%     clutter_filter               polynomial-regression or FIR high-pass along slow time
%     color_flow                   axial velocity [m/s], power and variance along slow time
%     doppler_spectrum             spectrogram of a range gate over slow time
%
%   General commands
%     orvel_init                   start the simulator (before every other command)
%     orvel_end                    end it and release all its memory
%     orvel_info                   print the configuration
%     set_option                   set an option: speed of sound, attenuation, threads, ...
%     get_option                   the value of an option, fs included, exactly
%     set_sampling                 set the sampling frequency fs
%     orvel_debug                  debug messages on or off
%     orvel_logo                   print the logo
%
%   Conversion
%     xdc_convert                  rectangles of an aperture to triangles
%     xdc_line_convert             rectangles of an aperture to elements bounded by lines
%
%   Units. Lengths are in metres, times in seconds, frequencies in Hz and angles in radians,
%   in every argument and result; only the printed reports use mm, us, MHz and degrees. A
%   point is a row [x y z]; n points are an n x 3 matrix. The built-in transducers are
%   centred on the origin, lie in or touch the plane z = 0 and radiate towards z > 0.
%   Handles. A constructor returns a handle Th, a whole number from 0, valid until xdc_free
%   or orvel_end; a later aperture may receive a freed handle again. A handle that is not a
%   whole number (beyond rounding error) is refused.
%   Pulses. Impulse responses, excitations and waveforms are samples at fs from time 0, kept
%   as samples: a later set_sampling changes their duration. A new aperture has a one-sample
%   impulse response and excitation of value 1. Pulses, apodizations, waveforms and
%   amplitudes lie within +-1e30; an aperture's lengths (sizes, radii, points, table
%   coordinates) within +-1e9 m, sizes (widths, heights, kerfs) are 0 or more, and a size
%   that is not 0 gives sub-elements of at least 1e-9 m.
%
%   Results of calculations, [result, start_time] = calc_*(...): one column per point (per
%   receive element for the *_multi commands, per element pair for calc_scat_all), one row
%   per sample at fs, all columns on one time axis: row k is at start_time + (k-1)/fs [s]. A
%   column is 0 before its signal starts and after it ends; the last row is 0. calc_scat and
%   calc_scat_non_linear return one column without that row.
%   Meaning and unit. calc_h gives h [m/s]: for a surface velocity v(t) [m/s] the velocity
%   potential at the point is v conv h [m^2/s] and the pressure p = rho0 d/dt (v conv h)
%   [Pa], rho0 the density [kg/m^3]. The other calculations convolve h with the pulses, each
%   convolution a time integral (sum of products times 1/fs), so a result's unit is that of
%   its factors times s per convolution; no density and no derivative are applied:
%     calc_hp   h conv impulse conv excitation, in m times the unit of the pulse P = impulse
%               conv excitation. If P is the surface velocity v [m/s], p = rho0*diff(hp)*fs
%               [Pa]; if P is rho0 dv/dt [Pa/m], hp is the pressure in Pa, as the non-linear
%               commands assume. calc_hp_map gives the pressure's peaks, intensity and
%               harmonic field per point in Pa directly (P the surface velocity, rho0 the
%               option rho), without the signals.
%     calc_hhp  h_tx conv h_rx conv impulse_tx conv excitation conv impulse_rx, in m^2 times
%               the unit of that two-way pulse: the echo of one scatterer of amplitude 1. The
%               constants and derivatives of scattering and reception go into the pulses.
%     calc_scat the sum over the scatterers of amplitude times that echo.
%   With the one-sample pulses of value 1 every convolution only divides by fs: calc_hp then
%   returns h / fs^2.
%
%   Delays. A positive delay [s] makes an element emit later and, on receive, adds to the time
%   its signal is received; focusing gives an element the delay |F - ref|/c - |F - centre|/c
%   (F the focus point, ref the reference point of xdc_center_focus, centre the element's), so
%   the waves of all elements meet at F at the reference point's time of flight |F - ref|/c.
%   Time lines. The focus and the apodization time line of an aperture are read, for each
%   physical element, at that element's one-way time of flight to the field point or
%   scatterer P, |P - centre|/c, on transmit and on receive alike: not at the round-trip time
%   and not at the time of the output sample. An entry holds from its time up to and
%   including the next entry's time; the first entry also before its own time.
%   Time of an echo. The pulses start at time 0, so a result lags by the pulse's own length.
%   The echo of a scatterer at the common focus F of both apertures is centred near
%   2*|F - ref|/c + lag, for symmetric pulses with
%     lag = (numel(impulse_tx) + numel(excitation) + numel(impulse_rx) - 3) / (2*fs),
%   half the length of the convolved pulses (the emitted field at F: |F - ref|/c, and lag
%   without impulse_rx). Subtract lag from start_time to put echoes at their depth.
%   Attenuation, sound speed and non-linearity: help set_option.
%
%   Errors. Bad input is refused before anything changes. The module's own texts are
%   "Orvel_mex: " followed by "Error: ..." (bad arguments and values), "Orvel error: ..."
%   (the system's state, such as a freed aperture) or "Internal Error n: ..." (too few
%   arguments, unknown command codes). The scripts check some arguments first; their texts
%   begin with the command's name ("xdc_apodization: ..."), as do the Python package's. A
%   calculation whose result overflowed (NaN or Inf samples, from settings that each lie in
%   range but together do not, such as a strong freq_att far below att_f0) is refused with
%   the likely cause instead of returning the result.
%
%   See also ORVEL_INIT, SET_OPTION, CALC_HP, XDC_LINEAR_ARRAY.
help('orvel');
end
