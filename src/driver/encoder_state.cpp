#include "driver/encoder_state.h"

#include "driver/fatal.h"

encoder_state enc;

void reset_encoder_state() { enc = encoder_state{}; }

void* zeroed_allocation(std::size_t count, std::size_t size) {
    void* p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (!p) fatal_error("malloc failed\n");
    return p;
}
