// The fatal path: every unrecoverable condition ends here.
#pragma once

#include <string>
#include <string_view>

// Thrown by fatal_error and caught in main, which prints the message, a
// newline, and exits with status 1 (files already written stay).
struct fatal_exit {
    std::string message;
};

[[noreturn]] void fatal_error(std::string_view text);

// printf-style composition of a message of any length.
std::string error_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
