% The field calculation commands through the script layer and the real module: each runs end to
% end with its columns and a start time, no points give empty results, and every signal is
% released. What the numbers are is checked in tests/unit (drivers, calculations, scat_all).
orvel_init(-1);
Th = xdc_linear_array(16, 0.3e-3, 5e-3, 0.05e-3, 2, 4, [0 0 25e-3]);
Tr = xdc_focused_array(8, 0.3e-3, 5e-3, 0.05e-3, 30e-3, 1, 4, [0 0 25e-3]);
bytes_line = @() regexp(evalc('orvel_info'), 'Number of bytes reserved: +(\d+)', 'tokens'){1}{1};
bytes = bytes_line();

pos = [0 0 15e-3; 2e-3 0 25e-3; -3e-3 1e-3 30e-3];
amp = [1; -0.5; 2];
% Command, the call, columns of the result.
runs = {'calc_h', @() calc_h(Th, pos), 3
        'calc_hp', @() calc_hp(Th, pos), 3
        'calc_hhp', @() calc_hhp(Th, Tr, pos), 3
        'calc_scat', @() calc_scat(Th, Tr, pos, amp), 1
        'calc_scat_multi', @() calc_scat_multi(Th, Tr, pos, amp), 8
        'calc_scat_all', @() calc_scat_all(Th, Tr, pos, amp, 3), 16 * 8};
for k = 1:rows(runs)
  [r, t] = runs{k, 2}();
  assert(columns(r) == runs{k, 3} && rows(r) > 1 && any(r(:) ~= 0), '%s: %s', runs{k, 1}, ...
         mat2str(size(r)));
  % In seconds: after 0 and before the round trip to the farthest point.
  assert(isscalar(t) && t > 0 && t < 2 * 31e-3 / 1540, '%s: start time %g s', runs{k, 1}, t);
end

% No points give empty results (the refusals of bad inputs are checked in tests/unit).
[e, te] = calc_h(Th, zeros(0, 3));
assert(isempty(e) && te == 0);

% Every signal of every calculation has been released.
assert(strcmp(bytes_line(), bytes));
assert(~isempty(strfind(help('calc_scat_all'), 'fs/dec_factor')));
orvel_end();
disp('test_calculations: passed');
