% The Octave package as a user gets it: pkg install of the tarball named by ORVEL_OCTAVE_PACKAGE
% into a package prefix and package lists of this run's own (the user's lists are never read
% or written), pkg load orvel, a calculation, help orvel, the INDEX, and pkg uninstall. Then
% the same package as another Octave sees it (its module folder named for another
% architecture): it installs and loads, and warns that the module is not for it.
% Started from outside the source tree with nothing on the path (ctest octave_package_install).
1;

function assert_inside(file, folder, what)
  if ~strncmp(file, [folder filesep], numel(folder) + 1)
    error('%s is %s, not inside %s', what, file, folder);
  end
end

tarball = getenv('ORVEL_OCTAVE_PACKAGE');
assert(exist(tarball, 'file') == 2, 'no package at ORVEL_OCTAVE_PACKAGE (%s)', tarball);
root = tempname();
mkdir(root);
start = pwd();
cd(root);
prefix = fullfile(root, 'packages');
pkg('prefix', prefix, prefix);
pkg('local_list', fullfile(root, 'local_packages'));
pkg('global_list', fullfile(root, 'global_packages'));
clock = tic();
unwind_protect
  assert(exist('calc_hp') == 0 && exist('Orvel_mex') == 0 && exist('phantom_tissue') == 0, ...
         'Orvel is on the path before its package is loaded');
  pkg('install', '-local', tarball);
  lastwarn('');
  pkg('load', 'orvel');
  assert(isempty(lastwarn()), 'pkg load warned: %s', lastwarn());
  for name = {'Orvel_mex', 'calc_hp', 'phantom_tissue'}
    assert_inside(which(name{1}), prefix, ['which ' name{1}]);
  end

  % The module of this version with the script layer and its private helpers ...
  installed = pkg('list', 'orvel');
  banner = evalc('orvel_init(0)');
  assert(~isempty(strfind(banner, ['Orvel version ' installed{1}.version ' '])), ...
         'orvel_init of package %s:\n%s', installed{1}.version, banner);
  Th = xdc_linear_array(8, 0.3e-3, 4e-3, 0.05e-3, 1, 2, [0 0 20e-3]);
  [hp, start_time] = calc_hp(Th, [0 0 20e-3]);
  assert(columns(hp) == 1 && all(isfinite(hp)) && any(hp ~= 0) && isfinite(start_time), ...
         'calc_hp at the focus: not a finite, nonzero column');
  orvel_end();
  % ... and the imaging toolkit with its own private helper, merged into the same folder:
  % 5 scatterers per cell of 1 mm^3 in a 2 x 2 x 1 mm box.
  region = [-1 1 -1 1 10 11] * 1e-3;
  points = phantom_tissue(region, 5, 1e-9, [], 3);
  assert(rows(points) == 20 && all(all(points >= region([1 3 5]) & points <= region([2 4 6]))), ...
         'phantom_tissue from the package');

  % help orvel is the overview, read from the installed file.
  text = evalc('help orvel');
  assert(~isempty(strfind(text, ['Orvel: ultrasound fields and echoes by the spatial ' ...
                                 'impulse response method.'])), 'help orvel:\n%s', text);
  assert_inside(regexp(text, 'from the file (\S+)', 'tokens', 'once'){1}, prefix, 'help orvel');

  % The INDEX names each function of the package once, and nothing else.
  desc = pkg('describe', '-verbose', 'orvel');
  indexed = cellfun(@(c) c.functions, desc{1}.provides, 'UniformOutput', false);
  indexed = [indexed{:}];
  files = dir(fullfile(fileparts(which('calc_hp')), '*.m'));
  shipped = setdiff(regexprep({files.name}, '\.m$', ''), {'Contents'});
  assert(numel(unique(indexed)) == numel(indexed) && isequal(sort(indexed), sort(shipped)), ...
         'INDEX against the files: only in INDEX: %s; not in INDEX: %s', ...
         strjoin(setdiff(indexed, shipped), ' '), strjoin(setdiff(shipped, indexed), ' '));

  installed = fileparts(which('calc_hp'));
  pkg('unload', 'orvel');
  pkg('uninstall', '-local', 'orvel');
  assert(~exist(installed, 'dir') && exist('calc_hp') == 0 && isempty(pkg('list')), ...
         'pkg uninstall left the package behind');

  % Another Octave: the module's folder does not carry its architecture, so pkg install
  % leaves it aside, and pkg load says why the module is missing.
  unpacked = fullfile(root, 'unpacked');
  untar(tarball, unpacked);
  top = dir(fullfile(unpacked, 'orvel-*'));
  inst = fullfile(unpacked, top.name, 'inst');
  arch = dir(fullfile(inst, '*-api-v*'));
  movefile(fullfile(inst, arch.name), fullfile(inst, 'other-host-api-v0'));
  evalc('pkg(''install'', ''-local'', fullfile(unpacked, top.name))');  % warns the same
  lastwarn('');
  said = evalc('pkg(''load'', ''orvel'')');
  [message, id] = lastwarn();
  assert(strcmp(id, 'orvel:module') && ~isempty(strfind(message, arch.name)) ...
         && ~isempty(strfind(said, message)) && exist('Orvel_mex') == 0 ...
         && exist('calc_hp') == 2, 'orvel for another Octave: warning [%s] %s', id, message);
  pkg('unload', 'orvel');
  pkg('uninstall', '-local', 'orvel');
unwind_protect_cleanup
  cd(start);
  confirm_recursive_rmdir(false);
  rmdir(root, 's');
end_unwind_protect
printf('Octave package: installed, loaded, used and uninstalled in %.1f s\n', toc(clock));
