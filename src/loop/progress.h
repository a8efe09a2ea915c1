// --progress: a status line on stderr while the sequence is coded (frames
// done of all, frames per second, average bit rate so far, time left) and a
// summary at the end. The text is formed apart from the clock and the
// terminal, so tests drive it with times of their own.
#pragma once

#include <cstdint>
#include <string>

#include "driver/frame_planes.h"

class progress_meter {
public:
    // terminal: the line is rewritten in place; otherwise a line is printed
    // at most once a second. Times are seconds on any steady clock.
    progress_meter(int total_frames, double frame_rate, bool terminal, double start);

    // After each coded frame, with the stream's bits so far and the frame's
    // luminance PSNR: the text to write now, often nothing.
    std::string frame_done(double now, int64_t stream_bits, double luma_psnr);
    // The closing summary, ending any status line first.
    std::string summary(double now, int64_t stream_bytes) const;
    // A status line stands on the terminal without its line end.
    bool line_open() const { return shown_length_ > 0; }

private:
    std::string status_line(double now, int64_t stream_bits) const;

    int total_;
    double frame_rate_;
    bool terminal_;
    double start_, last_shown_;
    int done_ = 0;
    double psnr_sum_ = 0.0;
    std::size_t shown_length_ = 0;  // of the line on the terminal now
};

// "0:07", "12:34", "1:02:03": whole seconds, rounded.
std::string format_duration(double seconds);

// Peak signal-to-noise ratio of the visible luminance of a frame, in dB; a
// perfect frame counts as an error of 0.00001, as in the statistics.
double frame_luma_psnr(frame_planes source, frame_planes reconstruction);

// The run's meter, driven by the loop and main when --progress is given.
void start_progress();
// A frame's luminance PSNR is measured apart from its report: the next
// frame's source may overwrite the frame's before the report goes out.
double progress_measure(frame_planes source, frame_planes reconstruction);
void progress_frame_done(double luma_psnr);
// Writes the summary; the stream is complete and closed by then.
void finish_progress(int64_t stream_bytes);
// Ends an open status line, so that a fatal message stands on a line of its own.
void interrupt_progress();
