// The host console as the core sees it: printing, flushing, host command evaluation, the read
// of one word and the user's request to stop (Ctrl-C). No host type appears here; every print
// of the system goes through this file so that the console keeps the order of the messages.
#pragma once

#include <cstddef>

void host_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Only the calling thread talks to the host. A helper thread of the worker team marks itself
// once; what it prints is then kept, in the order printed, until the calling thread prints it
// with host_print_kept (when a job of the team ends).
void host_mark_helper_thread();
bool host_on_helper_thread();
void host_print_kept();

void host_flush();                    // flush standard output
void host_eval(const char* command);  // have the host run a command line; its result is ignored

// True when the user has asked the host to stop the running command (Ctrl-C) since the last
// call. The request is taken over: the host will not act on it again, so the caller must end
// the command with an error. A cheap test, made on the calling thread between pieces of work.
bool host_take_interrupt();

// Reads one whitespace-delimited word from standard input into buf, cut to size - 1 characters
// and terminated. Returns false at once at end of input.
bool host_read_word(char* buf, size_t size);
