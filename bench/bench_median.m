function [middle, result_size, seconds] = bench_median(run, no_runs)
%BENCH_MEDIAN  Median wall time [s] of no_runs calls of run, a function that returns a matrix.
%   Also returns the size of the last result and every time measured.
seconds = zeros(1, no_runs);
for attempt = 1:no_runs
  started = tic();
  result = run();
  seconds(attempt) = toc(started);
  result_size = size(result);
  clear result;
end
middle = median(seconds);
end
