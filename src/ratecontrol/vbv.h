// VBV delay of each picture and the end-of-picture bookkeeping.
#pragma once

#include <cstdint>

struct vbv_state {
    double decoding_time = 0.0;
    int64_t bitcnt_EOP = 0;
    double next_ip_delay = 0.0;
};
extern vbv_state vbv;

void compute_vbv_delay();
void vbv_end_of_picture();
