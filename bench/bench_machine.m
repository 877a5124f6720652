function bench_machine(title)
%BENCH_MACHINE  Print a benchmark's title, the machine, the build and Octave's version.
printf('%s\n', title);
printf('  machine: %d cores (nproc), %s\n', nproc(), cpu_model());
printf('  build:   %s, Octave %s\n', build_type(), OCTAVE_VERSION);
end

function text = cpu_model()
  text = 'unknown CPU';
  [fid, msg] = fopen('/proc/cpuinfo', 'r');
  if fid < 0
    return;
  end
  line = fgetl(fid);
  while ischar(line)
    if strncmp(line, 'model name', 10)
      text = strtrim(line(index(line, ':') + 1:end));
      break;
    end
    line = fgetl(fid);
  end
  fclose(fid);
end

function text = build_type()
  % The build type and its flags, from the CMake cache beside the module that is loaded.
  text = 'unknown build type';
  cache = fullfile(fileparts(which('Orvel_mex')), 'CMakeCache.txt');
  [fid, msg] = fopen(cache, 'r');
  if fid < 0
    return;
  end
  entries = textscan(fid, '%s', 'delimiter', "\n");
  fclose(fid);
  entries = entries{1};
  type = regexp(entries, '^CMAKE_BUILD_TYPE:\w+=(.*)$', 'tokens', 'once');
  type = [type{!cellfun('isempty', type)}];
  if isempty(type)
    return;
  end
  text = type{1};
  flag_name = ['^CMAKE_CXX_FLAGS_' upper(text) ':\w+=(.*)$'];
  flags = regexp(entries, flag_name, 'tokens', 'once');
  flags = [flags{!cellfun('isempty', flags)}];
  if !isempty(flags)
    text = sprintf('%s (%s)', text, flags{1});
  end
end
