// VBV delay of each picture and the end-of-picture bookkeeping.
#pragma once

#include <cstdint>

// bits: the bit writer's count at the call.
void compute_vbv_delay(int64_t bits);
void vbv_end_of_picture(int64_t bits);
