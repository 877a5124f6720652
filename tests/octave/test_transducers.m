% Transducer commands through the script layer and the real module: the first handle, the
% report's head, the information matrices, time lines and settings, element settings, and every
% constructor.
orvel_init(-1);

Th = xdc_linear_array(2, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 30e-3]);
assert(Th == 0);

% The report's first lines, with the real clock's creation time (the rest of the report's text
% is checked in tests/unit, test_report).
lines = strsplit(evalc('xdc_show(Th, ''focus'')'), "\n");
assert(strcmp(lines{1}, 'Aperture name: Linear array transducer '));
assert(~isempty(regexp(lines{2}, '^Created: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}$', 'once')), lines{2});

% The information matrices by name and by number (their rows are checked in tests/unit).
assert(isequal(size(xdc_get(Th, 'rect')), [26 2]) && isequal(size(xdc_get(Th, 'focus')), [3 1]));
assert(isequal(xdc_get(Th, 5), [0; 1; 1]) && isequal(size(xdc_get(Th, 'tri')), [15 0]));

% Time lines and settings from the script layer.
xdc_focus(Th, [0 10e-6], [0 0 20e-3; 0 0 50e-3]);  % times as a row are taken as n values
focus = xdc_get(Th, 'focus');
assert(isequal(size(focus), [3 2]) && focus(1, 2) == 10e-6);
xdc_focus_delays(Th, 0, [1e-9 2e-9]);
assert(isequal(xdc_get(Th, 'focus'), [0; 1e-9; 2e-9]));
xdc_dynamic_focusing(Th, 0, 0.1, 0);
assert(isequal(xdc_get(Th, 'focus'), [0; 0; 0]));
xdc_apodization(Th, [0; 5e-6], [1 0.5; 0.25 0]);
assert(isequal(xdc_get(Th, 'apod'), [0 5e-6; 1 0.25; 0.5 0]));
xdc_center_focus(Th, [1e-3 0 0]);
xdc_impulse(Th, [0.5; 1; 0.5]);  % a column is passed on as a row
xdc_excitation(Th, sin(2 * pi * (0:9) / 10));
xdc_baffle(Th, 1);
evalc('xdc_quantization(Th, 5e-9)');  % its warning's text is checked in tests/unit
out = evalc('xdc_show(Th, 4)');
assert(~isempty(strfind(out, ['Impulse response consists of 3 samples' "\n" ...
                              'Excitation response consists of 10 samples' "\n"])));
assert(~isempty(strfind(out, 'Quantized phase delay is used. Quantization =     5.0000 ns')));
assert(~isempty(strfind(out, 'Aperture uses the soft-baffle boundary condition')));
assert(~isempty(strfind(out, '(x,y,z) = (    1.0000,     0.0000,     0.0000) mm')));
assert(isempty(strfind(out, 'Time line')));

% Element settings: bad numbers are reported and the others still set.
evalc('ele_apodization(Th, [3; 2], [0.5; 0.25])');  % element 3 is reported (tests/unit)
ele_delay(Th, 1, 7e-9);
info = xdc_get(Th, 'rect');
assert(isequal(info(5, :), [1 0.25]) && info(23, 1) == 7e-9);
ele_waveform(Th, 2, [1 -1 1 -1]);
out = evalc('xdc_show(Th, 1)');
assert(~isempty(strfind(out, 'Physical elements uses individual excitation')));
assert(~isempty(strfind(out, '    This physical element uses an individual excitation with 4 samples')));

% Every other constructor: a handle each, and element lists of the right shape (their elements,
% and the handle slots that xdc_free leaves for reuse, are checked in tests/unit).
xdc_free(Th);
mm = 1e-3;
square = @(e, x) [e, x, 0, 0, x, mm, 0, x + mm, mm, 0, x + mm, 0, 0, 1, mm, mm, ...
                  x + mm / 2, mm / 2, 0];
% A 1 mm square as four lines: y >= 0, x <= 1 mm, y <= 1 mm, x >= 0.
lines = [1 1 0 0 0 1; 1 1 0 1 mm 1; 1 1 0 0 mm 0; 1 1 0 1 0 0];
enabled = zeros(4, 3);
enabled(4, 2) = 0.51;  % one enabled element
made = {
  @() xdc_focused_array(4, 0.3e-3, 4e-3, 0.05e-3, 20e-3, 1, 4, [0 0 30e-3]), 'rect', [26 16]
  @() xdc_linear_multirow(2, 0.3e-3, 3, [1 2 1] * 1e-3, 0.05e-3, 0.1e-3, 1, 1, [0 0 30e-3]), 'rect', [26 6]
  @() xdc_2d_array(4, 3, 1e-3, 1e-3, 0.1e-3, 0.1e-3, enabled, 1, 1, [0 0 30e-3]), 'focus', [2 1]
  @() xdc_focused_multirow(3, 0.3e-3, 2, [2 2] * 1e-3, 0.05e-3, 0.1e-3, 30e-3, 1, 2, [0 0 30e-3]), 'rect', [26 12]
  @() xdc_convex_array(5, 0.4e-3, 5e-3, 0.05e-3, 40e-3, 2, 3, [0 0 50e-3]), 'rect', [26 30]
  @() xdc_convex_focused_array(4, 0.4e-3, 4e-3, 0.05e-3, 40e-3, 30e-3, 1, 5, [0 0 50e-3]), 'rect', [26 20]
  @() xdc_convex_focused_multirow(3, 0.4e-3, 2, [1 3] * mm, 0.05e-3, 0.1e-3, 40e-3, 30e-3, 1, 2, [0 0 50e-3]), 'focus', [7 1]
  @() xdc_piston(5 * mm, 1 * mm), 'rect', [26 80]  % 80 squares whose centres lie inside the circle
  @() xdc_concave(5 * mm, 20 * mm, 1 * mm), 'rect', [26 80]
  @() xdc_rectangles([square(1, 0); square(1, mm); square(2, 3 * mm)], [mm 0 0; 3.5 * mm 0 0], [0 0 30e-3]), 'rect', [26 3]
  @() xdc_triangles([1 0 0 0 mm 0 0 0 mm 0 1; 2 0 0 0 -mm 0 0 0 -mm 0 0.5], zeros(2, 3), [0 0 30e-3]), 'tri', [15 2]
  @() xdc_line_elements(lines, [mm mm 0] / 2, [0 0 30e-3]), 'lin', [46 1]};
for k = 1:rows(made)
  T = made{k, 1}();
  assert(isequal(size(xdc_get(T, made{k, 2})), made{k, 3}), '%s', func2str(made{k, 1}));
end
Tt = xdc_triangles_old([0 0 0 mm 0 0 0 mm 0], 0.5, [0 0 0], 0.25);
assert(isequal(size(xdc_get(Tt, 'tri')), [15 1]) && isequal(xdc_get(Tt, 'apod'), [0; 0.25]));

% Help texts explain arguments and units.
assert(~isempty(strfind(help('xdc_focus'), 'times')));
assert(~isempty(strfind(help('xdc_linear_array'), '[m]')));
assert(~isempty(strfind(help('xdc_get'), '26 rows')));
assert(~isempty(strfind(help('xdc_rectangles'), 'physical element number')));
assert(~isempty(strfind(help('xdc_piston'), '[m]')));
orvel_end();
disp('test_transducers: passed');
