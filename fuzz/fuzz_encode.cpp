// The whole encoder on tiny pictures, started as main starts it (parameter
// file, matrices, start-up, the sequence loop) on one thread.
//
// The input decodes into a parameter file that mostly passes the checks: the
// leading bytes are the values of a fixed table of fields, each taken modulo
// its range, so a mutated byte changes one value and stays valid; missing
// bytes read as 0. Then come the matrix entries a field asks for, and the
// rest is the sample data of the source pictures (written in the input
// format the parameters name). Sizes are 1 to 64, at most 4 frames; every
// mode of the parameter file is reachable, and some fields reach extreme
// values the checks let through (frame numbers, time codes, rate-control
// start values, bit rates); a field sets the command-line choices of the DC
// change and the traces.
//
// MORVANE_FUZZ_SHOW=1 prints the parameter file of each input and how
// its first run ends.
//
// Each input is encoded twice, at the chosen instruction-set cap and at
// another: the stream, the statistics and any fatal message must be the same.
#include <stdio.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/parameter_file.h"
#include "driver/quant_matrices.h"
#include "fuzz_support.h"
#include "loop/encode_sequence.h"
#include "loop/source_frame.h"
#include "startup/init_encoder.h"

using namespace morvane_fuzz;

namespace {

class byte_reader {
public:
    byte_reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int byte() { return at_ < size_ ? data_[at_++] : (++at_, 0); }
    bool flag() { return byte() & 1; }
    // low..high, high - low below 256.
    int range(int low, int high) { return low + byte() % (high - low + 1); }
    uint32_t u16() { return static_cast<uint32_t>(byte()) | static_cast<uint32_t>(byte()) << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    template <std::size_t n>
    int pick(const int (&values)[n]) {
        return values[static_cast<std::size_t>(byte()) % n];
    }
    std::vector<uint8_t> rest() const {
        return at_ < size_ ? std::vector<uint8_t>(data_ + at_, data_ + size_) : std::vector<uint8_t>();
    }

private:
    const uint8_t* data_;
    std::size_t size_, at_ = 0;
};

// A value from a small range, or now and then one of the extremes a check lets through.
int small_or_extreme(byte_reader& in, int small_span, std::initializer_list<int> extremes) {
    int b = in.byte();
    if (b < 256 - static_cast<int>(extremes.size())) return b % small_span;
    return extremes.begin()[255 - b];
}

struct sources {
    int input_format = 0;
    int broken_frame = -1;  // no file for this display number
    int short_frame = -1;   // its file one byte short
    int yuv_pictures = 1;   // pictures in a .yuv file
};

struct decoded {
    std::string par;
    sources src;
    unsigned simd_mask = 0;
    run_choices choices;
    bool stats_to_file = false;
    std::vector<uint8_t> intra, non_intra;  // empty: the default matrix
    std::vector<uint8_t> samples;
    // The geometry as written, for the source files.
    int horizontal_size = 0, vertical_size = 0, chroma_format = 0, mpeg1 = 0, frame_count = 0;
    long long first_frame_number = 0;
};

const char* const simd_names[4] = {"none", "sse2", "avx2", "avx512"};

unsigned simd_mask_of(int level) {
    unsigned mask = 0;
    parse_simd_level(simd_names[level], mask);
    return mask;
}

decoded decode(const uint8_t* data, std::size_t size) {
    byte_reader in(data, size);
    decoded d;
    std::vector<std::string> lines;
    auto line = [&lines](const auto& v) { lines.push_back(std::to_string(v)); };

    d.simd_mask = simd_mask_of(in.range(0, 3));
    d.src.input_format = in.range(0, 2);
    const int frame_count = small_or_extreme(in, 5, {-1, -7});
    const int first_frame_number =
        small_or_extreme(in, 4, {-1, -1000, INT_MAX, INT_MAX - 1, INT_MAX - 3, INT_MIN, INT_MIN + 1});
    const int source_fault = in.byte() % 16;
    if (source_fault >= 1 && source_fault <= 4) d.src.broken_frame = source_fault - 1;
    if (source_fault >= 5 && source_fault <= 8) d.src.short_frame = source_fault - 5;
    d.src.yuv_pictures = in.range(1, 3);
    const int M = in.range(1, 4);
    const int N = M * in.range(1, 4);
    const int mpeg1 = in.flag();
    const int field_pictures = in.flag();
    const int chroma_format = in.range(1, 3);
    int horizontal_size = in.range(1, 64);
    int vertical_size = in.range(1, 64);
    // The parity rules of the range checks, on the values before MPEG-1 forces 4:2:0.
    if (chroma_format != CHROMA444) horizontal_size += horizontal_size % 2;
    if (chroma_format == CHROMA420 || field_pictures) vertical_size += vertical_size % 2;
    if (field_pictures && chroma_format == CHROMA420) vertical_size = (vertical_size + 3) / 4 * 4;
    const int aspect = mpeg1 ? in.range(1, 14) : in.range(1, 4);
    const int frame_rate_code = in.range(1, 8);
    const double bit_rate = 10.0 * (1 + in.u16()) * (1 << in.range(0, 7));
    const int vbv_buffer_size = 1 + static_cast<int>(in.u16() % (mpeg1 ? 1023 : 597));
    static const int profile_levels[8][2] = {{4, 8}, {4, 10}, {4, 6}, {4, 4}, {1, 8}, {1, 4}, {5, 8}, {8, 0}};
    const int* pl = profile_levels[in.range(0, 7)];
    static const int colour_codes[6] = {1, 2, 4, 5, 6, 7};

    lines.push_back(in.flag() ? "fuzz" : "");  // an id of one character (the line end) writes no user data
    const std::string& dir = scratch_dir();
    lines.push_back(dir + "/s%d");
    d.stats_to_file = false;
    const int outputs = in.byte();
    lines.push_back(outputs & 1 ? dir + "/r%d" : "-");
    const bool intra_file = outputs & 2, non_intra_file = outputs & 4;
    d.stats_to_file = outputs & 8;
    lines.push_back(intra_file ? dir + "/intra.mat" : "-");
    lines.push_back(non_intra_file ? dir + "/non_intra.mat" : "-");
    lines.push_back(d.stats_to_file ? dir + "/stats.txt" : "-");
    line(d.src.input_format);
    line(frame_count);
    line(first_frame_number);
    {
        int h = small_or_extreme(in, 24, {INT_MAX, 596523, 99});
        int m = in.range(0, 59), s = in.range(0, 59), f = in.range(0, 59);
        lines.push_back(std::to_string(h) + ":" + std::to_string(m) + ":" + std::to_string(s) + ":" +
                        std::to_string(f));
    }
    line(N);
    line(M);
    line(mpeg1);
    line(field_pictures);
    line(horizontal_size);
    line(vertical_size);
    line(aspect);
    line(frame_rate_code);
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f", bit_rate);
        lines.push_back(text);
    }
    line(vbv_buffer_size);
    line(in.flag());  // low_delay
    line(in.flag());  // constrained_parameters_flag
    line(pl[0]);
    line(pl[1]);
    line(in.flag());  // progressive_sequence
    line(chroma_format);
    line(in.range(0, 4));            // video_format
    line(in.pick(colour_codes));     // color_primaries
    line(in.pick(colour_codes));     // transfer_characteristics
    line(in.pick(colour_codes));     // matrix_coefficients
    line(in.range(0, 255));          // display_horizontal_size
    line(in.range(0, 255));          // display_vertical_size
    line(in.range(0, 3));            // intra_dc_precision
    line(in.flag());                 // top_field_first
    const uint32_t tabs = in.u16();  // five per-type tables of three flags
    for (int t = 0; t < 5; ++t)
        lines.push_back(std::to_string(tabs >> (3 * t) & 1) + " " + std::to_string(tabs >> (3 * t + 1) & 1) + " " +
                        std::to_string(tabs >> (3 * t + 2) & 1));
    line(in.flag());  // repeat_first_field
    line(in.flag());  // progressive_frame
    line(0);
    // The command-line choices: --no-dc-change, --no-trace, --quiet.
    const int choices = in.byte();
    d.choices.dc_change = choices & 1 ? 0 : 200;
    d.choices.dc_trace = !(choices & 2);
    d.choices.loop_trace = !(choices & 4);
    // Rate-control start values: 0 (the default) unless their bit is set.
    const int start_values = in.byte();
    auto start = [&](int bit) { return start_values >> bit & 1 ? static_cast<int>(in.u32() & INT_MAX) : 0; };
    line(start(0));  // r
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", start_values >> 1 & 1 ? in.u32() / 16.0 : 0.0);
        lines.push_back(text);  // avg_act
    }
    for (int bit = 2; bit < 8; ++bit) line(start(bit));  // Xi Xp Xb d0i d0p d0b
    for (int k = 0; k < M; ++k)
        for (int direction = 0; direction < (k == 0 ? 1 : 2); ++direction) {
            std::string text;
            for (int i = 0; i < 4; ++i) {
                int b = in.byte();
                int v = i < 2 ? 1 + b % (mpeg1 ? 7 : 9) : (b < 250 ? 1 + b % 64 : 2047);
                text += (i ? " " : "") + std::to_string(v);
            }
            lines.push_back(text);
        }
    for (const std::string& l : lines) d.par += l + "\n";

    auto matrix = [&in] {
        std::vector<uint8_t> m(64);
        for (uint8_t& v : m) v = static_cast<uint8_t>(1 + in.byte() % 255);
        return m;
    };
    if (intra_file) d.intra = matrix();
    if (non_intra_file) d.non_intra = matrix();
    d.samples = in.rest();

    d.horizontal_size = horizontal_size;
    d.vertical_size = vertical_size;
    d.chroma_format = mpeg1 ? CHROMA420 : chroma_format;
    d.mpeg1 = mpeg1;
    d.frame_count = frame_count;
    d.first_frame_number = first_frame_number;
    return d;
}

void write_matrix(const std::string& name, const std::vector<uint8_t>& m) {
    std::string text;
    for (uint8_t v : m) text += std::to_string(v) + " ";
    write_scratch_file(name, text.data(), text.size());
}

// The source pictures the run will read, from the sample data (a gradient when there is none).
void write_sources(const decoded& d) {
    // Nothing of an earlier input may stand in for a missing picture.
    static std::vector<std::string> written;
    for (const std::string& name : written) std::remove(name.c_str());
    written.clear();
    const std::string& dir = scratch_dir();
    const int w = d.horizontal_size, h = d.vertical_size;
    const int cw = d.chroma_format == CHROMA444 ? w : w >> 1;
    const int ch = d.chroma_format == CHROMA420 ? h >> 1 : h;
    for (int frame = 0; frame < d.frame_count && frame < 4; ++frame) {
        if (frame == d.src.broken_frame) continue;
        const long long number = frame + d.first_frame_number;
        if (number < INT_MIN || number > INT_MAX) continue;
        auto sample = [&](int plane, std::size_t i) -> uint8_t {
            if (d.samples.empty()) return static_cast<uint8_t>(i * 3 + frame * 7 + plane * 50);
            return d.samples[(i + static_cast<std::size_t>(frame) * 17 + plane * 101) % d.samples.size()];
        };
        auto plane = [&](int k, int columns, int rows) {
            std::vector<uint8_t> p(static_cast<std::size_t>(columns) * rows);
            for (std::size_t i = 0; i < p.size(); ++i) p[i] = sample(k, i);
            return p;
        };
        const std::string base = dir + "/s" + std::to_string(number);
        const bool cut = frame == d.src.short_frame;
        auto write = [&](const std::string& name, std::vector<uint8_t> bytes) {
            if (cut && !bytes.empty()) bytes.pop_back();
            write_scratch_file(name, bytes.data(), bytes.size());
            written.push_back(name);
        };
        if (d.src.input_format == 0) {
            write(base + ".Y", plane(0, w, h));
            write(base + ".U", plane(1, cw, ch));
            write(base + ".V", plane(2, cw, ch));
        } else if (d.src.input_format == 1) {
            std::vector<uint8_t> all;
            for (int picture = 0; picture < d.src.yuv_pictures; ++picture)
                for (int k = 0; k < 3; ++k) {
                    std::vector<uint8_t> p = k == 0 ? plane(picture, w, h) : plane(picture + k, cw, ch);
                    all.insert(all.end(), p.begin(), p.end());
                }
            write(base + ".yuv", all);
        } else {
            std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
            std::vector<uint8_t> all(header.begin(), header.end());
            std::vector<uint8_t> rgb = plane(0, 3 * w, h);
            all.insert(all.end(), rgb.begin(), rgb.end());
            write(base + ".ppm", all);
        }
    }
}

struct outcome {
    bool complete = false;
    std::string message;  // of the fatal error
    std::string stream, statistics;
};

std::string read_whole(const std::string& name) {
    std::string out;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

outcome encode(const std::string& par, const decoded& d, unsigned simd_mask) {
    outcome o;
    const std::string stats = scratch_dir() + "/stats.txt";
    std::remove(stats.c_str());
    reset_encoder_state();
    enc.choices = d.choices;
    set_cpu_cap(simd_mask);
    char* stream = nullptr;
    std::size_t stream_size = 0;
    o.complete = survives(
        [&] {
            read_parameter_file(par.c_str());
            check_picture_patterns();
            read_quant_matrices();
            enc.files.output_file_name = "the memory stream";
            enc.files.output_file = open_memstream(&stream, &stream_size);
            if (!enc.files.output_file) broken("open_memstream failed");
            init_encoder();
            encode_sequence(1);
        },
        &o.message);
    if (enc.files.output_file) std::fclose(enc.files.output_file);
    if (stream) o.stream.assign(stream, stream_size);
    std::free(stream);
    if (enc.files.statistics_file == stdout)
        std::fflush(stdout);
    else if (enc.files.statistics_file)
        std::fclose(enc.files.statistics_file);
    enc.files.output_file = enc.files.statistics_file = nullptr;
    if (d.stats_to_file) o.statistics = read_whole(stats);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The trace and statistics on standard output are many small writes.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const decoded d = decode(data, size);
    // For a look at what an input means: MORVANE_FUZZ_SHOW=1 ./fuzz_encode input
    if (std::getenv("MORVANE_FUZZ_SHOW")) std::fprintf(stderr, "parameter file:\n%s", d.par.c_str());
    const std::string& dir = scratch_dir();
    if (!d.intra.empty()) write_matrix(dir + "/intra.mat", d.intra);
    if (!d.non_intra.empty()) write_matrix(dir + "/non_intra.mat", d.non_intra);
    write_sources(d);
    memory_file par(d.par.data(), d.par.size());

    const outcome first = encode(par.path(), d, d.simd_mask);
    if (std::getenv("MORVANE_FUZZ_SHOW"))
        std::fprintf(stderr, "\n%s\n", first.complete ? "complete" : ("fatal: " + first.message).c_str());
    if (first.complete) {
        const std::string& s = first.stream;
        if (s.size() < 8 || s.compare(0, 4, std::string("\0\0\1\xb3", 4)) != 0 ||
            s.compare(s.size() - 4, 4, std::string("\0\0\1\xb7", 4)) != 0)
            broken("a complete stream without its sequence header and end code");
    }
    const unsigned none = simd_mask_of(0);
    const outcome second = encode(par.path(), d, d.simd_mask == none ? simd_mask_of(3) : none);
    if (first.complete != second.complete || first.message != second.message)
        broken("the run ends differently at another instruction-set cap");
    if (first.stream != second.stream) broken("the stream differs at another instruction-set cap");
    if (first.statistics != second.statistics) broken("the statistics differ at another instruction-set cap");
    return 0;
}
