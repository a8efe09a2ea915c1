// The loop's trace and progress lines on stderr, which --quiet and
// --progress turn off; warnings and errors are written elsewhere and stay.
#pragma once

// printf to stderr and flush, when the loop trace is on.
void loop_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
