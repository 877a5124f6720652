% A Ctrl-C during a long calculation, sent as a real SIGINT to this Octave process: the
% calculation stops within a fraction of a second with the module's error, which try/catch sees
% (Octave raises no second interrupt after it), no signal stays allocated, and Orvel stays usable.
orvel_init(-1);
interrupted = 'Error: The calculation was interrupted (Ctrl-C) and stopped; nothing was returned';
Th = xdc_linear_array(64, 0.3e-3, 5e-3, 0.05e-3, 10, 20, [0 0 30e-3]);
Tr = xdc_linear_array(32, 0.3e-3, 5e-3, 0.05e-3, 2, 5, [0 0 30e-3]);
bytes_line = @() regexp(evalc('orvel_info'), 'Number of bytes reserved: +(\d+)', 'tokens'){1}{1};
bytes = bytes_line();
line = @(n) [linspace(-10e-3, 10e-3, n)', zeros(n, 1), linspace(10e-3, 60e-3, n)'];
calculations = {@(p) calc_hp(Th, p), @(p) calc_scat_multi(Th, Tr, p, ones(rows(p), 1))};

set_option('threads', 1);
for k = 1:numel(calculations)
  calculate = calculations{k};
  expected = calculate(line(7));
  % Enough points for about 15 s on one thread, were the calculation not stopped.
  started = tic;
  calculate(line(300));
  n(k) = ceil(15 / (toc(started) / 300));
  for threads = [1 2]
    set_option('threads', threads);
    system(sprintf('(sleep 1; kill -INT %d) &', getpid()));
    started = tic;
    expect_error(@() calculate(line(n(k))), interrupted);
    stopped_after = toc(started);
    % About 1 s: the signal comes 1 s after the start; well under the 7.5 s or more of the run.
    assert(stopped_after < 2.5, 'calculation %d on %d threads stopped after %.1f s', k, threads, ...
           stopped_after);
    pause(0.2);  % Octave tests for a pending interrupt here: none is left
    assert(strcmp(bytes_line(), bytes));
    assert(isequal(calculate(line(7)), expected));
  end
  set_option('threads', 1);
end

% A Ctrl-C while the progress display has Octave redraw: Octave ends the redraw with its own
% interrupt, which must reach the user as the calculation's error, not as a failure of the
% module. A slow drawnow (shadowing the built-in one) holds the redraw open for the signal.
slow = shadow_function('drawnow', '  pause(3);');
set_option('show_times', 3);  % the first progress line after 3 to 4 s, then the redraw
system(sprintf('(sleep 4.5; kill -INT %d) &', getpid()));
shown = evalc('expect_error(@() calculations{1}(line(n(1))), interrupted)');
assert(~isempty(strfind(shown, '% performed')));  % stopped after a progress line
shadow_function([], slow);
assert(strcmp(bytes_line(), bytes));
orvel_end();
disp('test_interrupt: passed');
