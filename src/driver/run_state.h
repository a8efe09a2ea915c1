// What the sequential stages carry from one macroblock, picture or frame to
// the next: rate control, the VBV model, the bit writer, the predictors of
// the variable-length codes, the DC change counter and the PPM work planes.
#pragma once

#include <cstdint>

#include "driver/allocation.h"

// R, T, S and d are 64-bit so that budgets of high bit rates and long GOPs
// never wrap.
struct rate_control_state {
    int64_t R = 0;  // bits remaining for the GOP
    int64_t T = 0;  // target bits of the picture
    int64_t S = 0;  // bitcount at picture start; at its end, bits used
    int64_t d = 0;  // virtual buffer fullness
    int Np = 0, Nb = 0;
    double act_sum = 0.0;
    int64_t mquant_sum = 0;
    int prev_linear_mquant = 0;
    // Running copies of the start values, defaults filled in.
    int r = 0, Xi = 0, Xp = 0, Xb = 0, d0i = 0, d0p = 0, d0b = 0;
    double avg_act = 0.0;
};

struct vbv_state {
    double decoding_time = 0.0;
    int64_t bitcnt_EOP = 0;
    double next_ip_delay = 0.0;
    int vbv_delay = 0;  // of the picture being written
};

struct bit_writer_state {
    uint8_t out_byte = 0;
    int bits_free = 8;
    int64_t byte_count = 0;
};

// Chrominance planes of PPM input before subsampling, allocated on first use.
// The geometry is remembered so that a state of another size gets fresh planes.
struct ppm_work_planes {
    zeroed_array<uint8_t> full_cb_storage, full_cr_storage, half_cb_storage, half_cr_storage;
    uint8_t* full_cb = nullptr;
    uint8_t* full_cr = nullptr;
    uint8_t* half_cb = nullptr;
    uint8_t* half_cr = nullptr;
    int width = 0, height = 0, chroma_format = 0;
};

struct run_state {
    rate_control_state rc;
    vbv_state vbv;
    bit_writer_state bits;
    int PMV[2][2][2] = {};    // motion-vector predictors [vector][direction][hor/vert]
    int dc_dct_pred[3] = {};  // DC predictors per component
    // Blocks passed through forward_dct since the start of the run. 64 bits
    // so that it never wraps; below 2^31 it prints like a 32-bit counter.
    int64_t dc_change_counter = 0;
    ppm_work_planes ppm;
};
