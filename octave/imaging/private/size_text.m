function text = size_text(v)
% The size of an argument as "3 x 5", with its kind when it is not real numbers.
text = sprintf('%d x ', size(v));
text = text(1:end - 3);
if ~isnumeric(v) && ~islogical(v)
  text = sprintf('a %s %s', text, class(v));
elseif ~isreal(v)
  text = sprintf('a %s complex matrix', text);
end
end
