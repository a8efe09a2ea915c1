// A fresh encoder state of a small picture, started as the encoder starts:
// sizes from derive_sizes(), every buffer allocated, statistics to the
// standard output until a test points them elsewhere.
#pragma once

#include <cstdlib>

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "startup/init_encoder.h"

namespace morvane_test {

struct picture_geometry {
    int horizontal_size = 16, vertical_size = 16;
    int chroma_format = CHROMA420;
    int progressive_sequence = 1, field_pictures = 0;
};

// Values beyond the geometry go in through configure, before start-up.
template <typename F>
void start_encoder(const picture_geometry& g, F configure) {
    reset_encoder_state();
    encoder_config& cfg = enc.config;
    cfg.horizontal_size = g.horizontal_size;
    cfg.vertical_size = g.vertical_size;
    cfg.chroma_format = g.chroma_format;
    cfg.progressive_sequence = g.progressive_sequence;
    cfg.field_pictures = g.field_pictures;
    cfg.statistics_file_name = "-";
    configure(cfg);
    // MORVANE_TEST_SIMD runs the in-process stages under that instruction-set cap too.
    unsigned cap = 0;
    const char* simd = std::getenv("MORVANE_TEST_SIMD");
    if (simd && *simd && parse_simd_level(simd, cap)) set_cpu_cap(cap);
    init_encoder();
}

inline void start_encoder(const picture_geometry& g) {
    start_encoder(g, [](encoder_config&) {});
}

}  // namespace morvane_test
