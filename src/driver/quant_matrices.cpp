#include "driver/quant_matrices.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"

const uint8_t default_intra_quantiser_matrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34,  //
    16, 16, 22, 24, 27, 29, 34, 37,  //
    19, 22, 26, 27, 29, 34, 34, 38,  //
    22, 22, 26, 27, 29, 34, 37, 40,  //
    22, 26, 27, 29, 32, 35, 40, 48,  //
    26, 27, 29, 32, 35, 40, 48, 58,  //
    26, 27, 29, 34, 38, 46, 56, 69,  //
    27, 29, 35, 38, 46, 56, 69, 83,  //
};

namespace {

// One "%d" conversion from the stream: false when no number starts here.
// Values beyond the int range saturate, so they fail the 1..255 test
// instead of wrapping into it.
bool read_number(FILE* file, long long& value) {
    int c;
    do c = std::getc(file);
    while (c != EOF && std::isspace(c));
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(file);
    }
    if (c == EOF || !std::isdigit(c)) return false;
    long long v = 0;
    for (; c != EOF && std::isdigit(c); c = std::getc(file))
        if (v < 1000000000000LL) v = v * 10 + (c - '0');
    if (c != EOF) std::ungetc(c, file);
    value = negative ? -v : v;
    return true;
}

void read_matrix_file(const std::string& name, uint8_t* matrix) {
    file_handle file = file_handle::open(name, "r");
    if (!file) fatal_error(error_text("Couldn't open quant matrix file %s", name.c_str()));
    for (int i = 0; i < 64; ++i) {
        long long v = 0;
        if (!read_number(file.get(), v))
            fatal_error(error_text("Couldn't read 64 numbers from quant matrix file %s", name.c_str()));
        if (v < 1 || v > 255) fatal_error("invalid value in quant matrix");
        matrix[i] = static_cast<uint8_t>(v);
    }
}

}  // namespace

void read_quant_matrices() {
    encoder_config& cfg = enc.config;
    if (!cfg.intra_matrix_file.empty() && cfg.intra_matrix_file[0] == '-') {
        cfg.load_intra_quantiser_matrix = 0;
        std::memcpy(cfg.intra_quantiser_matrix, default_intra_quantiser_matrix, 64);
    } else {
        cfg.load_intra_quantiser_matrix = 1;
        read_matrix_file(cfg.intra_matrix_file, cfg.intra_quantiser_matrix);
    }

    if (!cfg.non_intra_matrix_file.empty() && cfg.non_intra_matrix_file[0] == '-') {
        cfg.load_non_intra_quantiser_matrix = 0;
        std::memset(cfg.non_intra_quantiser_matrix, 16, 64);
    } else {
        cfg.load_non_intra_quantiser_matrix = 1;
        read_matrix_file(cfg.non_intra_matrix_file, cfg.non_intra_quantiser_matrix);
    }
}
