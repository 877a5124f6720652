function d = uff_read_image(file)
%UFF_READ_IMAGE  Read a beamformed image from a .uff (HDF5) or .mat file.
%   d = uff_read_image(file)
%
%   file  .uff, .h5 or .hdf5: HDF5 in the layout of the ultrasound file format, as
%         uff_write_image of orvel.imaging writes it or as another tool does (the group
%         beamformed_data, or else the first group at the root with scan and data; read with
%         load, help uff_read_channel), with a linear scan (x_axis, z_axis) or a list of
%         pixels (x, y, z); or .mat, as uff_write_image writes it
%
%   d     struct: image (numel(z) x numel(x) (x T) on a linear scan; P x 1 (x T) for a list
%         of points), x and z [m] (column vectors) or points (P x 3) [m], and
%         modulation_frequency [Hz]. Of the format's channel and frame dimensions only single
%         ones are taken.
%
%   See also UFF_WRITE_IMAGE, UFF_READ_CHANNEL.
if nargin < 1
  error('orvel:usage', 'uff_read_image: needs 1 argument: uff_read_image(file)');
end
fn = 'uff_read_image';
hdf5 = uff_file_kind(fn, file);
s = load(file);
if ~hdf5
  d = struct('image', s.image);
  for name = {'x', 'z', 'points', 'modulation_frequency'}
    if isfield(s, name{1})
      d.(name{1}) = s.(name{1});
    end
  end
  return;
end
g = [];
if isfield(s, 'beamformed_data')
  g = s.beamformed_data;
else
  for name = fieldnames(s)'
    v = s.(name{1});
    if isstruct(v) && all(isfield(v, {'scan', 'data'}))
      g = v;
      break;
    end
  end
end
if isempty(g)
  error('orvel:badArgument', '%s: %s holds no beamformed data', fn, file);
end
data = g.data;
if isstruct(data)
  data = complex(double(data.real), double(data.imag));
end
data = double(data);
if size(data, 2) ~= 1 || size(data, 4) ~= 1
  error('orvel:badArgument', ['%s: %s holds %s pixels x channels x waves x frames; only one ' ...
        'channel and one frame are read'], fn, file, mat2str(size(data)));
end
transmits = size(data, 3);
d = struct('image', []);
if isfield(g.scan, 'x_axis') && isfield(g.scan, 'z_axis')
  d.x = double(g.scan.x_axis(:));
  d.z = double(g.scan.z_axis(:));
  d.image = reshape(data, numel(d.z), numel(d.x), transmits);
else
  d.points = double([g.scan.x(:) g.scan.y(:) g.scan.z(:)]);
  d.image = reshape(data, rows(d.points), transmits);
end
d.modulation_frequency = 0;
if isfield(g, 'modulation_frequency')
  d.modulation_frequency = double(g.modulation_frequency(1));
end
end
