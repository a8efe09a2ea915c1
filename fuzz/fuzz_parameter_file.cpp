// The parameter-file reader with every check and adjustment: the input is
// the file. A file that passes must leave a configuration the rest of the
// encoder can rely on; each broken() names a promise of the checks.
#include <cstddef>
#include <cstdint>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/parameter_file.h"
#include "fuzz_support.h"
#include "loop/source_frame.h"

using namespace morvane_fuzz;

namespace {

bool flag(int v) { return v == 0 || v == 1; }
bool within(int v, int low, int high) { return v >= low && v <= high; }

void check_configuration() {
    const encoder_config& cfg = enc.config;
    for (int v : {cfg.mpeg1, cfg.field_pictures, cfg.low_delay, cfg.constrained_parameters_flag,
                  cfg.progressive_sequence, cfg.top_field_first, cfg.repeat_first_field, cfg.progressive_frame})
        if (!flag(v)) broken("a flag other than 0 or 1");
    for (const int* tab : {cfg.frame_pred_frame_dct_tab, cfg.concealment_motion_vectors_tab, cfg.q_scale_type_tab,
                           cfg.intra_vlc_format_tab, cfg.alternate_scan_tab})
        for (int i = 0; i < 3; ++i)
            if (!flag(tab[i])) broken("a per-type flag other than 0 or 1");
    if (cfg.N < 1 || cfg.M < 1 || cfg.N % cfg.M != 0) broken("N and M not checked");
    if (!within(cfg.horizontal_size, 1, 16383) || !within(cfg.vertical_size, 1, 16383)) broken("size not checked");
    if (!within(cfg.chroma_format, 1, 3) || !within(cfg.frame_rate_code, 1, 8)) broken("code not checked");
    if (!within(cfg.intra_dc_precision, 0, 3) || !within(cfg.input_format, 0, 2)) broken("value not checked");
    if (!(cfg.bit_rate > 0.0) || !within(cfg.vbv_buffer_size, 1, 262143)) broken("rate or buffer not checked");
    if (cfg.mpeg1 && (!cfg.progressive_sequence || cfg.chroma_format != CHROMA420 || cfg.intra_dc_precision != 0))
        broken("an MPEG-1 value not forced");
    if (cfg.progressive_frame && cfg.field_pictures) broken("field pictures of progressive frames");
    if (cfg.progressive_sequence && !cfg.progressive_frame) broken("interlaced frames of a progressive sequence");
    if (cfg.field_pictures && cfg.vertical_size % 2 != 0) broken("field pictures of an odd height");
    if (cfg.r < 0 || cfg.Xi < 0 || cfg.Xp < 0 || cfg.Xb < 0 || cfg.d0i < 0 || cfg.d0p < 0 || cfg.d0b < 0)
        broken("negative rate-control start value");
    if (cfg.time_code_frames < 0) broken("negative time code");
    for (int k = 0; k < cfg.M; ++k) {
        const motion_entry& m = cfg.motion_data[k];
        auto entry = [](int f_code, int search) {
            if (!within(f_code, 1, 9)) broken("f_code not checked");
            if (!within(search, 1, (4 << f_code) - 1)) broken("search width beyond its f_code");
        };
        entry(m.forw_hor_f_code, m.forw_hor_search);
        entry(m.forw_vert_f_code, m.forw_vert_search);
        if (k >= 1) {
            entry(m.back_hor_f_code, m.back_hor_search);
            entry(m.back_vert_f_code, m.back_vert_search);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    memory_file file(data, size);
    reset_encoder_state();
    if (!survives([&] { read_parameter_file(file.path().c_str()); })) return 0;
    check_configuration();
    survives(check_picture_patterns);
    return 0;
}
