// Error measures and the per-picture statistics report.
#pragma once

#include <cstdint>

#include "driver/frame_planes.h"

void plane_error_stats(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double* variance, double* mse);
void compute_snr(frame_planes org, frame_planes rec);
// compute_snr in parts: the sums of the planes' lines that macroblock row
// `row` holds ([plane][sum, sum of squares, squared error]), and the lines
// from the sums of all rows. The sums are whole numbers below 2^53, so any
// order of adding them gives compute_snr's.
void snr_row_sums(frame_planes org, frame_planes rec, int row, double sums[3][3]);
void print_snr(const double sums[3][3]);
void print_picture_statistics();
