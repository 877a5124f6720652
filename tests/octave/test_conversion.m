% Conversion to triangles and to bounding-line elements through the script layer and the real
% module: the 1 mm x 2 mm rectangle given as a user table, converted both ways.
orvel_init(-1);
mm = 1e-3;
% Element number, corners 1 to 4, apodization, width, height, centre.
rect = [1, [0 0 0, 1 0 0, 1 2 0, 0 2 0] * mm, 1, 1 * mm, 2 * mm, [0.5 1 0] * mm];

Th = xdc_rectangles(rect, [0 0 0], [0 0 30e-3]);
xdc_convert(Th);
assert(isempty(xdc_get(Th, 'rect')));
tri = xdc_get(Th, 'tri');
assert(isequal(size(tri), [15 2]));
assert(max(abs(tri(7:15, 1)' - [0 0 0, 1 0 0, 1 2 0] * mm)) < 1e-18);
assert(max(abs(tri(7:15, 2)' - [0 0 0, 0 2 0, 1 2 0] * mm)) < 1e-18);

Th = xdc_rectangles(rect, [0 0 0], [0 0 30e-3]);
xdc_line_convert(Th);
lin = xdc_get(Th, 'lin');
assert(isequal(size(lin), [46 1]));
assert(isequal(lin(8:13)', [1 0 1 0 0 4]));  % rotations, plane height, four lines
% Each line: slope, vertical, y1, x1, side.
lines = reshape(lin(14:33), 5, 4)';
expected = [0 0 0 0 1; 1e60 1 0 1 * mm 1; 0 0 2 * mm 0 0; 1e60 1 0 0 0];
assert(max(abs(lines(:) - expected(:))) < 1e-18);
% Crossings of the pairs (0,1), (0,3), (1,2), (2,3).
assert(lin(34) == 4);
assert(max(abs(lin(35:46)' - [1 0 0, 0 0 0, 1 2 0, 0 2 0] * mm)) < 1e-18);

% The converted aperture answers in calculations: 1 mm above the rectangle's centre the response
% starts with the plateau c, while the equal-arrival circle lies inside the rectangle (7 samples).
[h, t0] = calc_h(Th, [0.5 1 1] * mm);
assert(abs(max(h) - 1540) < 1540 * 1e-3);
assert(abs(t0 - 1 * mm / 1540) < 3 / 100e6);
orvel_end();
