// Captures what the bit writer emits as a string of '0' and '1'.
#pragma once

#include <cstdio>
#include <string>

#include "bitstream/bit_writer.h"
#include "driver/encoder_state.h"

namespace bitstream_test {

class bit_capture {
public:
    bit_capture() : file_(std::tmpfile()) {
        enc.files.output_file = file_;
        enc.run.bits.out_byte = 0;
        init_bit_writer();
    }
    ~bit_capture() {
        if (enc.files.output_file == file_) enc.files.output_file = nullptr;
        std::fclose(file_);
    }
    bit_capture(const bit_capture&) = delete;
    bit_capture& operator=(const bit_capture&) = delete;

    // Whole bytes handed to the file so far.
    std::string bytes() const {
        std::fflush(file_);
        long end = std::ftell(file_);
        std::string out(static_cast<std::size_t>(end), '\0');
        std::rewind(file_);
        std::size_t got = std::fread(out.data(), 1, out.size(), file_);
        out.resize(got);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

    // Every bit written so far, the incomplete last byte included.
    std::string bits() const {
        std::string out;
        for (unsigned char c : bytes())
            for (int i = 7; i >= 0; --i) out += ((c >> i) & 1) ? '1' : '0';
        int pending = 8 - enc.run.bits.bits_free;
        for (int i = pending - 1; i >= 0; --i) out += ((enc.run.bits.out_byte >> i) & 1) ? '1' : '0';
        return out;
    }

private:
    FILE* file_;
};

// n low bits of value, most significant first.
inline std::string bin(unsigned value, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += ((value >> i) & 1) ? '1' : '0';
    return out;
}

// Reads fields back from a captured bit string.
class bit_reader {
public:
    explicit bit_reader(std::string bits) : bits_(std::move(bits)) {}
    unsigned get(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | (bits_.at(pos_++) == '1' ? 1u : 0u);
        return v;
    }
    std::size_t position() const { return pos_; }
    std::size_t left() const { return bits_.size() - pos_; }

private:
    std::string bits_;
    std::size_t pos_ = 0;
};

}  // namespace bitstream_test
