% The script layer itself: the usage text of a command called with too few arguments, the
% refusal of point tables and per-point vectors of the wrong shape (command and argument
% named), of unknown type and option names and of tables without a column per element, and
% the help texts: help orvel lists every command, and every result has a unit.
orvel_init(-1);
folder = fileparts(which('orvel_init'));
files = dir(fullfile(folder, '*.m'));
commands = setdiff(regexprep({files.name}, '\.m$', ''), {'Contents', 'orvel'});
Th = xdc_linear_array(4, 0.3e-3, 5e-3, 0.05e-3, 1, 2, [0 0 20e-3]);
pos = [0 0 15e-3; 1e-3 0 20e-3; -1e-3 0 25e-3];

% A missing argument: the usage, not Octave's "'x' undefined". Every command that needs an
% argument says so when called with none (orvel_init's argument is optional).
expect_error(@() xdc_focus(Th, 0), 'xdc_focus: needs 3 arguments: xdc_focus(Th, times, points)');
expect_error(@() xdc_get(), 'xdc_get: needs at least 1 argument: xdc_get(Th, info_type)');
for name = setdiff(commands, {'orvel_init'})
  name = name{1};
  if nargin(name) == 0
    continue;
  end
  try
    feval(name);
    error('%s with no arguments did not fail', name);
  catch err
    assert(strcmp(err.identifier, 'orvel:usage') ...
           && ~isempty(regexp(err.message, ['^' name ': needs .*: ' name '\('], 'once')), ...
           '%s with no arguments: %s', name, err.message);
  end
end

% Points must be n x 3: a 3 x n matrix would be n wrong points, an n x 4 one is a mistake;
% per-point vectors hold one value per point, a pulse is a vector. What is plainly meant
% passes: one point as a row or a column, amplitudes as a row or a column.
five = [pos; 0 0 30e-3; 0 0 35e-3]';
shape = 'must be an n x 3 real matrix (one row [x y z] per point), but is';
expect_error(@() calc_hp(Th, five), ...
    sprintf('calc_hp: points %s 3 x 5; transpose it (points.'')', shape));
expect_error(@() calc_hp(Th, [pos(1:2, :), [1; 1]]), sprintf('calc_hp: points %s 2 x 4', shape));
expect_error(@() xdc_focus(Th, (0:4) * 1e-6, five), ...
    sprintf('xdc_focus: points %s 3 x 5; transpose it (points.'')', shape));
expect_error(@() xdc_focus(Th, [0 1e-6], [pos(1:2, :), [1; 1]]), ...
    sprintf('xdc_focus: points %s 2 x 4', shape));
expect_error(@() calc_scat(Th, Th, pos, [1 2 3 4]), ...
    'calc_scat: amplitudes must hold one value per point: 3 expected, 4 received');
expect_error(@() calc_hhp_non_linear(Th, Th, pos, [1 2]), ...
    'calc_hhp_non_linear: distances must hold one value per point: 3 expected, 2 received');
expect_error(@() xdc_impulse(Th, ones(2, 5)), ...
    'xdc_impulse: pulse must be a row or a column of samples, but is 2 x 5');
h = calc_hp(Th, pos(2, :));
assert(columns(h) == 1 && isequal(h, calc_hp(Th, pos(2, :)')));
assert(isequal(calc_scat(Th, Th, pos, [1 -0.5 2]), calc_scat(Th, Th, pos, [1; -0.5; 2])));

% Script checks made before the module is called, none changing anything: an unknown type name
% of xdc_get (a number that is no type still gives []), an unknown option name (case-blind, as
% in the module), and time-line tables without one column per physical element (Th has 4).
state = @() {xdc_get(Th, 'focus'), xdc_get(Th, 'apod'), evalc('orvel_info')};
before = state();
expect_error(@() xdc_get(Th, 'foo'), ['xdc_get: info_type must be ''rect'', ''tri'', ''lin'', ' ...
    '''focus'' or ''apod'' (or a number from 1 to 5), but is ''foo''']);
assert(isempty(xdc_get(Th, 7)) && isequal(xdc_get(Th, 'APOD'), before{2}));
expect_error(@() set_option('speed', 1500), ['set_option: name must be one of c, fs, use_att, ' ...
    'att, freq_att, att_f0, tau_m, z, BdivA, dz, rho, debug, accurate_time_calc, fast_integration, ' ...
    'show_times, use_rectangles, use_triangles, use_lines, threads (in any case), ' ...
    'but is ''speed''']);
set_option('BDIVA', 5.2);  % the default: known in any case, and nothing changes
expect_error(@() xdc_apodization(Th, 0, ones(1, 3)), ...
    'xdc_apodization: apo must have one column per physical element: 4 expected, 3 received');
expect_error(@() xdc_focus_delays(Th, [0; 1e-6], zeros(2, 5)), ...
    'xdc_focus_delays: delays must have one column per physical element: 4 expected, 5 received');
assert(isequal(state(), before));

% help orvel names every command, and each command's help gives the unit of every result
% (an aperture handle has none).
overview = evalc('help orvel');
for name = commands
  name = name{1};
  assert(~isempty(regexp(overview, ['^\s+' name '\s'], 'lineanchors', 'once')), ...
         'help orvel does not list %s', name);
  text = fileread(fullfile(folder, [name '.m']));
  outputs = regexp(text, '^function\s+\[?([\w, ]*?)\]?\s*=', 'tokens', 'once', 'lineanchors');
  if isempty(outputs)
    continue;
  end
  for out = setdiff(strtrim(strsplit(outputs{1}, ',')), {'Th'})
    assert(~isempty(regexp(get_help_text(name), ['^\s*' out{1} '\s[^\n]*\[[^\]\n]+\]'], ...
                           'lineanchors', 'once')), 'help %s gives no unit for %s', name, out{1});
  end
end
orvel_end();
disp('test_scripts: passed');
