#include "loop/y4m_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/y4m.h"
#include "loop/source_frame.h"

namespace {

const char* chroma_text(int chroma_format) {
    return chroma_format == CHROMA420 ? "4:2:0" : chroma_format == CHROMA422 ? "4:2:2" : "4:4:4";
}

// Frame-rate codes as exact ratios, to hold a stream's F field against.
constexpr int rate_ratios[8][2] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                   {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};

class y4m_source {
public:
    explicit y4m_source(const std::string& name) : shown_(y4m_shown_name(name)) {
        if (name == "-") {
            file_ = stdin;
        } else {
            owned_ = file_handle::open(name, "rb");
            if (!owned_) fatal_error(error_text("Couldn't open %s", name.c_str()));
            file_ = owned_.get();
        }
        header_ = read_y4m_header(file_, shown_);
    }

    void check_against_parameters() const {
        const encoder_config& cfg = enc.config;
        if (header_.width != cfg.horizontal_size || header_.height != cfg.vertical_size)
            fatal_error(
                error_text("Couldn't read %s (its pictures are %dx%d; the parameter file has horizontal_size "
                           "%d and vertical_size %d)",
                           shown_.c_str(), header_.width, header_.height, cfg.horizontal_size, cfg.vertical_size));
        if (header_.chroma_format != cfg.chroma_format)
            fatal_error(
                error_text("Couldn't read %s (its chroma is %s, %s; the parameter file has chroma_format %d, %s)",
                           shown_.c_str(), header_.chroma_tag.c_str(), chroma_text(header_.chroma_format),
                           cfg.chroma_format, chroma_text(cfg.chroma_format)));
        if (header_.rate_den != 0) {
            const int* r = rate_ratios[cfg.frame_rate_code - 1];
            if (static_cast<int64_t>(header_.rate_num) * r[1] != static_cast<int64_t>(r[0]) * header_.rate_den)
                std::fprintf(stderr,
                             "Warning: %s has %s frames per second; the parameter file's frame_rate_code %d is %g\n",
                             shown_.c_str(), y4m_rate_text(header_).c_str(), cfg.frame_rate_code, cfg.frame_rate);
        }
        const char i = header_.interlace;
        if (i == 'p' && !cfg.progressive_frame)
            std::fprintf(stderr,
                         "Warning: %s is progressive (Ip); the parameter file codes interlaced frames "
                         "(progressive_frame 0)\n",
                         shown_.c_str());
        if ((i == 't' || i == 'b') && cfg.progressive_frame)
            std::fprintf(stderr,
                         "Warning: %s is interlaced (I%c); the parameter file codes progressive frames "
                         "(progressive_frame 1)\n",
                         shown_.c_str(), i);
        if ((i == 't' || i == 'b') && !cfg.progressive_frame && (i == 't') != (cfg.top_field_first != 0))
            std::fprintf(stderr,
                         "Warning: %s has the %s field first (I%c); the parameter file has top_field_first %d\n",
                         shown_.c_str(), i == 't' ? "top" : "bottom", i, cfg.top_field_first);
    }

    void load(int display_number, frame_planes frame) {
        auto waiting = std::find_if(window_.begin(), window_.end(),
                                    [&](const buffered& b) { return b.display_number == display_number; });
        if (waiting == window_.end()) {
            if (display_number < next_)
                fatal_error(error_text("Couldn't read %s (frame %d is needed again, but the stream is read once)",
                                       shown_.c_str(), display_number));
            // Frames before this one are coded after it: they wait.
            while (next_ < display_number) {
                window_.push_back({next_, read_next()});
                peak_ = std::max(peak_, static_cast<int>(window_.size()));
            }
            std::vector<uint8_t> data = read_next();
            copy_to_frame(data, frame);
            spare_.push_back(std::move(data));
            return;
        }
        copy_to_frame(waiting->data, frame);
        spare_.push_back(std::move(waiting->data));
        window_.erase(waiting);
    }

    std::string frame_name(int display_number) const { return shown_ + " frame " + std::to_string(display_number); }
    int window_frames() const { return static_cast<int>(window_.size()); }
    int window_peak() const { return peak_; }

private:
    struct buffered {
        int display_number;
        std::vector<uint8_t> data;
    };

    // The next frame of the stream, in a buffer used before when there is one.
    std::vector<uint8_t> read_next() {
        std::vector<uint8_t> data;
        if (!spare_.empty()) {
            data = std::move(spare_.back());
            spare_.pop_back();
        }
        data.resize(header_.frame_bytes());
        if (!read_y4m_frame_marker(file_, shown_, next_))
            fatal_error(
                error_text("Couldn't read %s (the stream ends after %s; the parameter file's frame_count is %d)",
                           shown_.c_str(), y4m_frames_text(next_).c_str(), enc.config.frame_count));
        const std::size_t got = std::fread(data.data(), 1, data.size(), file_);
        if (got != data.size()) {
            if (std::ferror(file_))
                fatal_error(error_text("Couldn't read %s (%s)", shown_.c_str(), std::strerror(errno)));
            fatal_error(
                error_text("Couldn't read %s (the stream ends after %s, %zu bytes into the next of %zu; the "
                           "parameter file's frame_count is %d)",
                           shown_.c_str(), y4m_frames_text(next_).c_str(), got, data.size(), enc.config.frame_count));
        }
        ++next_;
        return data;
    }

    // The planes as format 0 reads its three files: visible rows at the
    // plane's stride, then the borders extended.
    void copy_to_frame(const std::vector<uint8_t>& data, const frame_planes& frame) const {
        const encoder_config& cfg = enc.config;
        const uint8_t* from = data.data();
        for (int k = 0; k < 3; ++k) {
            const int columns = k == 0 ? cfg.horizontal_size : chroma_columns();
            const int rows = k == 0 ? cfg.vertical_size : chroma_rows();
            const int stride = k == 0 ? cfg.width : cfg.chrom_width;
            for (int r = 0; r < rows; ++r, from += columns)
                std::memcpy(frame[k] + static_cast<std::size_t>(r) * stride, from, static_cast<std::size_t>(columns));
            extend_borders(frame[k], columns, rows, stride, k == 0 ? cfg.height : cfg.chrom_height);
        }
    }

    std::string shown_;
    file_handle owned_;
    std::FILE* file_ = nullptr;
    y4m_header header_;
    int next_ = 0;  // display number of the next frame in the stream
    // With reference distance M the coding order takes at most M - 1 frames
    // before their turn, so the window never holds more than that.
    std::vector<buffered> window_;
    std::vector<std::vector<uint8_t>> spare_;
    int peak_ = 0;
};

std::unique_ptr<y4m_source> source_stream;

}  // namespace

void open_source_stream(const std::string& name) {
    source_stream.reset();
    source_stream = std::make_unique<y4m_source>(name);
    source_stream->check_against_parameters();
}

bool source_stream_open() { return source_stream != nullptr; }
void close_source_stream() { source_stream.reset(); }

void load_stream_frame(int display_number, frame_planes frame) { source_stream->load(display_number, frame); }
std::string stream_frame_name(int display_number) { return source_stream->frame_name(display_number); }
int stream_window_frames() { return source_stream ? source_stream->window_frames() : 0; }
int stream_window_peak() { return source_stream ? source_stream->window_peak() : 0; }
