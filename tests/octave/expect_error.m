function expect_error(f, expected)
%EXPECT_ERROR  Check that calling f fails with exactly the message expected.
%   Octave's error call puts the module's name before a MEX file's message.
try
  f();
catch err
  actual = err.message;
  prefix = 'Orvel_mex: ';
  if strncmp(actual, prefix, numel(prefix))
    actual = actual(numel(prefix) + 1:end);
  end
  if ~strcmp(actual, expected)
    error('expect_error:mismatch', 'expected error\n  [%s]\ngot\n  [%s]', expected, actual);
  end
  return;
end
error('expect_error:none', 'expected the error [%s], but the call succeeded', expected);
end
