// The host library's console message routine.
#pragma once

// Formats the message, appends "\nSystem error %d: %s" when errno is set,
// writes it to standard error and then to standard output, and terminates the
// process with `exitCode` when it is non-zero. `level` is ignored.
void messlog2(int exitCode, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The pluggable log function used by the configuration reader: shows the
// message only when `level` is not above the current level (default 6).
void ovr_log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ovr_set_log_level(int level);
