% Input that the module used to accept and then garble, and a call of the module from host code
% that a calculation runs: each is refused with a clear text and changes nothing. The refusal
% texts that tests/unit checks through the embedded host are not repeated here.
orvel_init(-1);
Th = xdc_linear_array(2, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 25e-3]);
state = @() {xdc_get(Th, 'focus'), xdc_get(Th, 'apod'), xdc_get(Th, 'rect'), evalc('orvel_info')};
before = state();
pt = [0 0 0.02];

% Refusals whose texts the unit tests do not show through the embedded host, and a name cut by
% an embedded NUL in an Octave char array.
refusals = {
  @() Orvel_mex(1001, 2, 1e-3, 5e-3, 0, 1, 1, [0 Inf 0]), 'The focus point must hold finite values, but value 2 is inf'
  @() Orvel_mex(1061, Th, 0, [0 Inf]), 'The delay table must hold finite values, but value 2 is inf'
  @() Orvel_mex(1082, Th, 1, [1 NaN 0]), 'The value table must hold finite values, but value 2 is nan'
  @() Orvel_mex(1062, Th, 0, 0, Inf), 'The angle in the y-z plane must be finite, but is inf'
  @() calc_scat(Th, Th, pt, 1e31), 'The amplitude vector must hold values within +-1e+30 (larger values overflow a calculation), but value 1 is 1e+31'
  @() Orvel_mex(5050, ['c' char(0) 'x'], 1500), 'The option name must not contain NUL characters, but character 2 is one'
  @() Orvel_mex(5020, [1 2] * 1e6), 'The sampling frequency must be one number (1 x 1), but is a 1 x 2 matrix'
  @() Orvel_mex(1001, [2 3], 1e-3, 5e-3, 0, 1, 1, pt), 'The number of elements must be one number (1 x 1), but is a 1 x 2 matrix'
};
for k = 1:rows(refusals)
  expect_error(refusals{k, 1}, ['Error: ' refusals{k, 2}]);
end
assert(isequal(state(), before));
% What is plainly meant still works: a 1 x 1 matrix, whole numbers as doubles, a column point.
set_option('c', 1540);
xdc_focus(Th, 0, [0; 0; 0.03]);
column = xdc_get(Th, 'focus');
xdc_focus(Th, 0, [0 0 0.03]);
assert(isequal(column, xdc_get(Th, 'focus')) && ~isequal(column, before{1}));

% Options that are each in range but together overflow: the attenuation's gain below att_f0,
% exp(att_f0 x freq_att x 0.115 x r), is about 2e5 at 10 mm for 1 MHz, but for 50 MHz 1e267 at
% 10 mm and beyond the double range (1.8e308) long before 50 mm. The result is refused, naming
% that gain, instead of coming back as NaN.
set_option('use_att', 1);
set_option('freq_att', 0.01);
set_option('att_f0', 1e6);
assert(all(isfinite(calc_hp(Th, [0 0 0.01]))));
set_option('att_f0', 50e6);
try
  calc_hp(Th, [0 0 0.01; 0 0 0.05]);
  error('test_refusals:none', 'an overflowed result was returned');
catch err
  assert(~isempty(regexp(err.message, ['^Orvel_mex: Error: The result overflowed the double ' ...
      'range \(column 2, sample \d+ is -?(nan|inf)\); the likely cause is the frequency ' ...
      'dependent attenuation: over the 0\.05\d* m travelled its gain below att_f0 reaches ' ...
      '1e1\d\d\d \(freq_att 0\.01 dB/\(m Hz\), att_f0 5e\+07 Hz\)\. Nothing was returned$'], ...
      'once')), err.message);
end
% A field map of that field is refused the same way, already at 10 mm, where the signal is
% finite but its pressure squared is not: no NaN or Inf passes for a pressure.
try
  calc_hp_map(Th, [0 0 0.01; 0 0 0.05], {'pii', 'p_peak'});
  error('test_refusals:none', 'an overflowed map was returned');
catch err
  assert(~isempty(regexp(err.message, ['^Orvel_mex: Error: The map overflowed the double ' ...
      'range \(pii at point 1 is inf\); the likely cause is the frequency dependent ' ...
      'attenuation: over the 0\.05 m travelled'], 'once')), err.message);
end
% att_f0 above fs / 2 is a frequency the grid does not hold.
set_option('att_f0', 60e6);
expect_error(@() calc_hp(Th, pt), ['Error: The attenuation centre frequency att_f0 (6e+07 Hz) must ' ...
             'be at most half the sampling frequency (5e+07 Hz) for a calculation with frequency ' ...
             'dependent attenuation']);
set_option('use_att', 0);

% A drawnow on the path that frees the aperture in use while calc_hp shows its times: the call
% is refused, the calculation completes with the aperture it started with. The progress display
% first redraws after 4 s, so the calculation is sized to last about 7 s on one thread here.
Tp = xdc_piston(5e-3, 0.1e-3);
set_option('threads', 1);
probe = repmat([0 0 0.02], 200, 1);
tic;
calc_hp(Tp, probe);
n = ceil(7 / toc * rows(probe));
shadow = shadow_function('drawnow', ['  global freed\n  try\n    Orvel_mex(1040, 1);\n' ...
    '    freed = ''accepted'';\n  catch err\n    freed = err.message;\n  end']);
global freed
freed = '';
set_option('show_times', 3);
for attempt = 1:3  % on a machine whose load fell after the probe, no redraw came: longer again
  evalc('[h, t] = calc_hp(Tp, repmat(pt, n, 1));');
  if ~isempty(freed)
    break;
  end
  n = 2 * n;
end
set_option('show_times', 0);
shadow_function([], shadow);
assert(~isempty(strfind(freed, 'was called while one of its commands was running')), freed);
assert(size(h, 2) == n && isequal(h(:, 1), h(:, end)) && any(h(:) ~= 0));
assert(~isempty(xdc_get(Tp, 'focus')));  % still defined
orvel_end();
disp('test_refusals: passed');
