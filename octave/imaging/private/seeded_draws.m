function [u, g] = seeded_draws(count, seed)
%SEEDED_DRAWS  count x 3 uniform and count x 1 Gaussian draws from seed, in that order.
%   The generators' states are restored afterwards, so that the caller's random numbers do not
%   depend on a phantom having been made.
old_uniform = rand('state');
old_normal = randn('state');
rand('state', double(seed));
randn('state', double(seed));
u = rand(count, 3);
g = randn(count, 1);
rand('state', old_uniform);
randn('state', old_normal);
end
