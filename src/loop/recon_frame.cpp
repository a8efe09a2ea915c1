#include "loop/recon_frame.h"
void write_reconstructed_frame(const char*, frame_planes) {}
