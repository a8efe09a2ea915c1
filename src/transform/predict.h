// Motion-compensated prediction into pred_frame.
#pragma once

#include <cstdint>
#include <string>

#include "driver/frame_planes.h"
#include "driver/macroblock_info.h"

void predict_picture(frame_planes forward_reference, frame_planes backward_reference, frame_planes pred,
                     int second_field, macroblock_info* records);
// The same for macroblock row `row` alone (records of the whole picture).
void predict_row(frame_planes forward_reference, frame_planes backward_reference, frame_planes pred, int second_field,
                 const macroblock_info* records, int row);
// While set, this thread's "invalid motion_type" messages go to messages
// instead of standard error, for printing in order later.
void defer_prediction_messages(std::string* messages);

void predict_macroblock(frame_planes forward_reference, frame_planes backward_reference, frame_planes dst,
                        int stride, int bx, int by, int pict_type, int picture_structure, int mb_type,
                        int motion_type, int second_field, const int mv[2][2][2],
                        const int motion_vertical_field_select[2][2], const int dmvector[2]);

// One rectangle in all three components; w, h, x, y, dx, dy are luminance
// values, stride the luminance line stride of the prediction.
void predict_component_set(frame_planes src, int src_field, frame_planes dst, int dst_field, int stride, int w,
                           int h, int x, int y, int dx, int dy, int average);

// One rectangle of one component; dx, dy in half samples of the component.
void predict_rectangle(const uint8_t* src, uint8_t* dst, int stride, int w, int h, int x, int y, int dx, int dy,
                       int average);

// Reads enc.picture.picture_structure and enc.config.top_field_first.
void derive_dual_prime_vectors(int DMV[2][2], const int dmvector[2], int mvx, int mvy);

void set_intra_prediction(frame_planes dst, int bx, int by);
