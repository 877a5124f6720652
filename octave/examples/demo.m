% Orvel demo: start the simulator, set a few options and show the configuration.
orvel_init(0);
set_option('c', 1540);
set_sampling(100e6);
set_option('use_att', 1);
set_option('att', 0.5 * 100);      % 0.5 dB/cm
set_option('freq_att', 0.5e-6 * 100);  % 0.5 dB/(cm MHz)
set_option('att_f0', 3e6);
orvel_info();
orvel_end();
