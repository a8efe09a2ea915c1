// Shared set-up of the rate-control tests: a fresh encoder state with a
// statistics file that can be read back.
#pragma once

#include <cstdio>
#include <string>

#include "bitstream/bit_writer.h"
#include "driver/encoder_state.h"
#include "picture_setup.h"
#include "ratecontrol/rate_control.h"
#include "ratecontrol/vbv.h"

namespace rc_test {

using picture_size = morvane_test::picture_geometry;

class statistics_capture {
public:
    statistics_capture() { file_ = std::tmpfile(); }
    ~statistics_capture() {
        if (enc.files.statistics_file == file_) enc.files.statistics_file = nullptr;
        std::fclose(file_);
    }
    statistics_capture(const statistics_capture&) = delete;
    statistics_capture& operator=(const statistics_capture&) = delete;
    FILE* file() const { return file_; }
    // Everything written since the last call.
    std::string take() {
        std::fflush(file_);
        std::string text;
        std::fseek(file_, static_cast<long>(read_), SEEK_SET);
        int c;
        while ((c = std::fgetc(file_)) != EOF) text.push_back(static_cast<char>(c));
        read_ += text.size();
        std::fseek(file_, 0, SEEK_END);
        return text;
    }

private:
    FILE* file_ = nullptr;
    std::size_t read_ = 0;
};

// Fresh state of the given size, bit rate and frame rate; statistics go to capture.
inline void start_state(const picture_size& size, double bit_rate, double frame_rate, statistics_capture& capture) {
    morvane_test::start_encoder(size, [&](encoder_config& cfg) {
        cfg.bit_rate = bit_rate;
        cfg.frame_rate = frame_rate;
    });
    enc.files.statistics_file = capture.file();
    enc.picture.picture_structure = 3;
}

// Puts the bit writer's count at exactly bits, without writing anything.
inline void set_bitcount(int64_t bits) {
    enc.run.bits.byte_count = bits / 8;
    enc.run.bits.bits_free = 8 - static_cast<int>(bits % 8);
}

}  // namespace rc_test
