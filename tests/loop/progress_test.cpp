// The --progress status line and summary, driven by a clock of the test's
// own: what each line says, when one is due, how a terminal line is
// rewritten, and the luminance PSNR it averages.
#include "loop/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "driver/encoder_state.h"
#include "picture_setup.h"

namespace {

// Each frame adds 40000 bits (1000 kbit/s at 25 Hz) and has a PSNR of 40 + its number.
std::vector<std::string> run_meter(progress_meter& m, const std::vector<double>& times) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < times.size(); ++i)
        texts.push_back(m.frame_done(times[i], 40000 * static_cast<int64_t>(i + 1), 40.0 + static_cast<double>(i)));
    return texts;
}

TEST(progress_meter, log_gets_a_line_at_most_once_a_second) {
    progress_meter m(10, 25.0, false, 100.0);
    const std::vector<std::string> texts = run_meter(m, {100.3, 100.6, 101.1, 101.5, 102.0, 102.15, 103.4, 103.9});
    const std::vector<std::string> expected = {
        "",
        "",
        "frame 3/10, 2.7 fps, 1000 kbit/s, 0:03 left\n",
        "",
        "",
        "frame 6/10, 2.8 fps, 1000 kbit/s, 0:01 left\n",
        "frame 7/10, 2.1 fps, 1000 kbit/s, 0:01 left\n",
        "",
    };
    EXPECT_EQ(texts, expected);
}

TEST(progress_meter, log_leaves_the_last_frame_to_the_summary) {
    progress_meter m(2, 25.0, false, 0.0);
    EXPECT_EQ(m.frame_done(5.0, 40000, 40.0), "frame 1/2, 0.2 fps, 1000 kbit/s, 0:05 left\n");
    EXPECT_EQ(m.frame_done(10.0, 80000, 42.0), "");
    EXPECT_FALSE(m.line_open());
    EXPECT_EQ(m.summary(10.25, 10000),
              "encoded 2 frames in 10.2 s: 10000 bytes, 1000.0 kbit/s on average, "
              "mean luminance PSNR 41.00 dB\n");
}

TEST(progress_meter, terminal_line_is_rewritten_in_place_and_wiped) {
    progress_meter m(12, 25.0, true, 0.0);
    // Frame 1 at 0.05 s: too soon after the start. Frame 2 long after: a
    // shorter line, so blanks cover the rest of the longer one.
    EXPECT_EQ(m.frame_done(0.05, 40000, 40.0), "");
    EXPECT_EQ(m.frame_done(0.2, 80000, 40.0), "\rframe 2/12, 10.0 fps, 1000 kbit/s, 0:01 left");
    EXPECT_TRUE(m.line_open());
    EXPECT_EQ(m.frame_done(0.25, 120000, 40.0), "");
    EXPECT_EQ(m.frame_done(400.0, 4000, 40.0), "\rframe 4/12, 0.0 fps, 25 kbit/s, 13:20 left  ");
    EXPECT_EQ(m.summary(401.0, 500),
              "\nencoded 4 frames in 401.0 s: 500 bytes, 25.0 kbit/s on average, mean "
              "luminance PSNR 40.00 dB\n");
}

TEST(progress_meter, terminal_shows_the_last_frame_however_soon) {
    progress_meter m(2, 50.0, true, 0.0);
    EXPECT_EQ(m.frame_done(0.01, 8000, 30.0), "");
    EXPECT_EQ(m.frame_done(0.02, 16000, 30.0), "\rframe 2/2, 100.0 fps, 400 kbit/s, 0:00 left");
}

TEST(progress_meter, summary_of_no_frames_has_no_rates) {
    progress_meter m(0, 25.0, true, 3.0);
    EXPECT_EQ(m.summary(3.04, 14), "encoded 0 frames in 0.0 s: 14 bytes\n");
    progress_meter one(1, 25.0, false, 0.0);
    EXPECT_EQ(one.frame_done(1.0, 800, 50.0), "");
    EXPECT_EQ(one.summary(2.0, 100),
              "encoded 1 frame in 2.0 s: 100 bytes, 20.0 kbit/s on average, mean luminance "
              "PSNR 50.00 dB\n");
}

TEST(progress_meter, time_left_is_unknown_before_time_has_passed) {
    // Only reachable with a clock that stands still; the line must still read.
    progress_meter t(3, 25.0, true, 7.0);
    t.frame_done(7.0, 0, 40.0);
    EXPECT_EQ(t.frame_done(7.0, 0, 40.0), "");
    EXPECT_EQ(t.frame_done(7.0, 0, 40.0), "\rframe 3/3, 0.0 fps, 0 kbit/s, time left unknown");
}

TEST(format_duration, rounds_to_whole_seconds) {
    const std::pair<double, const char*> cases[] = {{0.0, "0:00"},       {0.49, "0:00"},   {7.6, "0:08"},
                                                    {59.5, "1:00"},      {754.0, "12:34"}, {3599.4, "59:59"},
                                                    {3723.0, "1:02:03"}, {-5.0, "0:00"},   {360000.0, "100:00:00"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(format_duration(seconds), text) << seconds;
}

TEST(frame_luma_psnr, measures_the_visible_luminance) {
    // 20 x 10 visible in 32 x 16 planes; the padding must not count.
    morvane_test::start_encoder({20, 10, CHROMA420});
    frame_planes a = enc.buffers.new_org_frame, b = enc.buffers.new_ref_frame;
    for (int i = 0; i < enc.config.width * enc.config.height; ++i) a[0][i] = b[0][i] = 100;
    EXPECT_NEAR(frame_luma_psnr(a, b), 10 * std::log10(65025.0 / 0.00001), 1e-9);
    for (int r = 10; r < 16; ++r) b[0][r * 32] = 0;  // below the picture
    for (int c = 20; c < 32; ++c) b[0][c] = 0;       // right of it
    EXPECT_NEAR(frame_luma_psnr(a, b), 10 * std::log10(65025.0 / 0.00001), 1e-9);
    b[0][0] = 110;  // one error of 10 in 200 samples: MSE 0.5
    EXPECT_NEAR(frame_luma_psnr(a, b), 10 * std::log10(65025.0 / 0.5), 1e-9);
}

}  // namespace
