// The one exception type of command errors. The text is exactly what the host's error call
// shows; mexFunction catches it at the boundary and passes the text on.
#pragma once

#include <stdexcept>
#include <string>

struct command_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// printf-style text for an error message.
std::string format_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
