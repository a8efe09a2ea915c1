// Writing the reconstructed frame: .Y, .U, .V and the combined .YUV.
#pragma once

#include <string>

#include "driver/frame_planes.h"

// The base name of reconstructed picture number; "-..." writes no files.
std::string recon_frame_name(int number);
void write_reconstructed_frame(const char* name, frame_planes frame);
