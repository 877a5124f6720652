// The one exception type of command errors and the formatting of their texts. The text is
// exactly what the host's error call shows; mexFunction catches the exception at the boundary
// and passes the text on.
#pragma once

#include <cstdarg>
#include <stdexcept>
#include <string>

struct command_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// printf-style text for an error message.
std::string format_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format_text_v(const char* fmt, va_list ap);
