function volume = resolution_cell(wavelength, f_number, axial, elevation)
%RESOLUTION_CELL  Volume of a resolution cell, to count speckle scatterers by.
%   volume = resolution_cell(wavelength, f_number, axial, elevation)
%
%   wavelength  wavelength at the centre frequency [m]
%   f_number    F-number of the imaging aperture (focal depth over width) [no unit]
%   axial       axial length of the cell, e.g. the length of the pulse-echo pulse [m]
%   elevation   elevation thickness of the slice [m]
%
%   volume      (wavelength*f_number) * axial * elevation [m^3]: the lateral width
%               wavelength*f_number times the axial length times the slice thickness
%
%   About ten scatterers per cell give fully developed speckle.
%
%   See also PHANTOM_TISSUE.
if nargin < 4
  error('orvel:usage', 'resolution_cell: needs 4 arguments: resolution_cell(wavelength, f_number, axial, elevation)');
end
names = {'wavelength', 'f_number', 'axial', 'elevation'};
values = {wavelength, f_number, axial, elevation};
for k = 1:4
  v = values{k};
  if ~isnumeric(v) || ~isreal(v) || ~isscalar(v) || ~(v > 0) || ~isfinite(v)
    error('orvel:badArgument', 'resolution_cell: %s must be a positive finite number', names{k});
  end
end
volume = (double(wavelength) * double(f_number)) * double(axial) * double(elevation);
end
