% Transducer commands through the script layer and the real module: handles, the report and
% the information matrix, element settings and errors.
orvel_init(-1);
c = 1540;
p = 0.35e-3;  % pitch of the arrays below: width 0.3 mm + kerf 0.05 mm

Th = xdc_linear_array(2, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0 0 30e-3]);
assert(Th == 0);

% The report at the focus level: header and one focus entry with two delays on one line.
out = evalc('xdc_show(Th, ''focus'')');
lines = strsplit(out, "\n", "CollapseDelimiters", false);
delay = (30e-3 - hypot(p / 2, 30e-3)) / c;  % both elements are p/2 off the axis
assert(strcmp(lines{1}, 'Aperture name: Linear array transducer '));
assert(~isempty(regexp(lines{2}, '^Created: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}$', 'once')), lines{2});
expected = { ' ', ...
  'Impulse response consists of 1 samples', ...
  'Excitation response consists of 1 samples', ...
  'All elements uses same excitation', ...
  'No quantization of phase delays are used.', ...
  'Aperture uses the rigid baffle boundary condition', ...
  'The reference point for focusing is at  (x,y,z) = (    0.0000,     0.0000,     0.0000) mm', ...
  'The aperture consists of 2 physical elements. ', ...
  '', ...
  'Time line for focusing:', ...
  'Time [us]  Focal point [mm] or focal direction ', ...
  '  0.0000   (  0.0000,   0.0000,  30.0000) ', ...
  'Delay times [s] (Element: Value) ', ...
  ['            ' sprintf('(%3d, %10.3e)  ', 1, delay) sprintf('(%3d, %10.3e)  ', 2, delay)], ...
  ''};
assert(numel(lines) == 2 + numel(expected));
for k = 1:numel(expected)
  assert(strcmp(lines{k + 2}, expected{k}), sprintf('line %d: [%s]', k + 2, lines{k + 2}));
end

% Rectangles: 26 rows, one column per rectangle, values as stored in m.
info = xdc_get(Th, 'rect');
assert(isequal(size(info), [26 2]));
assert(isequal(info(1, :), [0 1]) && isequal(info(2, :), [0 0]));
assert(all(abs(info(3, :) - 0.3e-3) < 1e-18) && all(abs(info(4, :) - 5e-3) < 1e-18));
assert(abs(info(8, 1) + p / 2) < 1e-18 && abs(info(24, 2) - p / 2) < 1e-18);
assert(abs(info(11, 1) - (-p / 2 - 0.15e-3)) < 1e-18 && abs(info(12, 1) + 2.5e-3) < 1e-18);
focus = xdc_get(Th, 'focus');
assert(isequal(size(focus), [3 1]) && focus(1) == 0);
assert(all(abs(focus(2:3) - delay) < 1e-20));
apod = xdc_get(Th, 5);
assert(isequal(apod, [0; 1; 1]));
assert(isempty(xdc_get(Th, 'tri')) && isequal(size(xdc_get(Th, 'tri')), [15 0]));
expect_text(evalc('x = xdc_get(Th, 6);'), '');
assert(isempty(x));

% Time lines and settings from the script layer.
xdc_focus(Th, [0 10e-6], [0 0 20e-3; 0 0 50e-3]);  % times as a row are taken as n values
focus = xdc_get(Th, 'focus');
assert(isequal(size(focus), [3 2]) && focus(1, 2) == 10e-6);
assert(abs(focus(2, 2) - (50e-3 - hypot(p / 2, 50e-3)) / c) < 1e-20);
xdc_focus_delays(Th, 0, [1e-9 2e-9]);
assert(isequal(xdc_get(Th, 'focus'), [0; 1e-9; 2e-9]));
xdc_dynamic_focusing(Th, 0, 0.1, 0);
assert(isequal(xdc_get(Th, 'focus'), [0; 0; 0]));
out = evalc('xdc_show(Th, 2)');
assert(~isempty(strfind(out, '  0.0000  Dynamic along:    5.7296 deg. (z-x),    0.0000 deg. (z-y)) ')));
xdc_apodization(Th, [0; 5e-6], [1 0.5; 0.25 0]);
assert(isequal(xdc_get(Th, 'apod'), [0 5e-6; 1 0.25; 0.5 0]));
xdc_center_focus(Th, [1e-3 0 0]);
xdc_impulse(Th, [0.5; 1; 0.5]);  % a column is passed on as a row
xdc_excitation(Th, sin(2 * pi * (0:9) / 10));
xdc_baffle(Th, 1);
expect_text(evalc('xdc_quantization(Th, 5e-9)'), ...
            ['Warning: Remember to set the focus time line for this aperture' "\n"]);
out = evalc('xdc_show(Th, 4)');
assert(~isempty(strfind(out, ['Impulse response consists of 3 samples' "\n" ...
                              'Excitation response consists of 10 samples' "\n"])));
assert(~isempty(strfind(out, 'Quantized phase delay is used. Quantization =     5.0000 ns')));
assert(~isempty(strfind(out, 'Aperture uses the soft-baffle boundary condition')));
assert(~isempty(strfind(out, '(x,y,z) = (    1.0000,     0.0000,     0.0000) mm')));
assert(isempty(strfind(out, 'Time line')));

% Element settings: bad numbers are reported and the others still set.
out = evalc('ele_apodization(Th, [3; 2], [0.5; 0.25])');
expect_text(out, ['Orvel error: Illegal element number when setting mathematical element apodization' "\n"]);
info = xdc_get(Th, 'rect');
assert(isequal(info(5, :), [1 0.25]));
ele_delay(Th, 1, 7e-9);
info = xdc_get(Th, 'rect');
assert(info(23, 1) == 7e-9);
ele_waveform(Th, 2, [1 -1 1 -1]);
out = evalc('xdc_show(Th, 1)');
assert(~isempty(strfind(out, 'Physical elements uses individual excitation')));
assert(~isempty(strfind(out, '    This physical element uses an individual excitation with 4 samples')));

% Handles: slots are reused after xdc_free.
T1 = xdc_focused_array(4, 0.3e-3, 4e-3, 0.05e-3, 20e-3, 1, 4, [0 0 30e-3]);
T2 = xdc_linear_multirow(2, 0.3e-3, 3, [1 2 1] * 1e-3, 0.05e-3, 0.1e-3, 1, 1, [0 0 30e-3]);
assert(T1 == 1 && T2 == 2);
info = xdc_get(T2, 'rect');
assert(all(abs(info(25, :) - kron([-1.6 0 1.6] * 1e-3, [1 1])) < 1e-18));
xdc_free(T1);
enabled = zeros(4, 3);
enabled(4, 2) = 0.51;
T3 = xdc_2d_array(4, 3, 1e-3, 1e-3, 0.1e-3, 0.1e-3, enabled, 1, 1, [0 0 30e-3]);
assert(T3 == 1);
assert(isequal(size(xdc_get(T3, 'focus')), [2 1]));
T4 = xdc_focused_multirow(3, 0.3e-3, 2, [2 2] * 1e-3, 0.05e-3, 0.1e-3, 30e-3, 1, 2, [0 0 30e-3]);
assert(T4 == 3);

% The convex arrays, the single-element transducers and the user tables: a handle each, and
% element lists of the right shape.
mm = 1e-3;
Tc = xdc_convex_array(5, 0.4e-3, 5e-3, 0.05e-3, 40e-3, 2, 3, [0 0 50e-3]);
assert(isequal(size(xdc_get(Tc, 'rect')), [26 30]));
Tc = xdc_convex_focused_array(4, 0.4e-3, 4e-3, 0.05e-3, 40e-3, 30e-3, 1, 5, [0 0 50e-3]);
assert(isequal(size(xdc_get(Tc, 'rect')), [26 20]));
Tc = xdc_convex_focused_multirow(3, 0.4e-3, 2, [1 3] * mm, 0.05e-3, 0.1e-3, 40e-3, 30e-3, ...
                                 1, 2, [0 0 50e-3]);
assert(isequal(size(xdc_get(Tc, 'focus')), [7 1]));
Tp = xdc_piston(5 * mm, 1 * mm);  % 80 squares whose centres lie inside the circle
info = xdc_get(Tp, 'rect');
assert(isequal(size(info), [26 80]) && all(info(1, :) == 0));
Tp = xdc_concave(5 * mm, 20 * mm, 1 * mm);
assert(isequal(size(xdc_get(Tp, 'rect')), [26 80]));
square = @(e, x) [e, x, 0, 0, x, mm, 0, x + mm, mm, 0, x + mm, 0, 0, 1, mm, mm, ...
                  x + mm / 2, mm / 2, 0];
Tr = xdc_rectangles([square(1, 0); square(1, mm); square(2, 3 * mm)], [mm 0 0; 3.5 * mm 0 0], ...
                    [0 0 30e-3]);
info = xdc_get(Tr, 'rect');
assert(isequal(size(info), [26 3]) && isequal(info(1:2, :), [0 0 1; 0 1 0]));
assert(isequal(info(24, :), [mm mm 3.5 * mm]));
Tt = xdc_triangles([1 0 0 0 mm 0 0 0 mm 0 1; 2 0 0 0 -mm 0 0 0 -mm 0 0.5], zeros(2, 3), ...
                   [0 0 30e-3]);
info = xdc_get(Tt, 'tri');
assert(isequal(size(info), [15 2]) && isequal(info(1, :), [0 1]) && info(3, 2) == 0.5);
assert(isequal(size(xdc_get(Tt, 'rect')), [26 0]));
Tt = xdc_triangles_old([0 0 0 mm 0 0 0 mm 0], 0.5, [0 0 0], 0.25);
assert(isequal(size(xdc_get(Tt, 'tri')), [15 1]) && isequal(xdc_get(Tt, 'apod'), [0; 0.25]));
% A 1 mm square as four lines: y >= 0, x <= 1 mm, y <= 1 mm, x >= 0.
Tl = xdc_line_elements([1 1 0 0 0 1; 1 1 0 1 mm 1; 1 1 0 0 mm 0; 1 1 0 1 0 0], [mm mm 0] / 2, ...
                       [0 0 30e-3]);
info = xdc_get(Tl, 'lin');
assert(isequal(size(info), [46 1]) && info(13) == 4 && info(34) == 4);
assert(isequal(info(35:37)', [mm 0 0]));

% Help texts explain arguments and units.
assert(~isempty(strfind(help('xdc_focus'), 'times')));
assert(~isempty(strfind(help('xdc_linear_array'), '[m]')));
assert(~isempty(strfind(help('xdc_get'), '26 rows')));
assert(~isempty(strfind(help('xdc_rectangles'), 'physical element number')));
assert(~isempty(strfind(help('xdc_piston'), '[m]')));
orvel_end();
disp('test_transducers: passed');
