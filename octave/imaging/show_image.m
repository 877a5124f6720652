function show_image(file, image_db, x, z, dynamic_range, title_text)
%SHOW_IMAGE  Write an image in decibels as a grey-scale PNG picture.
%   show_image(file, image_db, x, z, dynamic_range, title_text)
%
%   file           name of the PNG file to write
%   image_db       numel(z) x numel(x) image [dB], 0 at the brightest (log_compress); NaN
%                  (outside a sector, scan_convert) is shown black
%   x              lateral positions of the columns [m], shown across in mm
%   z              depths of the rows [m], shown downwards in mm
%   dynamic_range  range shown [dB]: grey from -dynamic_range (black) to 0 (white)
%   title_text     title over the picture (default none)
%
%   The picture has axes in mm and a colour bar in dB, drawn with the gnuplot toolkit without
%   a display. Without gnuplot, or if drawing fails, the image alone is written (imwrite), one
%   grid point as a block of grey 8-bit pixels, first
%   row at the top.
%
%   See also LOG_COMPRESS, SCAN_CONVERT, IMWRITE.
if nargin < 5
  error('orvel:usage', ['show_image: needs at least 5 arguments: ' ...
                        'show_image(file, image_db, x, z, dynamic_range, title_text)']);
end
if nargin < 6
  title_text = '';
end
if ~ischar(file) || isempty(file)
  error('orvel:badArgument', 'show_image: file must be a file name');
end
if ~isnumeric(image_db) || ~isreal(image_db) || ndims(image_db) ~= 2 || isempty(image_db)
  error('orvel:badArgument', 'show_image: image_db must be a non-empty real matrix [dB]');
end
if ~isnumeric(x) || ~isnumeric(z) || numel(x) ~= columns(image_db) || numel(z) ~= rows(image_db)
  error('orvel:badArgument', 'show_image: image_db must be numel(z) x numel(x) = %d x %d, but is %d x %d', ...
        numel(z), numel(x), rows(image_db), columns(image_db));
end
if ~isnumeric(dynamic_range) || ~isscalar(dynamic_range) || ~(dynamic_range > 0)
  error('orvel:badArgument', 'show_image: dynamic_range must be a positive number [dB]');
end
if ~ischar(title_text)
  error('orvel:badArgument', 'show_image: title_text must be text');
end
low = -double(dynamic_range);
shown = double(image_db);
shown(isnan(shown)) = low;
shown = min(max(shown, low), 0);
x_mm = double(x(:)') * 1e3;
z_mm = double(z(:)) * 1e3;

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
    % Size the picture to the image's aspect, axes and colour bar around it.
    width_mm = max(abs(x_mm(end) - x_mm(1)), eps);
    height_mm = max(abs(z_mm(end) - z_mm(1)), eps);
    height = min(max(round(430 * height_mm / width_mm) + 180, 320), 1100);
    fig = figure('visible', 'off', 'position', [0 0 680 height]);
    imagesc(x_mm, z_mm, shown, [low 0]);
    axis image;
    colormap(gray(256));
    bar = colorbar();
    ylabel(bar, 'dB');
    xlabel('x [mm]');
    ylabel('z [mm]');
    if ~isempty(title_text)
      title(title_text);
    end
    set(findall(fig, '-property', 'fontsize'), 'fontsize', 12);
    print(fig, file, '-dpngcairo', '-r96');
    drawn = true;
  catch err
    printf('show_image: drawing failed (%s): picture written without axes\n', err.message);
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
  % One grid point as a block of pixels, at least about 400 pixels along the longer side.
  scale = max(1, ceil(400 / max(size(shown))));
  level = uint8(round((shown - low) / -low * 255));
  imwrite(repelem(level, scale, scale), file);
end
end
