#include "loop/loop_trace.h"

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
