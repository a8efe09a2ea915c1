// Writing the reconstructed frame: .Y, .U, .V and the combined .YUV.
#pragma once

#include "driver/encoder_state.h"

void write_reconstructed_frame(const char* name, frame_planes frame);
