function orvel_logo()
%ORVEL_LOGO  Print the Orvel logo (shown by orvel_init with a positive argument).
logo = {
  '      ___                  _ '
  '     / _ \ _ ____   _____| |'
  '    | | | | ''__\ \ / / _ \ |'
  '    | |_| | |   \ V /  __/ |'
  '     \___/|_|    \_/ \___|_|'
  '                             '
  '     ultrasound fields by spatial impulse responses'
};
printf('%s\n', logo{:});
end
