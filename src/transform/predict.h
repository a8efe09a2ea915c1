// Motion-compensated prediction into pred_frame.
#pragma once

#include <cstdint>

#include "driver/encoder_state.h"

struct predict_kernels {
    // One rectangle of one component; dx, dy in half samples of the component.
    void (*predict_rectangle)(const uint8_t* src, uint8_t* dst, int stride, int w, int h, int x, int y, int dx,
                              int dy, int average);
};
extern predict_kernels predict_k;
extern const predict_kernels predict_kernels_reference;
void init_predict_kernels();

void predict_picture(frame_planes forward_reference, frame_planes backward_reference, frame_planes pred,
                     int second_field, macroblock_info* records);
void derive_dual_prime_vectors(int DMV[2][2], const int dmvector[2], int mvx, int mvy);
