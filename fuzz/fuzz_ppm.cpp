// The PPM header and pixel reader. The first four input bytes choose a
// geometry the parameter checks let through (sizes 1 to 64, chroma format,
// MPEG-1, progressive frames, colour matrix); the rest is the .ppm file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "fuzz_support.h"
#include "loop/source_frame.h"
#include "startup/init_encoder.h"

using namespace morvane_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    static const int matrices[6] = {1, 2, 4, 5, 6, 7};
    reset_encoder_state();
    encoder_config& cfg = enc.config;
    cfg.horizontal_size = 1 + data[0] % 64;
    cfg.vertical_size = 1 + data[1] % 64;
    cfg.chroma_format = 1 + data[2] % 3;
    cfg.mpeg1 = (data[2] >> 2) & 1;
    cfg.progressive_frame = (data[2] >> 3) & 1;
    cfg.matrix_coefficients = matrices[(data[2] >> 4) % 6];
    cfg.progressive_sequence = data[3] & 1;
    // MPEG-1 is forced to progressive 4:2:0 after the size checks, so any size reaches it.
    if (cfg.mpeg1) {
        cfg.chroma_format = CHROMA420;
        cfg.progressive_sequence = 1;
    } else {
        if (cfg.chroma_format != CHROMA444) cfg.horizontal_size += cfg.horizontal_size % 2;
        if (cfg.chroma_format == CHROMA420) cfg.vertical_size += cfg.vertical_size % 2;
    }
    if (cfg.progressive_sequence) cfg.progressive_frame = 1;
    cfg.input_format = 2;
    cfg.statistics_file_name = "-";
    set_cpu_cap(~0u);
    if (!survives(init_encoder)) broken("start-up failed");

    const std::string base = scratch_dir() + "/in";
    write_scratch_file(base + ".ppm", data + 4, size - 4);
    if (survives([&] { load_source_frame(base.c_str(), enc.buffers.new_org_frame); })) check_luma_padding();
    return 0;
}
