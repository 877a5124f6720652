function text = orvel_describe(x)
%ORVEL_DESCRIBE  Size of an argument as "3 x 5", with its kind when it is not real numbers.
text = sprintf('%d x ', size(x));
text = text(1:end - 3);
if ~(isnumeric(x) || islogical(x))
  text = sprintf('a %s %s', text, class(x));
elseif ~isreal(x)
  text = sprintf('a %s complex matrix', text);
end
end
