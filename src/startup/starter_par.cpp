#include "startup/starter_par.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/coding_types.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/parameter_checks.h"
#include "driver/parameter_file.h"

namespace {

// The shipped parameter files a starter takes its coding choices from: the
// bit rate as bits per luminance sample, GOP structure and motion lines.
struct example_choice {
    const char* name;
    int width, height;
    double bit_rate;  // at 25 frames per second
    const char* motion[5];
};

constexpr example_choice examples[] = {
    {"the CIF example", 352, 288, 1500000.0, {"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 7 7", "1 1 3 3"}},
    {"the SD benchmark", 720, 576, 6000000.0, {"2 2 15 15", "1 1 7 7", "2 2 15 15", "2 2 15 15", "1 1 7 7"}},
    {"the HD benchmark", 1920, 1080, 20000000.0, {"3 3 31 31", "2 2 15 15", "3 3 31 31", "3 3 31 31", "2 2 15 15"}},
};

constexpr const char* motion_comments[5] = {
    "P: forward f_codes (hor, vert) and search widths", "B at distance 1: forward f_codes and widths",
    "B at distance 1: backward f_codes and widths",     "B at distance 2: forward f_codes and widths",
    "B at distance 2: backward f_codes and widths",
};

// Frame-rate codes 1..8 as exact ratios.
constexpr int rate_ratios[8][2] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                   {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};

// A bit rate of fewer bits than this per second leaves small pictures blocky.
constexpr double lowest_bit_rate = 300000.0;
constexpr double vbv_seconds = 0.5;

[[noreturn]] void cannot(const std::string& stream, const std::string& problem) {
    fatal_error("Couldn't make a parameter file for " + stream + " (" + problem + ")");
}

std::string number(double v, const char* format = "%g") {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

int frame_rate_code_for(const y4m_header& h, const std::string& stream, std::vector<std::string>& notes) {
    if (h.rate_den == 0) {
        notes.push_back(stream + " gives no frame rate: 25 frames per second (frame_rate_code 3) assumed");
        return 3;
    }
    for (int code = 1; code <= 8; ++code)
        if (static_cast<int64_t>(h.rate_num) * rate_ratios[code - 1][1] ==
            static_cast<int64_t>(rate_ratios[code - 1][0]) * h.rate_den)
            return code;
    const double rate = static_cast<double>(h.rate_num) / h.rate_den;
    int best = 1;
    for (int code = 2; code <= 8; ++code)
        if (std::fabs(std::log(frame_rate_table[code - 1] / rate)) <
            std::fabs(std::log(frame_rate_table[best - 1] / rate)))
            best = code;
    notes.push_back(y4m_rate_text(h) + " frames per second has no MPEG-2 code: frame_rate_code " +
                    std::to_string(best) + " (" + number(frame_rate_table[best - 1]) +
                    ") is the nearest, and the stream will play at that rate");
    return best;
}

// aspect_ratio_information: 1 square samples, 2 4:3, 3 16:9, 4 2.21:1 display.
int aspect_code_for(const y4m_header& h, const std::string& stream, std::vector<std::string>& notes) {
    if (h.aspect_num == 0 || h.aspect_den == 0 || h.aspect_num == h.aspect_den) return 1;
    const double display = static_cast<double>(h.width) * h.aspect_num / (static_cast<double>(h.height) * h.aspect_den);
    const std::pair<double, int> shapes[] = {{4.0 / 3.0, 2}, {16.0 / 9.0, 3}, {2.21, 4}};
    // 3 %: the sample aspects of 720-wide video describe its middle 704 samples.
    for (auto [shape, code] : shapes)
        if (std::fabs(display / shape - 1.0) < 0.03) return code;
    notes.push_back(stream + " has samples of aspect " + std::to_string(h.aspect_num) + ":" +
                    std::to_string(h.aspect_den) + ", a display shape MPEG-2 cannot signal: square samples written");
    return 1;
}

struct profile_level {
    int profile, level;
    std::string name;
};

// The lowest level of the lowest profile that admits the pictures; the
// reserved profile 8, which skips the checks, where none does.
profile_level profile_level_for(const y4m_header& h, int rate_code, std::vector<std::string>& notes) {
    const double samples = static_cast<double>(h.width) * h.height * frame_rate_table[rate_code - 1];
    struct candidate {
        int profile, level;
        const char* name;
    };
    static const candidate for_420[] = {{4, 10, "Main profile at Low level"},
                                        {4, 8, "Main profile at Main level"},
                                        {4, 6, "Main profile at High 1440 level"},
                                        {4, 4, "Main profile at High level"}};
    static const candidate for_422[] = {{1, 8, "High profile at Main level"},
                                        {1, 6, "High profile at High 1440 level"},
                                        {1, 4, "High profile at High level"}};
    if (h.chroma_format != CHROMA444) {
        const bool is_420 = h.chroma_format == CHROMA420;
        const candidate* begin = is_420 ? std::begin(for_420) : std::begin(for_422);
        const candidate* end = is_420 ? std::end(for_420) : std::end(for_422);
        for (const candidate* c = begin; c != end; ++c) {
            const level_limits& l = limits_of_level(c->level);
            if (h.width <= l.horizontal_size && h.height <= l.vertical_size && samples <= l.sample_rate &&
                (c->level < 8 || rate_code <= 5))
                return {c->profile, c->level, c->name};
        }
        notes.push_back("no MPEG-2 level admits " + std::to_string(h.width) + "x" + std::to_string(h.height) + " at " +
                        number(frame_rate_table[rate_code - 1]) +
                        " frames per second: profile 8 (reserved) skips the conformance checks, and fewer players "
                        "take the stream");
    } else {
        notes.push_back(
            "no MPEG-2 profile has 4:4:4: profile 8 (reserved) skips the conformance checks, and fewer "
            "players take the stream");
    }
    return {8, 4, "reserved profile 8"};
}

void check_size(const y4m_header& h, const std::string& stream) {
    const std::string crop = "; crop or scale it first, as ffmpeg -vf crop=";
    if (h.width > 16383 || h.height > 16383)
        cannot(stream, "its pictures of " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                           " are larger than MPEG-2 allows, 16383x16383");
    if (h.width % 4096 == 0 || h.height % 4096 == 0)
        cannot(stream, "MPEG-2 cannot code a width or height that is a multiple of 4096" + crop + "iw-16:ih-16");
    if (h.chroma_format != CHROMA444 && h.width % 2)
        cannot(stream, "its width " + std::to_string(h.width) + " is odd, and " + h.chroma_tag +
                           " needs an even width" + crop + std::to_string(h.width - 1) + ":ih");
    if (h.chroma_format == CHROMA420 && h.height % 2)
        cannot(stream, "its height " + std::to_string(h.height) + " is odd, and " + h.chroma_tag +
                           " needs an even height" + crop + "iw:" + std::to_string(h.height - 1));
}

struct line_writer {
    std::string text;
    // One line: the value, then a comment from column 18 on.
    void operator()(const std::string& value, const std::string& comment) {
        std::string v = value;
        if (v.size() < 17) v.resize(17, ' ');
        text += v + "-- " + comment + "\n";
    }
};

// The file name of a path, for the stream's user data line.
std::string base_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name the parameter file can hold: one word, well inside its line length.
bool usable_name(const std::string& name) {
    if (name.empty() || name.size() > 200 || name[0] == '-') return false;
    for (char c : name)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return false;
    return true;
}

}  // namespace

std::string starter_statistics_name(const std::string& par_name) {
    std::string stem = par_name;
    const std::size_t slash = stem.rfind('/');
    const std::size_t dot = stem.rfind('.');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    // A leading dot names a hidden file, not an extension.
    if (dot != std::string::npos && dot > name_start) stem.resize(dot);
    const std::string name = stem + ".stats.txt";
    return usable_name(name) ? name : "stats.txt";
}

starter_file starter_parameters(const y4m_header& h, int64_t frames, const std::string& stream_name,
                                const std::string& statistics_name) {
    starter_file file;
    std::vector<std::string>& notes = file.notes;
    check_size(h, stream_name);
    if (frames > INT_MAX) cannot(stream_name, "it holds more frames than a parameter file counts");
    const int rate_code = frame_rate_code_for(h, stream_name, notes);
    const double rate = frame_rate_table[rate_code - 1];
    const profile_level pl = profile_level_for(h, rate_code, notes);
    const bool interlaced = h.interlace == 't' || h.interlace == 'b';
    if (h.interlace == 'm')
        notes.push_back(stream_name + " mixes progressive and interlaced frames: coded progressive");
    if (frames == 0) notes.push_back(stream_name + " holds no frames");

    // The example closest in picture area.
    const double area = static_cast<double>(h.width) * h.height;
    const example_choice* ex = &examples[0];
    for (const example_choice& e : examples)
        if (std::fabs(std::log(area / (e.width * e.height))) < std::fabs(std::log(area / (ex->width * ex->height))))
            ex = &e;
    // Bits per luminance sample of the example; 4:2:2 and 4:4:4 carry a third and twice as many samples more.
    const double chroma_share = h.chroma_format == CHROMA420 ? 1.0 : h.chroma_format == CHROMA422 ? 4.0 / 3.0 : 2.0;
    double bit_rate = ex->bit_rate / (ex->width * ex->height * 25.0) * area * rate * chroma_share;
    bit_rate = std::max(lowest_bit_rate, std::round(bit_rate / 1000.0) * 1000.0);
    if (pl.profile != 8) bit_rate = std::min(bit_rate, limits_of_level(pl.level).bit_rate * 1000000.0);
    // Half a second of the stream: the decoder then starts 7/16 s after the
    // first bits, inside the longest delay a picture header can carry (0.73 s).
    int vbv_buffer_size = std::max(1, static_cast<int>(bit_rate * vbv_seconds / 16384.0));
    if (pl.profile != 8) vbv_buffer_size = std::min(vbv_buffer_size, limits_of_level(pl.level).vbv_buffer_size);
    const bool ntsc_like = rate_ratios[rate_code - 1][1] == 1001 || rate_code == 5 || rate_code == 8;
    const bool high_definition = h.height > 576;
    const std::string colour = high_definition ? "1" : ntsc_like ? "6" : "5";
    const std::string N = std::to_string(rate <= 25.5 ? 12 : rate <= 30.5 ? 15 : rate <= 50.5 ? 24 : 30);
    const char* chroma_name = h.chroma_format == CHROMA420 ? "4:2:0" : h.chroma_format == CHROMA422 ? "4:2:2" : "4:4:4";

    line_writer line;
    std::string id = "morvane starter parameters for " + base_name(stream_name);
    if (id.size() > 200) id.resize(200);
    line.text = id + "\n";
    line("-", "source names: not used, the pictures come from --input");
    line("-", "reconstruction names (as rec%d), - for none");
    line("-", "intra matrix file, - for the default");
    line("-", "non-intra matrix file, - for the default");
    line(statistics_name, "statistics file, - for standard output");
    line("0", "source format of per-frame files: not used with --input");
    line(std::to_string(frames), "frames to encode: all of the stream");
    line("0", "number of the first frame");
    line("00:00:00:00", "time code of the first frame");
    line(N, "N: frames per GOP");
    line("3", "M: distance between reference frames");
    line("0", "1 for an MPEG-1 stream");
    line("0", "1 to code field pictures");
    line(std::to_string(h.width), "horizontal size");
    line(std::to_string(h.height), "vertical size");
    line(std::to_string(aspect_code_for(h, stream_name, notes)),
         "aspect ratio code (1 square samples, 2 4:3, 3 16:9, 4 2.21:1)");
    line(std::to_string(rate_code), "frame rate code (" + number(rate) + " Hz)");
    line(number(bit_rate, "%.1f"), "bit rate, bit/s (as " + std::string(ex->name) + ", per sample)");
    line(std::to_string(vbv_buffer_size), "VBV buffer size, units of 16384 bits");
    line("0", "low delay");
    line("0", "constrained parameters flag");
    line(std::to_string(pl.profile), "profile (" + pl.name + ")");
    line(std::to_string(pl.level), "level");
    line(interlaced ? "0" : "1", "progressive sequence");
    line(std::to_string(h.chroma_format), std::string("chroma format (") + chroma_name + ")");
    line(high_definition ? "0" : ntsc_like ? "2" : "1", "video format (0 component, 1 PAL, 2 NTSC)");
    line(colour, "colour primaries (1 BT.709, 5 BT.470 B/G, 6 SMPTE 170M)");
    line(colour, "transfer characteristics");
    line(colour, "matrix coefficients");
    line(std::to_string(h.width), "display width");
    line(std::to_string(h.height), "display height");
    line("0", "intra DC precision (0 = 8 bits)");
    line(h.interlace == 't' ? "1" : "0", "top field first");
    line(interlaced ? "0 0 0" : "1 1 1", "frame_pred_frame_dct for I, P, B");
    line("0 0 0", "concealment vectors for I, P, B");
    line("0 0 0", "q_scale_type for I, P, B");
    line("0 0 0", "intra_vlc_format for I, P, B");
    line("0 0 0", "alternate_scan for I, P, B");
    line("0", "repeat first field");
    line(interlaced ? "0" : "1", "progressive frame");
    line("0", "(not used)");
    line("0", "rate control r, 0 for the default");
    line("0.0", "rate control avg_act, 0 for the default");
    for (const char* name : {"Xi", "Xp", "Xb", "d0i", "d0p", "d0b"}) line("0", std::string("rate control ") + name);
    for (int k = 0; k < 5; ++k) line(ex->motion[k], motion_comments[k]);
    file.text = line.text;
    file.summary = std::to_string(h.width) + "x" + std::to_string(h.height) + " " + chroma_name + ", " +
                   (interlaced ? (h.interlace == 't' ? "interlaced top field first" : "interlaced bottom field first")
                               : "progressive") +
                   ", " + number(rate) + " frames per second, " + y4m_frames_text(frames) + "; " + pl.name + ", " +
                   number(bit_rate / 1000.0) + " kbit/s, N " + N + ", M 3, coding choices of " + ex->name;
    return file;
}

void make_starter_parameters(const std::string& input_name, const std::string& par_name) {
    const std::string shown = y4m_shown_name(input_name);
    file_handle owned;
    std::FILE* f = stdin;
    if (input_name != "-") {
        owned = file_handle::open(input_name, "rb");
        if (!owned) fatal_error(error_text("Couldn't open %s", input_name.c_str()));
        f = owned.get();
    }
    const y4m_header header = read_y4m_header(f, shown);
    std::vector<std::string> stream_notes;
    // Counting means reading every frame: a pipe cannot be measured otherwise.
    std::vector<char> frame(header.frame_bytes());
    int64_t frames = 0;
    while (read_y4m_frame_marker(f, shown, frames)) {
        const std::size_t got = std::fread(frame.data(), 1, frame.size(), f);
        if (std::ferror(f)) fatal_error(error_text("Couldn't read %s (%s)", shown.c_str(), std::strerror(errno)));
        if (got != frame.size()) {
            stream_notes.push_back(shown + " ends inside the frame after " + y4m_frames_text(frames) +
                                   ": that frame is left out");
            break;
        }
        ++frames;
    }
    owned.reset();

    starter_file file = starter_parameters(header, frames, shown, starter_statistics_name(par_name));
    file.notes.insert(file.notes.begin(), stream_notes.begin(), stream_notes.end());
    std::FILE* out = std::fopen(par_name.c_str(), "wx");
    if (!out) {
        if (errno == EEXIST)
            fatal_error(
                error_text("Couldn't write %s (it exists already: remove it or name another file)", par_name.c_str()));
        fatal_error(error_text("Couldn't create %s", par_name.c_str()));
    }
    const bool written = std::fputs(file.text.c_str(), out) >= 0;
    if (!file_handle(out).close() || !written) {
        std::remove(par_name.c_str());
        fatal_error(error_text("Couldn't write %s", par_name.c_str()));
    }
    // Read back as an encode reads it, so that a mistake shows now.
    try {
        read_parameter_file(par_name.c_str());
    } catch (const fatal_exit& e) {
        std::remove(par_name.c_str());
        fatal_error(error_text("Couldn't make a parameter file for %s (%s)", shown.c_str(), e.message.c_str()));
    }

    std::printf("wrote %s for %s: %s\n", par_name.c_str(), shown.c_str(), file.summary.c_str());
    for (const std::string& note : file.notes) std::printf("note: %s\n", note.c_str());
    std::printf("encode with: morvane --input=%s %s out.m2v%s\n", input_name.c_str(), par_name.c_str(),
                input_name == "-" ? " (the stream piped in once more)" : "");
}
