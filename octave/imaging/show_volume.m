function show_volume(file, volume_db, x, y, z, dynamic_range, title_text)
%SHOW_VOLUME  Write a volume in decibels as a PNG picture: slices through its maximum and
%maximum-intensity projections.
%   show_volume(file, volume_db, x, y, z, dynamic_range, title_text)
%
%   file           name of the PNG file to write
%   volume_db      numel(z) x numel(x) x numel(y) volume [dB], 0 at the brightest
%                  (log_compress of the envelope of das_beamform's image with options.y);
%                  NaN is shown black
%   x, y, z        positions of its columns, of its planes and of its rows [m], shown in mm
%   dynamic_range  range shown [dB]: grey from -dynamic_range (black) to 0 (white)
%   title_text     title over the picture (default none)
%
%   The top row holds the slices through the brightest voxel (the first in the order z, x,
%   y with y running fastest, if several): x-z at its y, y-z at its x and x-y at its depth;
%   the bottom row the largest value along y (x-z), along x (y-z) and along z (x-y). Depth
%   and y run downwards. Each panel is in proportion with axes in mm (an axis of one
%   position drawn 1 mm wide), the slices' positions in the panels' titles, with a colour
%   bar in dB; drawn with the gnuplot toolkit without a display.
%
%   Without gnuplot, or if drawing fails, the panels alone are written (imwrite): grey 8-bit,
%   one grid point as a block of s x s pixels, s = max(1, ceil(200 / the largest of
%   numel(x), numel(y), numel(z))), in two rows of three in the order above on a blue
%   ground, 8 pixels around and between them, each panel at the top left of its cell (the
%   columns numel(x), numel(y) and numel(x) blocks wide, the rows max(numel(z), numel(y))
%   blocks high).
%
%   See also SHOW_IMAGE, LOG_COMPRESS, ENVELOPE, DAS_BEAMFORM.
if nargin < 6
  error('orvel:usage', ['show_volume: needs at least 6 arguments: ' ...
                        'show_volume(file, volume_db, x, y, z, dynamic_range, title_text)']);
end
if nargin < 7
  title_text = '';
end
if ~ischar(file) || isempty(file)
  error('orvel:badArgument', 'show_volume: file must be a file name');
end
if ~isnumeric(volume_db) || ~isreal(volume_db) || ndims(volume_db) > 3 || isempty(volume_db)
  error('orvel:badArgument', 'show_volume: volume_db must be a non-empty real 3-D array [dB]');
end
axes_ok = cellfun(@(v) isnumeric(v) && isreal(v) && (isvector(v) || isempty(v)), {x, y, z});
if ~all(axes_ok)
  error('orvel:badArgument', 'show_volume: x, y and z must be vectors of positions [m]');
end
nx = numel(x);
ny = numel(y);
nz = numel(z);
shape = [size(volume_db), 1];   % a volume of one plane in y has two dimensions
if ~isequal(shape(1:3), [nz nx ny])
  error('orvel:badArgument', ['show_volume: volume_db must be numel(z) x numel(x) x ' ...
        'numel(y) = %d x %d x %d, but is %s'], nz, nx, ny, ...
        regexprep(mat2str(size(volume_db)), {'[\[\]]', ' '}, {'', ' x '}));
end
if ~isnumeric(dynamic_range) || ~isreal(dynamic_range) || ~isscalar(dynamic_range) ...
   || ~(dynamic_range > 0) || ~isfinite(dynamic_range)
  error('orvel:badArgument', 'show_volume: dynamic_range must be a positive number [dB]');
end
if ~ischar(title_text)
  error('orvel:badArgument', 'show_volume: title_text must be text');
end
low = -double(dynamic_range);
v = double(volume_db);
v(isnan(v)) = low;
% The brightest voxel, the first in the order of a z x x x y array laid out with y running
% fastest: the voxel orvel.imaging.show_volume takes.
[~, k] = max(reshape(permute(v, [3 2 1]), [], 1));
[iy, ix, iz] = ind2sub([ny nx nz], k);
v = min(max(v, low), 0);
x_mm = double(x(:)') * 1e3;
y_mm = double(y(:)') * 1e3;
z_mm = double(z(:)') * 1e3;
% Each panel: its values (rows down the picture), the positions across and down, the names
% of those axes and its title.
panels = {v(:, :, iy), x_mm, z_mm, 'x', 'z', sprintf('x-z at y = %.2f mm', y_mm(iy));
          reshape(v(:, ix, :), nz, ny), y_mm, z_mm, 'y', 'z', ...
          sprintf('y-z at x = %.2f mm', x_mm(ix));
          reshape(v(iz, :, :), nx, ny).', x_mm, y_mm, 'x', 'y', ...
          sprintf('x-y at z = %.2f mm', z_mm(iz));
          max(v, [], 3), x_mm, z_mm, 'x', 'z', 'x-z, maximum along y';
          reshape(max(v, [], 2), nz, ny), y_mm, z_mm, 'y', 'z', 'y-z, maximum along x';
          reshape(max(v, [], 1), nx, ny).', x_mm, y_mm, 'x', 'y', 'x-y, maximum along z'};

drawn = false;
if any(strcmp(available_graphics_toolkits(), 'gnuplot')) ...
   && ~isempty(file_in_path(getenv('PATH'), 'gnuplot'))
  old_toolkit = graphics_toolkit();
  old_warnings = warning();
  warning('off', 'Octave:gnuplot-graphics');   % the advice to use another toolkit
  warning('off', 'print:nogs');                % PNG through cairo needs no Ghostscript
  fig = [];
  try
    graphics_toolkit('gnuplot');
    fig = figure('visible', 'off', 'position', [0 0 1300 850]);
    colormap(gray(256));
    for p = 1:6
      subplot(2, 3, p);
      [values, across, down] = panels{p, 1:3};
      % gnuplot draws one row or column as a sliver: two halves of a 1 mm pixel instead.
      if numel(across) == 1
        values = [values, values];
        across = across + [-0.25 0.25];
      end
      if numel(down) == 1
        values = [values; values];
        down = down + [-0.25 0.25];
      end
      imagesc(across, down, values, [low 0]);
      axis image;
      xlabel(sprintf('%s [mm]', panels{p, 4}));
      ylabel(sprintf('%s [mm]', panels{p, 5}));
      title(panels{p, 6});
      if p == 3
        bar = colorbar();
        ylabel(bar, 'dB');
      end
    end
    if ~isempty(title_text)
      axes('position', [0 0 1 1], 'visible', 'off');
      text(0.5, 0.98, title_text, 'horizontalalignment', 'center', 'fontsize', 14);
    end
    print(fig, file, '-dpngcairo', '-r96');
    % gnuplot may give up on a layout (a canvas too small) with a warning and an empty file.
    written = dir(file);
    if isempty(written) || written.bytes == 0
      error('gnuplot wrote no picture');
    end
    drawn = true;
  catch err
    printf('show_volume: drawing failed (%s): panels written without axes\n', err.message);
  end
  if ~isempty(fig) && ishghandle(fig)
    close(fig);
  end
  try
    graphics_toolkit(old_toolkit);
  catch
  end
  warning(old_warnings);
end
if ~drawn
  % The panels as grey blocks on a blue ground, which no grey level is.
  s = max(1, ceil(200 / max([nx ny nz])));
  gap = 8;
  widths = s * [nx ny nx];
  height = s * max(nz, ny);
  left = gap + [0, cumsum(widths(1:2) + gap)];
  top = gap + [0, height + gap];
  picture = zeros(2 * height + 3 * gap, sum(widths) + 4 * gap, 3, 'uint8');
  picture(:, :, 3) = 160;
  for p = 1:6
    level = uint8(round((panels{p, 1} - low) / -low * 255));
    block = repelem(level, s, s);
    r = top(ceil(p / 3)) + (1:rows(block));
    c = left(mod(p - 1, 3) + 1) + (1:columns(block));
    picture(r, c, :) = repmat(block, 1, 1, 3);
  end
  imwrite(picture, file);
end
end
