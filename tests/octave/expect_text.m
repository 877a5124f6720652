function expect_text(actual, expected)
%EXPECT_TEXT  Check that a captured console text equals the expected text exactly.
if ~strcmp(actual, expected)
  error('expect_text:mismatch', 'expected console text\n[%s]\ngot\n[%s]', expected, actual);
end
end
