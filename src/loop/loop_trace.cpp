#include "loop/loop_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "driver/encoder_state.h"

void loop_trace(const char* format, ...) {
    if (!enc.choices.loop_trace) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// The descriptor is swapped rather than the FILE, so that writes of any kind
// to stderr go to /dev/null; when that cannot be set up they simply show.
stderr_silenced::stderr_silenced() {
    if (enc.choices.loop_trace) return;
    std::fflush(stderr);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0) return;
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0 && dup2(null_fd, STDERR_FILENO) < 0) {
        close(saved_);
        saved_ = -1;
    }
    close(null_fd);
}

stderr_silenced::~stderr_silenced() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
}
