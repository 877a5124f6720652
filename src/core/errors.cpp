// Formatting of error texts, and the failure of an ORVEL_ASSERT.
#include "core/errors.h"

#include <cstdio>

#include "core/check.h"

std::string format_text_v(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, ap);
  text.resize(static_cast<size_t>(n));
  return text;
}

std::string format_text(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = format_text_v(fmt, ap);
  va_end(ap);
  return text;
}

void assertion_failed(const char* condition, const char* file, int line) {
  throw internal_error(format_text("internal check %s failed at %s:%d", condition, file, line));
}
