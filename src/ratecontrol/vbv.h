// VBV delay of each picture and the end-of-picture bookkeeping.
#pragma once

#include <cstdint>

void compute_vbv_delay();
void vbv_end_of_picture();
