// The YUV4MPEG2 reader, header and frames, as --input reads a stream. The
// first input byte picks the parameter values the stream is held against
// (reference distance M, frame rate, progressive or interlaced frames, top
// field first, a picture size of its own); the rest is the stream. The
// parameter file takes the header's size and chroma where the checks would
// let them through, so most streams get past the comparison to their frames,
// which are then asked for in coding order, up to 8 of them, until the
// stream ends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/y4m.h"
#include "fuzz_support.h"
#include "loop/y4m_source.h"
#include "startup/init_encoder.h"

using namespace morvane_fuzz;

namespace {

constexpr double frame_rates[8] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
constexpr int most_frames = 8;

// The picture size and chroma of the stream's header, when it has one the
// parameter checks let through (up to 64x64); 16x16 4:2:0 otherwise.
void take_geometry(std::string_view stream, bool own_size) {
    encoder_config& cfg = enc.config;
    cfg.horizontal_size = 16;
    cfg.vertical_size = 16;
    cfg.chroma_format = CHROMA420;
    const std::size_t end = stream.find('\n');
    if (end == std::string_view::npos) return;
    y4m_header h;
    if (!survives([&] { h = parse_y4m_header(stream.substr(0, end), "fuzz"); })) return;
    if (h.width > 64 || h.height > 64) return;
    cfg.horizontal_size = h.width;
    cfg.vertical_size = h.height;
    cfg.chroma_format = h.chroma_format;
    // MPEG-2 wants whole chroma samples; MPEG-1 (4:2:0 only) takes any size.
    if (h.chroma_format == CHROMA420 && (h.width % 2 || h.height % 2)) {
        cfg.mpeg1 = 1;
    } else if (h.chroma_format == CHROMA422 && h.width % 2) {
        cfg.horizontal_size += 1;  // a size of its own after all
    }
    if (own_size) cfg.vertical_size = cfg.vertical_size % 64 + 1;
}

// Display number of the n-th frame in coding order with reference distance m.
int coding_order_frame(int n, int m) {
    if (n == 0 || m == 1) return n;
    const int group = (n - 1) / m, at = (n - 1) % m;
    return at == 0 ? (group + 1) * m : group * m + at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int control = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    reset_encoder_state();
    encoder_config& cfg = enc.config;
    take_geometry(stream, (control >> 7) & 1);
    const int m = 1 + (control & 3);
    cfg.M = m;
    cfg.frame_count = most_frames;
    cfg.frame_rate_code = 1 + ((control >> 2) & 7);
    cfg.frame_rate = frame_rates[cfg.frame_rate_code - 1];
    cfg.progressive_sequence = cfg.mpeg1 || ((control >> 5) & 1);
    cfg.progressive_frame = cfg.progressive_sequence;
    cfg.top_field_first = (control >> 6) & 1;
    cfg.statistics_file_name = "-";
    set_cpu_cap(~0u);
    if (!survives(init_encoder)) broken("start-up failed");

    const memory_file file(stream.data(), stream.size());
    if (survives([&] { open_source_stream(file.path()); })) {
        for (int n = 0; n < most_frames; ++n) {
            if (!survives([&] { load_stream_frame(coding_order_frame(n, m), enc.buffers.new_org_frame); })) break;
            check_luma_padding();
            if (stream_window_frames() > m - 1) broken("the window holds more frames than the coding order needs");
        }
    }
    close_source_stream();
    return 0;
}
