// The matrix reader: the input's first byte says which matrix reads the
// rest as its file (even: intra, odd: non-intra); the other one is the default.
#include <cstddef>
#include <cstdint>

#include "driver/encoder_state.h"
#include "driver/quant_matrices.h"
#include "fuzz_support.h"

using namespace morvane_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool intra = data[0] % 2 == 0;
    memory_file file(data + 1, size - 1);
    reset_encoder_state();
    encoder_config& cfg = enc.config;
    cfg.intra_matrix_file = intra ? file.path() : "-";
    cfg.non_intra_matrix_file = intra ? "-" : file.path();
    if (!survives(read_quant_matrices)) return 0;
    const uint8_t* m = intra ? cfg.intra_quantiser_matrix : cfg.non_intra_quantiser_matrix;
    for (int i = 0; i < 64; ++i)
        if (m[i] == 0) broken("a matrix entry of 0 read without an error");
    if ((intra ? cfg.load_intra_quantiser_matrix : cfg.load_non_intra_quantiser_matrix) != 1)
        broken("a matrix read from a file is not marked loaded");
    return 0;
}
