// Error measures and the per-picture statistics report.
#pragma once

#include <cstdint>

#include "driver/frame_planes.h"

void plane_error_stats(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double* variance, double* mse);
void compute_snr(frame_planes org, frame_planes rec);
void print_picture_statistics();
