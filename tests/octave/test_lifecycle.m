% Lifecycle and dispatch through the real module and the script layer.
init_check = 'Error: You must call orvel_init as the first procedure to initialize orvel';

% The dispatch texts are checked in tests/unit (test_gateway.cpp); here only command codes of
% Octave classes other than a full real double.
orvel_init(-1);
for code = {'5051', int32(5051), 5051 + 1i, true, sparse(5051), single(5051)}
  expect_error(@() Orvel_mex(code{1}), ['Error: The command code must be real double values ' ...
               '(not text, logical, integer, single, complex or sparse data)']);
end
orvel_end();

% A positive mode evaluates the logo in Octave before the banner of 15 lines of 69 characters.
out = evalc('orvel_init(1)');
logo = evalc('orvel_logo');
assert(strncmp(out, logo, numel(logo)));
assert(numel(out) == numel(logo) + 15 * 69);

% A call of the module from host code that a command runs (here the logo) is refused and
% changes nothing: the initialisation that ran the logo completes, and the system stays up.
orvel_end();
shadow = shadow_function('orvel_logo', ['  global reentry\n  try\n    Orvel_mex(5002);\n' ...
    '    reentry = ''accepted'';\n  catch err\n    reentry = err.message;\n  end']);
global reentry
evalc('orvel_init(1)');
shadow_function([], shadow);
assert(strcmp(reentry, ['Orvel_mex: Error: Orvel_mex was called while one of its commands was ' ...
                        'running (from host code that the command ran, such as drawnow or ' ...
                        'orvel_logo); the call is refused']), reentry);
orvel_info();  % still initialised: the refused end changed nothing

% clear Orvel_mex runs the module's unload hook: an initialised module prints its three lines
% (their text, and the silence after orvel_end, are checked in tests/unit, test_gateway.cpp) and
% is down afterwards.
out = evalc('clear Orvel_mex');
assert(numel(strsplit(strtrim(out), "\n")) == 3 && strncmp(out, 'Orvel is terminating', 20), out);
expect_error(@() orvel_info(), init_check);

% exit(n) in host code that a command runs ends Octave with status n once the command has
% released what it holds: from the logo at initialisation, and from a redraw of the progress
% display in the middle of a calculation on two threads (the first progress line comes after
% more than 3 s, so the calculation is sized for about 30 s, as timed here; it ends at that first
% redraw, so the margin costs nothing, and a timing taken while other tests load the machine
% cannot leave it shorter than 3 s).
function status = run_octave(lines)
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, '%s\n', lines{:});
  fclose(fid);
  status = system(sprintf('"%s" --no-gui --norc --no-history --quiet --path "%s" --path "%s" "%s" < /dev/null', ...
                          fullfile(OCTAVE_HOME(), 'bin', 'octave-cli'), ...
                          fileparts(which('Orvel_mex')), fileparts(which('calc_hp')), script));
  delete(script);
end
orvel_init(-1);
Th = xdc_linear_array(64, 0.3e-3, 5e-3, 0.05e-3, 10, 20, [0 0 30e-3]);
started = tic;
calc_hp(Th, [zeros(100, 2), linspace(0.01, 0.06, 100)']);
points = ceil(30 / (toc(started) / 100));
orvel_end();
exiting = {'orvel_logo', {'orvel_init(1);', 'disp(''went on'');'}, 3
           'drawnow', {'orvel_init(-1);', 'set_option(''show_times'', 3);', 'set_option(''threads'', 2);', ...
                       'Th = xdc_linear_array(64, 0.3e-3, 5e-3, 0.05e-3, 10, 20, [0 0 30e-3]);', ...
                       sprintf('calc_hp(Th, [zeros(%d, 2), linspace(0.01, 0.06, %d)'']);', points, points), ...
                       'disp(''went on'');'}, 4};
for k = 1:rows(exiting)
  shadow = shadow_function(exiting{k, 1}, sprintf('  exit(%d);', exiting{k, 3}));
  status = run_octave([{sprintf('addpath(''%s'');', shadow)}, exiting{k, 2}]);
  shadow_function([], shadow);
  assert(status == exiting{k, 3}, '%s: exit status %d', exiting{k, 1}, status);
end
disp('test_lifecycle: passed');
