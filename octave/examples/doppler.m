% Orvel spectral Doppler: blood flowing through a vessel at 60 degrees to the beam, in tissue
% whose scatterers echo 300 times stronger. One focused line through the vessel's centre is
% fired 128 times; its echoes are demodulated to IQ, the tissue's slow echoes filtered out,
% and the spectrogram of a range gate at the vessel's centre shows the blood's axial velocity.
%
% Writes orvel_doppler_spectrum.png into the current folder (`make demo` runs it from the build
% folder) and prints the spectrogram's peak velocity against the true axial velocity on the
% vessel's axis. Run it as a script file, with the imaging scripts on the path:
%   octave-cli --no-gui --norc --no-history --quiet --path BUILD --path octave \
%              --path octave/imaging doppler.m
doppler_clock = tic();

% ---- The system -----------------------------------------------------------------------------
f0 = 5e6;                 % centre frequency [Hz]
fs = 100e6;               % sampling frequency [Hz]
c = 1540;                 % speed of sound [m/s]
lambda = c / f0;          % wavelength, 0.308 mm
no_elements = 32;
pitch = 0.2e-3;
kerf = 0.02e-3;
height = 4e-3;            % elevation height, curved to focus at the vessel [m]
focus_z = 20e-3;          % transmit and elevation focus: the vessel's centre [m]
prf = 8e3;                % pulse repetition frequency [Hz]
ensemble = 128;           % firings of the line

orvel_init(-1);
set_option('c', c);
set_sampling(fs);
t_pulse = (0:1 / fs:2 / f0);                  % two periods for the impulse response
impulse = sin(2 * pi * f0 * t_pulse) .* hanning(numel(t_pulse))';
excitation = sin(2 * pi * f0 * (0:1 / fs:4 / f0));   % four periods: a narrow band
tx = xdc_focused_array(no_elements, pitch - kerf, height, kerf, focus_z, 1, 4, [0 0 focus_z]);
rx = xdc_focused_array(no_elements, pitch - kerf, height, kerf, focus_z, 1, 4, [0 0 focus_z]);
xdc_impulse(tx, impulse);
xdc_excitation(tx, excitation);
xdc_impulse(rx, impulse);
limit = c * prf / (4 * f0);
printf(['Orvel Doppler: %d elements, %.1f MHz, one line fired %d times at a prf of %.0f kHz ' ...
        '(aliasing beyond +-%.3f m/s)\n'], no_elements, f0 / 1e6, ensemble, prf / 1e3, limit);

% ---- The phantom ----------------------------------------------------------------------------
% A vessel of radius 3 mm through (0, 0, 20 mm), rising towards the transducer as x grows,
% at 60 degrees to the beam (z); parabolic flow of 0.5 m/s on the axis. The gate's sample
% volume (about 1 mm across, 1.5 mm in elevation) then holds blood within about a quarter of
% the radius of the axis, at 94 % of the peak speed or more. The tissue's scatterers are 300
% times the blood's (50 dB, as tissue against blood) and drift towards the transducer at
% 1 mm/s, so that the clutter is not quite still; the box reaches 2 mm beyond the vessel in
% elevation, so that tissue beside it echoes into the gate through the beam's elevation side
% lobes. 6 scatterers per resolution cell keep the run short.
angle = 60 * pi / 180;
vessel = struct('center', [0 0 focus_z], 'direction', [sin(angle) 0 -cos(angle)], ...
                'radius', 3e-3, 'v_peak', 0.5, 'profile', 'parabolic', 'clutter', 300, ...
                'tissue_velocity', [0 0 -1e-3]);
cell_volume = resolution_cell(lambda, focus_z / (no_elements * pitch), 4 * lambda, 1.5e-3);
phantom = phantom_flow([-4e-3 4e-3 -5e-3 5e-3 14e-3 26e-3], vessel, 6, cell_volume, 1);
% Positive towards the transducer: the flow's component against z.
v_true = -vessel.v_peak * phantom.direction(3);
printf('  phantom: %d tissue and %d blood scatterers; true axial velocity on the axis %.3f m/s\n', ...
       rows(phantom.tissue_points), numel(phantom.blood_s0), v_true);

% ---- The scan -------------------------------------------------------------------------------
seq = scan_ensemble(scan_linear(no_elements, pitch, no_elements, 0, focus_z), prf, ensemble);
scan_clock = tic();
[rf, t0] = scan_run(seq, tx, rx, phantom, []);
printf('  %d firings in %.1f s\n', numel(seq), toc(scan_clock));

% ---- Doppler processing ---------------------------------------------------------------------
% rf is samples x 1 line x firings: IQ at a quarter of fs, then slow time along the rows.
[iq, t0_iq, fs_iq] = iq_demodulate(rf, t0, fs, f0, [], 4);
iq = reshape(iq, rows(iq), ensemble);
% An echo from depth d comes back at 2d/c plus the lag of the pulse (to its centre).
lag = (2 * numel(impulse) + numel(excitation) - 3) / (2 * fs);
depth = sample_depth(rows(iq), t0_iq, fs_iq, c, lag);
gate = abs(depth - focus_z) <= 0.4e-3;        % about the pulse's length around the centre
before = mean(abs(iq(gate, :)(:)) .^ 2);
filtered = clutter_filter(iq(gate, :), 'polynomial', 2);
printf('  gate %.1f to %.1f mm (%d samples): clutter filter takes the power down by %.1f dB\n', ...
       min(depth(gate)) * 1e3, max(depth(gate)) * 1e3, nnz(gate), ...
       10 * log10(before / mean(abs(filtered(:)) .^ 2)));
[spectrum, times, velocities] = doppler_spectrum(filtered, prf, f0, c, 32, 24, 128);
[~, peak] = max(spectrum, [], 1);
v_peak = mean(velocities(peak));
v_mean = mean(color_flow(filtered, prf, f0, c));
printf(['  spectrogram: %d windows of %d firings; peak velocity %.3f m/s (mean over time), ' ...
        'true axial velocity on the axis %.3f m/s (%+.1f %%)\n'], numel(times), 32, v_peak, ...
       v_true, 100 * (v_peak - v_true) / v_true);
printf('  lag-one (color_flow) mean velocity over the gate: %.3f m/s\n', v_mean);
[raw, ~, ~] = doppler_spectrum(iq(gate, :), prf, f0, c, 32, 24, 128);
[~, peak] = max(raw, [], 1);
printf('  without the clutter filter the peak lies at %.3f m/s\n', mean(velocities(peak)));

% ---- The picture ----------------------------------------------------------------------------
dynamic_range = 40;
db = 10 * log10(spectrum / max(spectrum(:)));
db = max(db, -dynamic_range);
file = fullfile(pwd(), 'orvel_doppler_spectrum.png');
drawn = false;
if any(strcmp(available_graphics_toolkits(), 'gnuplot')) ...
   && ~isempty(file_in_path(getenv('PATH'), 'gnuplot'))
  warning('off', 'Octave:gnuplot-graphics');  % the advice to use the qt toolkit instead
  warning('off', 'print:nogs');               % PNG through cairo needs no Ghostscript
  try
    graphics_toolkit('gnuplot');
    fig = figure('visible', 'off', 'position', [0 0 760 520]);
    imagesc(times, velocities, db, [-dynamic_range 0]);
    axis xy;
    colormap(gray(256));
    bar = colorbar();
    ylabel(bar, 'dB');
    hold on;
    plot(times([1 end]), [v_true v_true], 'r--', 'linewidth', 1.5);
    hold off;
    xlabel('time [s]');
    ylabel('axial velocity [m/s], towards the transducer > 0');
    title(sprintf('Spectral Doppler at %.0f mm, vessel at 60 deg (dashed: true %.2f m/s)', ...
                  focus_z * 1e3, v_true));
    set(findall(fig, '-property', 'fontsize'), 'fontsize', 12);
    print(fig, file, '-dpngcairo', '-r96');
    close(fig);
    drawn = true;
  catch err
    printf('  plotting failed (%s): picture written without axes\n', err.message);
  end
end
if ~drawn
  % Velocity upwards, one window as 16 pixels across and one bin as 3 pixels high.
  level = uint8(round((db + dynamic_range) / dynamic_range * 255));
  imwrite(repelem(flipud(level), 3, 16), file);
end
printf('  wrote %s\n', file);

xdc_free(tx);
xdc_free(rx);
orvel_end();
printf('Doppler example finished in %.1f s\n', toc(doppler_clock));
