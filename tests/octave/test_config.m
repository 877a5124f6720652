% The configuration commands through the script layer and the real module.
orvel_init(0.2);  % rounds to 0: banner, not quiet
warning_text = ['Warning:  Remember to set all pulses in apertures for the new sampling ' ...
                'frequency' "\n"];
expect_text(evalc('set_sampling(int32(50e6))'), warning_text);
expect_text(evalc('set_option(''FS'', 40e6)'), warning_text);

% Values of every Octave number class and names in any case reach the module as doubles (the
% report's layout is checked in tests/unit, test_config).
set_option('c', 1480);
set_option('Use_Att', true);
set_option('freq_att', single(0.5e-6));
set_option('show_times', int8(3));
set_option('use_triangles', uint16(1));
set_option('Threads', 3);
expected = {'fs', 40e6; 'c', 1480; 'use_att', 1; 'freq_att', double(single(0.5e-6));
            'show_times', 3; 'use_triangles', 1; 'use_rectangles', 0; 'threads', 3};
for k = 1:rows(expected)
  assert(get_option(expected{k, 1}) == expected{k, 2}, '%s is %g', expected{k, 1}, ...
         get_option(expected{k, 1}));
end
report = evalc('orvel_info');

% Option errors leave everything as it was (the module's texts are checked in tests/unit; here
% a value of another Octave class, and a range that only this checks).
expect_error(@() set_option('c', 'fast'), ...
    ['Error: The option value must be real double values (not text, logical, integer, ' ...
     'single, complex or sparse data)']);
expect_error(@() set_option('threads', 0), ...
    'Error: The option threads must be a whole number from 1 to 1024, but is 0');
report2 = evalc('orvel_info');
expect_text(report2, report);

% The script orvel_debug: its trace is printed while the flag is still set.
orvel_debug(1);
expect_text(evalc('orvel_debug(0)'), ['Orvel debug message: Setting debug flag ' "\n"]);

% The module's not-found line reaches Octave's console before the error.
out = evalc('try, Orvel_mex(5050, ''USE_LINE'', 1); catch, end');
expect_text(out, ['Trying to set option: use_line ' "\n"]);

% Re-initialisation brings the defaults back (quiet mode's silence: test_config.cpp).
orvel_end();
orvel_init(-1);
assert(get_option('c') == 1540 && get_option('show_times') == 0 ...
       && get_option('threads') == nproc());
orvel_end();
disp('test_config: passed');
