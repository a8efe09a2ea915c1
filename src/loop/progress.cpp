#include "loop/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "bitstream/bit_writer.h"
#include "driver/encoder_state.h"

namespace {

// A terminal line changes at most this often, so a fast encode does not
// spend its time redrawing it.
constexpr double terminal_interval = 0.1;
constexpr double log_interval = 1.0;

std::string printed(const char* format, double a, double b) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

progress_meter::progress_meter(int total_frames, double frame_rate, bool terminal, double start)
    : total_(total_frames), frame_rate_(frame_rate), terminal_(terminal), start_(start), last_shown_(start) {}

std::string progress_meter::status_line(double now, int64_t stream_bits) const {
    const double elapsed = now - start_;
    const double fps = elapsed > 0.0 ? done_ / elapsed : 0.0;
    const double kbits = done_ > 0 ? stream_bits * frame_rate_ / done_ / 1000.0 : 0.0;
    std::string line = "frame " + std::to_string(done_) + "/" + std::to_string(total_) + ", " +
                       printed("%.1f fps, %.0f kbit/s, ", fps, kbits);
    line += fps > 0.0 ? format_duration((total_ - done_) / fps) + " left" : "time left unknown";
    return line;
}

std::string progress_meter::frame_done(double now, int64_t stream_bits, double luma_psnr) {
    ++done_;
    psnr_sum_ += luma_psnr;
    const bool last = done_ == total_;
    if (terminal_) {
        if (!last && now - last_shown_ < terminal_interval) return "";
        last_shown_ = now;
        std::string line = status_line(now, stream_bits);
        const std::size_t length = line.size();
        // Blanks wipe what a longer line before it left.
        if (length < shown_length_) line.append(shown_length_ - length, ' ');
        shown_length_ = length;
        return "\r" + line;
    }
    if (last || now - last_shown_ < log_interval) return "";
    last_shown_ = now;
    return status_line(now, stream_bits) + "\n";
}

std::string progress_meter::summary(double now, int64_t stream_bytes) const {
    std::string text = shown_length_ > 0 ? "\n" : "";
    text += "encoded " + std::to_string(done_) + (done_ == 1 ? " frame" : " frames") +
            printed(" in %.1f s: %.0f bytes", now - start_, static_cast<double>(stream_bytes));
    if (done_ > 0)
        text += printed(", %.1f kbit/s on average, mean luminance PSNR %.2f dB",
                        8.0 * stream_bytes * frame_rate_ / done_ / 1000.0, psnr_sum_ / done_);
    return text + "\n";
}

std::string format_duration(double seconds) {
    const long long s = std::llround(std::max(seconds, 0.0));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

double frame_luma_psnr(frame_planes source, frame_planes reconstruction) {
    const encoder_config& cfg = enc.config;
    double sum = 0.0;
    for (int r = 0; r < cfg.vertical_size; ++r) {
        const uint8_t* a = source[0] + static_cast<std::size_t>(r) * cfg.width;
        const uint8_t* b = reconstruction[0] + static_cast<std::size_t>(r) * cfg.width;
        int64_t row = 0;
        for (int c = 0; c < cfg.horizontal_size; ++c) {
            const int d = a[c] - b[c];
            row += d * d;
        }
        sum += static_cast<double>(row);
    }
    double mse = sum / (static_cast<double>(cfg.horizontal_size) * cfg.vertical_size);
    if (mse == 0.0) mse = 0.00001;
    return 10.0 * std::log10(65025.0 / mse);
}

namespace {

std::unique_ptr<progress_meter> meter;

double clock_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void write_text(const std::string& text) {
    if (text.empty()) return;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

void start_progress() {
    meter = std::make_unique<progress_meter>(enc.config.frame_count, enc.config.frame_rate, isatty(STDERR_FILENO) == 1,
                                             clock_seconds());
}

double progress_measure(frame_planes source, frame_planes reconstruction) {
    return meter ? frame_luma_psnr(source, reconstruction) : 0.0;
}

void progress_frame_done(double luma_psnr) {
    if (!meter) return;
    write_text(meter->frame_done(clock_seconds(), bitcount(), luma_psnr));
}

void interrupt_progress() {
    if (meter && meter->line_open()) write_text("\n");
    meter.reset();
}

void finish_progress(int64_t stream_bytes) {
    if (!meter) return;
    write_text(meter->summary(clock_seconds(), stream_bytes));
    meter.reset();
}
