% Conversion to triangles and to bounding-line elements through the script layer and the real
% module: the 1 mm x 2 mm rectangle given as a user table, converted both ways, keeps answering.
% The corners, lines and crossings are checked in tests/unit (test_convert, test_report) and the
% converted responses against the exact one in tests/unit (test_element_kinds).
orvel_init(-1);
mm = 1e-3;
% Element number, corners 1 to 4, apodization, width, height, centre.
rect = [1, [0 0 0, 1 0 0, 1 2 0, 0 2 0] * mm, 1, 1 * mm, 2 * mm, [0.5 1 0] * mm];

for way = {@xdc_convert, 'tri', [15 2]; @xdc_line_convert, 'lin', [46 1]}'
  Th = xdc_rectangles(rect, [0 0 0], [0 0 30e-3]);
  way{1}(Th);
  assert(isempty(xdc_get(Th, 'rect')) && isequal(size(xdc_get(Th, way{2})), way{3}), ...
         '%s: element tables', func2str(way{1}));
  assert(any(calc_h(Th, [0.5 1 1] * mm) ~= 0), '%s: no response', func2str(way{1}));
end
lin = xdc_get(Th, 'lin');
assert(lin(13) == 4 && lin(34) == 4);  % four lines, four crossings
orvel_end();
