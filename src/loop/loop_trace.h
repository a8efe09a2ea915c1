// The loop's trace and progress lines on stderr, which --quiet and
// --progress turn off; warnings and errors are written elsewhere and stay.
#pragma once

// printf to stderr and flush, when the loop trace is on.
void loop_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While it lives and the loop trace is off, whatever is written to stderr is
// dropped: motion estimation writes its progress dots there itself. Nothing
// but those dots reaches stderr inside the scope it guards.
class stderr_silenced {
public:
    stderr_silenced();
    ~stderr_silenced();
    stderr_silenced(const stderr_silenced&) = delete;
    stderr_silenced& operator=(const stderr_silenced&) = delete;

private:
    int saved_ = -1;  // the real stderr while it is replaced
};
