function uff_write_image(file, image, x, z, options)
%UFF_WRITE_IMAGE  Write a beamformed image with its grid to a .mat file.
%   uff_write_image(file, image, x, z, options)
%
%   file     a .mat file (MAT v7) with the content that uff_write_image of orvel.imaging
%            writes as HDF5 in the layout of the ultrasound file format: image, x and z (or
%            points), modulation_frequency. Octave 7 cannot write that layout itself (help
%            uff_write_channel); a .uff, .h5 or .hdf5 name is refused. Replaced whole, or left
%            as it was when the call fails.
%   image    numel(z) x numel(x), or numel(z) x numel(x) x T (one image per transmit), as
%            das_beamform returns it; complex for IQ images
%   x, z     the grid [m] (vectors); or x the image's points, P x 3 [m], with z [] (image
%            P x 1 or P x T)
%   options  struct (optional): modulation_frequency [Hz] (0)
%
%   See also UFF_READ_IMAGE, UFF_WRITE_CHANNEL, DAS_BEAMFORM.
if nargin < 4
  error('orvel:usage', ['uff_write_image: needs at least 4 arguments: ' ...
                        'uff_write_image(file, image, x, z, options)']);
end
fn = 'uff_write_image';
uff_mat_name(fn, file);
f_mod = 0;
if nargin >= 5 && ~isempty(options)
  if ~isstruct(options) || ~isscalar(options) ...
     || ~all(strcmp(fieldnames(options), 'modulation_frequency'))
    error('orvel:badArgument', ['%s: options must be a struct with the field ' ...
          'modulation_frequency'], fn);
  end
  f_mod = options.modulation_frequency;
end
if ~isnumeric(f_mod) || ~isreal(f_mod) || ~isscalar(f_mod) || ~isfinite(f_mod)
  error('orvel:badArgument', '%s: options.modulation_frequency must be a finite number [Hz]', fn);
end
if ~isnumeric(image) || ~all(isfinite(image(:)))
  error('orvel:badArgument', '%s: image must be finite numbers', fn);
end
d = struct('image', double(image));
if isempty(z)
  if ~isnumeric(x) || ~isreal(x) || ndims(x) ~= 2 || columns(x) ~= 3 || ~all(isfinite(x(:)))
    error('orvel:badArgument', '%s: with z [], x must be P x 3 finite points [m]', fn);
  end
  if rows(image) ~= rows(x) || ndims(image) > 2
    error('orvel:badArgument', '%s: image must be P (x T) values, P = %d, but is %s', fn, ...
          rows(x), mat2str(size(image)));
  end
  d.points = double(x);
else
  if ~isnumeric(x) || ~isnumeric(z) || ~isvector(x) || ~isvector(z) || ~isreal(x) || ~isreal(z) ...
     || ~all(isfinite([x(:); z(:)]))
    error('orvel:badArgument', '%s: x and z must be vectors of finite positions [m]', fn);
  end
  if size(image, 1) ~= numel(z) || size(image, 2) ~= numel(x) || ndims(image) > 3
    error('orvel:badArgument', ['%s: image must be numel(z) x numel(x) (x T) = %d x %d, ' ...
          'but is %s'], ...
          fn, numel(z), numel(x), mat2str(size(image)));
  end
  d.x = double(x(:));
  d.z = double(z(:));
end
d.modulation_frequency = double(f_mod);
uff_save_mat(fn, file, d);
end
