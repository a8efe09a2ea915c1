// Forward DCT (double precision, with the DC change and its trace lines)
// and integer inverse DCT.
#pragma once

#include <cstdint>

// The tables of the transforms; init_dct_kernels fills them too.
void prepare_forward_dct();
void prepare_inverse_dct();
void forward_dct(int16_t* block);
// forward_dct with the trace lines of the given counter put at out (at
// least dc_lines_room bytes); returns their length (0 without the trace).
int forward_dct_traced(int16_t* block, int64_t counter, char* out);
void inverse_dct(int16_t* block);

// The inverse transform's final clamp, saturating outside -512..511 too.
int16_t idct_clip(int32_t index);

// The two trace lines of one block, appended to out (at least 160 bytes);
// returns the number of bytes written. Same text as the printf formats.
int format_dc_lines(char* out, int dc_before, int dc_after, int64_t counter);
// The most bytes format_dc_lines writes.
constexpr int dc_lines_room = 192;
