#include "ratecontrol/vbv.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "rc_test_support.h"

using rc_test::set_bitcount;
using rc_test::start_state;
using rc_test::statistics_capture;

namespace {

struct picture {
    int pict_type;
    int picture_structure;
};

// Runs compute_vbv_delay for each picture in turn (nothing written between
// them) and returns the decoding time after each; the buffer warnings that
// such a run gives are not looked at.
std::vector<double> decoding_times(const std::vector<picture>& pictures) {
    std::vector<double> times;
    ::testing::internal::CaptureStderr();
    for (const picture& p : pictures) {
        enc.picture.pict_type = p.pict_type;
        enc.picture.picture_structure = p.picture_structure;
        compute_vbv_delay(bitcount());
        times.push_back(enc.run.vbv.decoding_time);
    }
    ::testing::internal::GetCapturedStderr();
    return times;
}

void start_vbv(statistics_capture& stats, double bit_rate, double frame_rate, int vbv_buffer_size) {
    start_state({}, bit_rate, frame_rate, stats);
    enc.config.vbv_buffer_size = vbv_buffer_size;
    enc.config.repeat_first_field = 0;
    enc.config.top_field_first = 0;
}

TEST(VbvDelay, FirstPictureWaitsForSevenEighthsOfTheBuffer) {
    statistics_capture stats;
    start_vbv(stats, 5000000.0, 25.0, 112);
    enc.picture.pict_type = 1;
    set_bitcount(1000);
    ::testing::internal::CaptureStderr();
    compute_vbv_delay(bitcount());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // (112 x 16384 x 7 / 8) x 90000 / 5e6 = 28901.376 ticks, less 1000 bits = 18 ticks
    EXPECT_DOUBLE_EQ(enc.run.vbv.decoding_time, 28901.376);
    EXPECT_EQ(enc.run.vbv.vbv_delay, 28883);
    EXPECT_EQ(stats.take(), "\nvbv_delay=28883 (bitcount=1000, decoding_time=28901.38, bitcnt_EOP=0)\n");
}

struct duration_case {
    const char* name;
    int progressive_sequence, field_pictures, repeat_first_field, top_field_first;
    std::vector<picture> pictures;
    double step;  // ticks added by every picture after the first
};

TEST(VbvDelay, EveryPictureAddsItsDisplayDuration) {
    const std::vector<picture> ipbb = {{1, 3}, {2, 3}, {3, 3}, {3, 3}, {2, 3}};
    const duration_case cases[] = {
        {"progressive", 1, 0, 0, 0, ipbb, 3600.0},
        {"progressive, repeat_first_field", 1, 0, 1, 0, ipbb, 7200.0},
        {"progressive, repeat_first_field, top first", 1, 0, 1, 1, ipbb, 10800.0},
        {"interlaced frames", 0, 0, 0, 1, ipbb, 3600.0},
        {"interlaced frames, repeat_first_field", 0, 0, 1, 1, ipbb, 5400.0},
        {"fields, top first", 0, 1, 0, 1, {{1, 1}, {2, 2}, {2, 1}, {2, 2}, {3, 1}, {3, 2}, {2, 1}, {2, 2}}, 1800.0},
        {"fields, bottom first", 0, 1, 0, 0, {{1, 2}, {2, 1}, {3, 2}, {3, 1}, {2, 2}, {2, 1}}, 1800.0},
    };
    for (const duration_case& c : cases) {
        statistics_capture stats;
        start_vbv(stats, 5000000.0, 25.0, 112);
        enc.config.progressive_sequence = c.progressive_sequence;
        enc.config.field_pictures = c.field_pictures;
        enc.config.repeat_first_field = c.repeat_first_field;
        enc.config.top_field_first = c.top_field_first;
        std::vector<double> times = decoding_times(c.pictures);
        EXPECT_DOUBLE_EQ(times[0], 28901.376) << c.name;
        for (std::size_t i = 1; i < times.size(); ++i)
            EXPECT_NEAR(times[i] - times[i - 1], c.step, 1e-6) << c.name << ", picture " << i;
    }
}

TEST(VbvDelay, FieldPicturesStartFromAWholeTickFramePeriod) {
    statistics_capture stats;
    start_vbv(stats, 5000000.0, 30000.0 / 1001.0, 112);
    enc.config.progressive_sequence = 0;
    enc.config.field_pictures = 1;
    enc.config.top_field_first = 1;
    std::vector<double> times = decoding_times({{1, 1}});
    EXPECT_EQ(enc.run.vbv.next_ip_delay, 3003.0);  // floor(90000 x 1001 / 30000 + 0.5)
    times = decoding_times({{2, 2}});
    EXPECT_NEAR(times[0] - 28901.376, 3003.0 - 1501.5, 1e-6);
    EXPECT_NEAR(enc.run.vbv.next_ip_delay, 3003.0, 1e-9);
}

TEST(VbvDelay, ReferenceFramesCarryThePreviousReferenceDuration) {
    // An I frame shown for three fields, then a B frame and a P frame shown
    // for two: the P frame adds the I frame's duration.
    statistics_capture stats;
    start_vbv(stats, 5000000.0, 25.0, 112);
    enc.config.progressive_sequence = 0;
    enc.config.repeat_first_field = 1;
    decoding_times({{1, 3}});
    enc.config.repeat_first_field = 0;
    std::vector<double> times = decoding_times({{3, 3}, {2, 3}, {2, 3}});
    EXPECT_NEAR(times[0] - 28901.376, 3600.0, 1e-6);
    EXPECT_NEAR(times[1] - times[0], 5400.0, 1e-6);
    EXPECT_NEAR(times[2] - times[1], 3600.0, 1e-6);
}

// At 90000 bit/s a bit takes one tick; a buffer of 1 x 16384 bits starts with
// 14336 ticks, and at 25 Hz a P frame adds 3600.
struct check_case {
    const char* name;
    int low_delay;
    int64_t first_end;  // bit count at the end of the first picture
    int64_t bits;       // bit count at the second picture start code
    const char* warnings;
    const char* line;
    int vbv_delay;
};

TEST(VbvDelay, BufferChecksWarnAndClampTheWrittenValue) {
    const check_case cases[] = {
        {"in range", 0, 10000, 10008, "",
         "\nvbv_delay=7928 (bitcount=10008, decoding_time=17936.00, bitcnt_EOP=10000)\n", 7928},
        {"late end of previous picture", 0, 20000, 20032,
         "vbv_delay underflow! (decoding_time=14336.0, t_EOP=20000.0\n)vbv_delay underflow: -2096\n",
         "\nvbv_delay=-2096 (bitcount=20032, decoding_time=17936.00, bitcnt_EOP=20000)\n", 0},
        {"late end, low delay", 1, 20000, 20032, "vbv_delay underflow: -2096\n",
         "\nvbv_delay=-2096 (bitcount=20032, decoding_time=17936.00, bitcnt_EOP=20000)\n", 0},
        {"buffer overfull", 0, 8, 16, "vbv_delay overflow!\n",
         "\nvbv_delay=17920 (bitcount=16, decoding_time=17936.00, bitcnt_EOP=8)\n", 17920},
        {"buffer overfull, low delay", 1, 8, 16, "vbv_delay overflow!\n",
         "\nvbv_delay=17920 (bitcount=16, decoding_time=17936.00, bitcnt_EOP=8)\n", 17920},
    };
    for (const check_case& c : cases) {
        statistics_capture stats;
        start_vbv(stats, 90000.0, 25.0, 1);
        enc.config.low_delay = c.low_delay;
        enc.picture.pict_type = 1;
        compute_vbv_delay(bitcount());
        set_bitcount(c.first_end);
        vbv_end_of_picture(bitcount());
        stats.take();

        enc.picture.pict_type = 2;
        set_bitcount(c.bits);
        ::testing::internal::CaptureStderr();
        compute_vbv_delay(bitcount());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.warnings) << c.name;
        EXPECT_EQ(stats.take(), c.line) << c.name;
        EXPECT_EQ(enc.run.vbv.vbv_delay, c.vbv_delay) << c.name;
    }
}

TEST(VbvDelay, ValuesOutsideTheSixteenBitFieldAreClamped) {
    struct {
        int vbv_buffer_size;
        int64_t bits;
        const char* warnings;
        int vbv_delay;
    } const cases[] = {
        {1, 14341, "vbv_delay underflow: -5\n", 0},  // 14336 - 14341
        {8, 0, "vbv_delay overflow: 114688\n", 65535},
        {8, 114688 - 65535, "", 65535},
        {8, 114688 - 65536, "vbv_delay overflow: 65536\n", 65535},
        {1, 14336, "", 0},
    };
    for (const auto& c : cases) {
        statistics_capture stats;
        start_vbv(stats, 90000.0, 25.0, c.vbv_buffer_size);
        enc.picture.pict_type = 1;
        set_bitcount(c.bits);
        ::testing::internal::CaptureStderr();
        compute_vbv_delay(bitcount());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.warnings) << c.bits;
        EXPECT_EQ(enc.run.vbv.vbv_delay, c.vbv_delay) << c.bits;
    }
}

TEST(VbvDelay, StartUpBracketOfLargeBuffersDoesNotWrap) {
    // 18725 x 16384 x 7 passes 2^31; 7/8 of the buffer is 268441600 bits.
    statistics_capture stats;
    start_vbv(stats, 90000.0, 25.0, 18725);
    enc.picture.pict_type = 1;
    set_bitcount(600);
    ::testing::internal::CaptureStderr();
    compute_vbv_delay(bitcount());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "vbv_delay overflow: 268441000\n");
    EXPECT_EQ(stats.take(), "\nvbv_delay=268441000 (bitcount=600, decoding_time=268441600.00, bitcnt_EOP=0)\n");
}

TEST(VbvDelay, DelayBeyondTheIntRangeSaturates) {
    statistics_capture stats;
    start_vbv(stats, 1.0, 25.0, 262143);
    enc.picture.pict_type = 1;
    ::testing::internal::CaptureStderr();
    compute_vbv_delay(bitcount());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "vbv_delay overflow: 2147483647\n");
    EXPECT_EQ(stats.take(),
              "\nvbv_delay=2147483647 (bitcount=0, decoding_time=338227384320000.00, bitcnt_EOP=0)\n");
    EXPECT_EQ(enc.run.vbv.vbv_delay, 65535);
}

TEST(VbvDelay, OverflowLimitOfLargeBuffersDoesNotWrap) {
    // 131072 x 16384 = 2^31 bits, 2^31 ticks at 90000 bit/s.
    for (double time : {2147480000.0, 2147490000.0}) {
        statistics_capture stats;
        start_vbv(stats, 90000.0, 25.0, 131072);
        enc.run.vbv.decoding_time = time - 3600.0;
        enc.run.vbv.next_ip_delay = 3600.0;
        enc.picture.pict_type = 2;
        set_bitcount(2147400000);
        ::testing::internal::CaptureStderr();
        compute_vbv_delay(bitcount());
        const std::string warnings = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(warnings.find("vbv_delay overflow!\n") != std::string::npos, time > 2147483648.0) << warnings;
    }
}

TEST(VbvDelay, BitCountsPastTwoToThe31KeepTheirValue) {
    // A long run: 2^28 bytes are already written at 90 Mbit/s (1000 bits a tick).
    statistics_capture stats;
    start_vbv(stats, 90000000.0, 25.0, 1000);
    enc.run.vbv.decoding_time = 2150000.0;
    enc.run.vbv.next_ip_delay = 3600.0;
    enc.run.bits.byte_count = (int64_t{1} << 28) + 3;
    enc.run.bits.bits_free = 5;
    vbv_end_of_picture(bitcount());
    EXPECT_EQ(enc.run.vbv.bitcnt_EOP, 2147483680);  // 2147483675 rounded up to a byte

    enc.run.bits.byte_count = (int64_t{1} << 28) + 104;
    enc.run.bits.bits_free = 8;
    enc.picture.pict_type = 2;
    ::testing::internal::CaptureStderr();
    compute_vbv_delay(bitcount());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(stats.take(),
              "\nvbv_delay=6115 (bitcount=2147484480, decoding_time=2153600.00, bitcnt_EOP=2147483680)\n");
    EXPECT_EQ(enc.run.vbv.vbv_delay, 6115);
}

TEST(VbvEndOfPicture, RoundsTheBitCountUpToAByte) {
    const int64_t cases[][2] = {{0, 0}, {1, 8}, {7, 8}, {8, 8}, {9, 16}, {4095, 4096}};
    for (const auto& c : cases) {
        statistics_capture stats;
        start_vbv(stats, 90000.0, 25.0, 1);
        set_bitcount(c[0]);
        vbv_end_of_picture(bitcount());
        EXPECT_EQ(enc.run.vbv.bitcnt_EOP, c[1]) << c[0];
    }
}

}  // namespace
