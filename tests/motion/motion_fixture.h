// Encoder state and luminance planes for the estimator tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "driver/encoder_state.h"
#include "picture_setup.h"

namespace motion_test {

struct picture_setup {
    int width, height;
    int progressive = 1, field_pictures = 0, M = 1, top_field_first = 1;
};

// Fresh state of the given size with the statistics going to a temporary file.
inline void setup_encoder(const picture_setup& p) {
    morvane_test::start_encoder({p.width, p.height, CHROMA420, p.progressive, p.field_pictures},
                                [&](encoder_config& cfg) {
                                    cfg.M = p.M;
                                    cfg.top_field_first = p.top_field_first;
                                });
    enc.files.statistics_file = std::tmpfile();
}

inline std::string statistics_text() {
    std::string text;
    std::fflush(enc.files.statistics_file);
    std::rewind(enc.files.statistics_file);
    for (int c; (c = std::fgetc(enc.files.statistics_file)) != EOF;) text += static_cast<char>(c);
    return text;
}

// A luminance plane of the padded picture size.
struct luma {
    std::vector<uint8_t> s;
    luma() : s(static_cast<std::size_t>(enc.config.width) * enc.config.height, 0) {}
    uint8_t& at(int x, int y) { return s[static_cast<std::size_t>(y) * enc.config.width + x]; }
    uint8_t at(int x, int y) const { return s[static_cast<std::size_t>(y) * enc.config.width + x]; }
    uint8_t* data() { return s.data(); }
    // Field row k of the top (parity 0) or bottom (parity 1) field.
    uint8_t& field(int parity, int x, int k) { return at(x, 2 * k + parity); }
};

inline luma random_luma(unsigned seed, int low = 0, int high = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(low, high);
    luma p;
    for (auto& v : p.s) v = static_cast<uint8_t>(d(rng));
    return p;
}

// q moved so that cur(x, y) = q(x + dx, y + dy); samples from outside q are random.
inline luma shifted(const luma& q, int dx, int dy, unsigned seed) {
    luma p = random_luma(seed);
    for (int y = 0; y < enc.config.height; ++y)
        for (int x = 0; x < enc.config.width; ++x) {
            int sx = x + dx, sy = y + dy;
            if (sx >= 0 && sx < enc.config.width && sy >= 0 && sy < enc.config.height) p.at(x, y) = q.at(sx, sy);
        }
    return p;
}

}  // namespace motion_test
