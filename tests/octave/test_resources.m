% Results too large for memory: refused before anything is made, or, when the host cannot give
% the matrix after all, an error that says what was being allocated, with the module named once.
orvel_init(-1);
fs = 100e6;
T = xdc_linear_array(1, 0.3e-3, 5e-3, 0.05e-3, 1, 2, [0 0 0.03]);
bytes_line = @() regexp(evalc('orvel_info'), 'Number of bytes reserved: +(\d+)', 'tokens'){1}{1};
bytes = bytes_line();

% The rows of the matrix that aligns the responses at two points: from the earlier start to the
% later end, plus the trailing zero row; each single point's result carries its own zero row.
function rows = aligned_rows(T, near, far, fs)
  [h1, t1] = calc_h(T, near);
  [h2, t2] = calc_h(T, far);
  s1 = round(t1 * fs);
  s2 = round(t2 * fs);
  rows = max(s1 + numel(h1) - 1, s2 + numel(h2) - 1) - min(s1, s2) + 1;
end

% A point 30 km away among 999 near ones: 1.9e9 rows of 1000 columns, some 15 TB, more than any
% machine's memory. The limit named after "more than the" is the machine's.
rows = aligned_rows(T, [0 0 0.01], [0 0 30000], fs);
points = [repmat([0 0 0.01], 999, 1); 0 0 30000];
try
  calc_h(T, points);
  error('test_resources:none', 'a 15 TB result was not refused');
catch err
  head = sprintf(['Orvel_mex: Error: The result would span %g s: %d samples x 1000 columns ' ...
                  '(%.0f bytes), more than the '], rows / fs, rows, 8 * rows * 1000);
  assert(strncmp(err.message, head, numel(head)), err.message);
  tail = err.message(numel(head) + 1:end);
  limits = ['(memory available on this machine|left under this process''s memory limit|' ...
            'left of this process''s address-space limit|the largest object this machine addresses)'];
  assert(!isempty(regexp(tail, ['^\d+ bytes of ' limits '$'], 'once')), tail);
end
assert(strcmp(bytes_line(), bytes));

% The per-element sums of calc_scat_multi are refused as they grow: 4096 columns of the 2e8
% samples between echoes 1.5 km apart, some 6.5 TB. One thread: element 0 is the one refused.
Tm = xdc_linear_array(4096, 0.3e-3, 5e-3, 0.05e-3, 1, 2, [0 0 0.03]);
set_option('threads', 1);
try
  calc_scat_multi(Tm, Tm, [0 0 0.01; 0 0 1540], [1; 1]);
  error('test_resources:none', 'a 6.5 TB result was not refused');
catch err
  parts = regexp(err.message, ['^Orvel_mex: Error: The result would span (\S+) s: (\d+) ' ...
                               'samples x 4096 columns \((\d+) bytes\), more than the \d+ ' ...
                               'bytes of '], 'tokens', 'once');
  assert(numel(parts) == 3, err.message);
  samples = str2double(parts{2});
  % The round trip to 1.54 km, 2 s, less that to the near echo, within the aperture's 1.4 m.
  assert(abs(samples / fs - 2) < 1e-3 && str2double(parts{3}) == 8 * samples * 4096);
  assert(abs(str2double(parts{1}) - samples / fs) < 1e-5 * samples / fs);
end
xdc_free(Tm);
assert(strcmp(bytes_line(), bytes));

% A second Octave limited to 1.5 GiB of address space asks for a 1.57 GB matrix: below the limit,
% but more than the room Octave leaves beside itself, so refused beforehand with what is left.
% (Skipped on a machine with less memory available than the limit, which would be named.)
meminfo = fileread('/proc/meminfo');
available_kb = str2double(regexp(meminfo, 'MemAvailable: +(\d+)', 'tokens'){1}{1});
limit_kb = 1536 * 1024;
if available_kb > limit_kb
  far = [0 0 1510];
  rows = aligned_rows(T, [0 0 0.01], far, fs);
  assert(8 * rows * 2 < limit_kb * 1024);
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, 'orvel_init(-1);\nset_option(''threads'', 1);\n');
  fprintf(fid, 'T = xdc_linear_array(1, 0.3e-3, 5e-3, 0.05e-3, 1, 2, [0 0 0.03]);\n');
  fprintf(fid, 'try\n  calc_h(T, [0 0 0.01; %.17g %.17g %.17g]);\n  disp(''no error'');\n', far);
  fprintf(fid, 'catch err\n  printf(''[%%s]\\n'', err.message);\nend\norvel_end();\n');
  fclose(fid);
  command = sprintf(['ulimit -v %d && "%s" --no-gui --norc --no-history --quiet ' ...
                     '--path "%s" --path "%s" "%s" < /dev/null'], ...
                    limit_kb, fullfile(OCTAVE_HOME(), 'bin', 'octave-cli'), ...
                    fileparts(which('Orvel_mex')), fileparts(which('calc_h')), script);
  [status, out] = system(command);
  delete(script);
  expected = sprintf(['\\[Orvel_mex: Error: The result would span \\S+ s: %d samples x 2 columns ' ...
                      '\\(%.0f bytes\\), more than the (\\d+) bytes left of this process''s ' ...
                      'address-space limit\\]'], rows, 8 * rows * 2);
  left = regexp(out, expected, 'tokens', 'once');
  assert(!isempty(left) && str2double(left{1}) < limit_kb * 1024, 'status %d, output:\n%s', ...
         status, out);
end

% The module goes on as before.
assert(size(calc_h(T, [0 0 0.02]), 2) == 1);
assert(strcmp(bytes_line(), bytes));
orvel_end();
disp('test_resources: passed');
