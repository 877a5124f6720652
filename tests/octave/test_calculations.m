% The field calculation commands through the script layer and the real module.
orvel_init(-1);
fs = 100e6;
Th = xdc_linear_array(16, 0.3e-3, 5e-3, 0.05e-3, 2, 4, [0 0 25e-3]);
Tr = xdc_focused_array(8, 0.3e-3, 5e-3, 0.05e-3, 30e-3, 1, 4, [0 0 25e-3]);
bytes_line = @() regexp(evalc('orvel_info'), 'Number of bytes reserved: +(\d+)', 'tokens'){1}{1};
bytes = bytes_line();

p1 = [0 0 20e-3];
p2 = [4e-3 1e-3 35e-3];
[h, t] = calc_h(Th, [p1; p2]);
[h1, t1] = calc_h(Th, p1);
[h2, t2] = calc_h(Th, p2);
assert(isscalar(t) && t == min(t1, t2));
% Single points: one column and a trailing zero row.
assert(size(h1, 2) == 1 && h1(end) == 0 && any(h1 ~= 0));
% Together: each column at its own offset from the earliest start; one trailing zero row.
o1 = round((t1 - t) * fs);
o2 = round((t2 - t) * fs);
rows = max(o1 + numel(h1), o2 + numel(h2)) - 1 + 1;  % the singles carry their zero row
assert(size(h, 1) == rows && size(h, 2) == 2);
assert(isequal(h(o1 + (1:numel(h1) - 1), 1), h1(1:end - 1)));
assert(isequal(h(o2 + (1:numel(h2) - 1), 2), h2(1:end - 1)));
assert(all(h(1:o1, 1) == 0) && all(h(end, :) == 0));

% Unit pulses: the emitted field is the response divided by fs twice.
[hp, tp] = calc_hp(Th, [p1; p2]);
assert(tp == t && isequal(size(hp), size(h)));
assert(max(abs(hp(:) - h(:) / fs^2)) < 1e-12 * max(abs(h(:))) / fs^2);

% Pulse-echo with one aperture for both sides equals two identical apertures.
Tcopy = xdc_linear_array(16, 0.3e-3, 5e-3, 0.05e-3, 2, 4, [0 0 25e-3]);
[hhp, th] = calc_hhp(Th, Th, p2);
[hhq, tq] = calc_hhp(Th, Tcopy, p2);
assert(th == tq && max(abs(hhp - hhq)) <= 1e-12 * max(abs(hhp)));

% Scattered signals: per receive element, summed, equal the summed signal.
pos = [0 0 15e-3; 2e-3 0 25e-3; -3e-3 1e-3 30e-3];
amp = [1; -0.5; 2];
[s, ts] = calc_scat(Th, Tr, pos, amp);
[m, tm] = calc_scat_multi(Th, Tr, pos, amp);
assert(size(s, 2) == 1 && size(m, 2) == 8);
total = sum(m, 2);
off = round((ts - tm) * fs);
ref = zeros(size(total));
ref(off + (1:numel(s))) = s;
assert(max(abs(total - ref)) < 1e-10 * max(abs(s)));
[z, tz] = calc_scat(Th, Tr, pos, [0 0 0]);
assert(all(z == 0) && numel(z) > 0);

% The number of threads changes no number.
set_option('threads', 1);
[m1, t1] = calc_scat_multi(Th, Tr, pos, amp);
h1 = calc_hp(Th, [p1; p2]);
set_option('threads', 3);
[m3, t3] = calc_scat_multi(Th, Tr, pos, amp);
assert(isequal(m1, m3) && t1 == t3 && isequal(h1, calc_hp(Th, [p1; p2])));

% Empty inputs give empty results (the refusals of bad inputs are checked in tests/unit).
[e, te] = calc_h(Th, zeros(0, 3));
assert(isempty(e) && te == 0);
xdc_free(Tcopy);

% All element pairs: one column per transmit and receive element pair; decimated by 3, the
% first row lies on the grid of fs/3 at the first multiple of 3 samples at or after the first
% row of the undecimated result.
[a1, ta1] = calc_scat_all(Th, Tr, pos, amp, 1);
[a3, ta3] = calc_scat_all(Th, Tr, pos, amp, 3);
assert(size(a1, 2) == 16 * 8 && size(a3, 2) == 16 * 8 && any(a3(:) ~= 0));
assert(abs(ta3 * fs / 3 - round(ta3 * fs / 3)) < 1e-6);
assert(round(ta3 * fs / 3) == ceil(round(ta1 * fs) / 3));
assert(~isempty(strfind(help('calc_scat_all'), 'fs/dec_factor')));

% Every signal of every calculation has been released.
assert(strcmp(bytes_line(), bytes));
assert(~isempty(strfind(help('calc_hp'), 'start_time')));
orvel_end();
disp('test_calculations: passed');
