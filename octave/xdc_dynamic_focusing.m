function xdc_dynamic_focusing(Th, time, dir_xz, dir_yz)
%XDC_DYNAMIC_FOCUSING  Use dynamic focusing along a direction.
%   xdc_dynamic_focusing(Th, time, dir_xz, dir_yz)
%
%   time    switch time of the new entry [s]; as the only entry of the focus time line it
%           holds at every time
%   dir_xz  angle of the focus line in the x-z plane [rad], from the z axis towards +x
%   dir_yz  angle of the focus line in the y-z plane [rad], from the z axis towards +y
%
%   The focus time line is replaced by one dynamic entry. The focus line starts at the
%   reference point ref (xdc_center_focus) in the direction
%   d = [sin(dir_xz)*cos(dir_yz), sin(dir_yz), cos(dir_xz)*cos(dir_yz)]; (0, 0) is along +z.
%   For a field point or scatterer P, element i focuses at F = ref + R*d with R = |P - centre_i|
%   (its own distance to P), with the delay |F - ref|/c - |F - centre_i|/c [s] (positive:
%   emits later, on receive: received later), quantized as xdc_quantization says. Delays are
%   computed during each calculation, with the reference point and quantization in force.
%
%   See also XDC_FOCUS, XDC_CENTER_FOCUS, ORVEL.
orvel_usage(nargin, 4, 'xdc_dynamic_focusing(Th, time, dir_xz, dir_yz)');
Orvel_mex(1062, orvel_num(Th), orvel_num(time), orvel_num(dir_xz), orvel_num(dir_yz));
end
