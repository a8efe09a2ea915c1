// Reconstruction files: sizes, contents, '-' for none, and failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "picture_setup.h"
#include "loop/recon_frame.h"
#include "test_support.h"

using morvane_test::file_exists;
using morvane_test::read_file;
using morvane_test::temp_dir;

using morvane_test::fatal_message;

namespace {

void configure(int horizontal_size, int vertical_size, int chroma_format) {
    morvane_test::start_encoder({horizontal_size, vertical_size, chroma_format});
}

// Fills every plane of frame, padding included: sample i of plane k is (i + 50k) mod 256.
void fill(const frame_planes& frame) {
    for (int k = 0; k < 3; ++k) {
        int size = k == 0 ? enc.config.width * enc.config.height : enc.config.chrom_width * enc.config.chrom_height;
        for (int i = 0; i < size; ++i) frame[k][i] = static_cast<uint8_t>(i + 50 * k);
    }
}

TEST(ReconFiles, SizesFollowTheVisiblePictureAndChromaFormat) {
    struct {
        int horizontal_size, vertical_size, chroma_format;
        std::size_t y, chroma;
    } cases[] = {
        {352, 288, 1, 352 * 288, 176 * 144},
        {720, 576, 2, 720 * 576, 360 * 576},
        {48, 32, 3, 48 * 32, 48 * 32},
        {45, 17, 1, 45 * 17, 22 * 8},  // odd sizes round the chroma down
    };
    for (const auto& c : cases) {
        configure(c.horizontal_size, c.vertical_size, c.chroma_format);
        fill(enc.buffers.new_ref_frame);
        temp_dir dir;
        write_reconstructed_frame((dir / "rec0").c_str(), enc.buffers.new_ref_frame);
        EXPECT_EQ(read_file(dir / "rec0.Y").size(), c.y);
        EXPECT_EQ(read_file(dir / "rec0.U").size(), c.chroma);
        EXPECT_EQ(read_file(dir / "rec0.V").size(), c.chroma);
        EXPECT_EQ(read_file(dir / "rec0.YUV"),
                  read_file(dir / "rec0.Y") + read_file(dir / "rec0.U") + read_file(dir / "rec0.V"));
    }
}

TEST(ReconFiles, Width100TakesConsecutivePaddedRowsCutAtTheCount) {
    configure(100, 32, 1);  // width 112, chroma stride 56
    fill(enc.buffers.new_ref_frame);
    temp_dir dir;
    write_reconstructed_frame((dir / "r").c_str(), enc.buffers.new_ref_frame);
    std::string y = read_file(dir / "r.Y");
    ASSERT_EQ(y.size(), 3200u);
    // Bytes 100..111 are the padding of plane row 0; byte 112 starts plane row 1.
    for (int i : {0, 99, 100, 111, 112, 3199}) EXPECT_EQ(static_cast<uint8_t>(y[i]), i % 256) << i;
    std::string v = read_file(dir / "r.V");
    ASSERT_EQ(v.size(), 50u * 16);
    for (int i : {0, 55, 56, 799}) EXPECT_EQ(static_cast<uint8_t>(v[i]), (i + 100) % 256) << i;
}

TEST(ReconFiles, NameStartingWithDashWritesNothing) {
    configure(16, 16, 1);
    temp_dir dir;
    std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    for (const char* name : {"-", "-rec0"}) write_reconstructed_frame(name, enc.buffers.new_ref_frame);
    EXPECT_FALSE(file_exists(dir / "-.Y"));
    EXPECT_FALSE(file_exists(dir / "-rec0.Y"));
    EXPECT_FALSE(file_exists(dir / "-rec0.YUV"));
    ASSERT_EQ(chdir(previous.c_str()), 0);
}

TEST(ReconFiles, UncreatableFileIsFatalNamingIt) {
    configure(16, 16, 1);
    temp_dir dir;
    std::string base = dir / "missing/rec0";
    EXPECT_EQ(fatal_message([&] { write_reconstructed_frame(base.c_str(), enc.buffers.new_ref_frame); }),
              "Couldn't create " + base + ".Y\n");
}

TEST(ReconFiles, WriteErrorIsFatalNamingTheFile) {
    for (const char* full : {"rec0.Y", "rec0.V", "rec0.YUV"}) {
        configure(16, 16, 1);
        temp_dir dir;
        ASSERT_EQ(symlink("/dev/full", (dir / full).c_str()), 0);
        EXPECT_EQ(fatal_message([&] { write_reconstructed_frame((dir / "rec0").c_str(), enc.buffers.new_ref_frame); }),
                  "Couldn't write " + (dir / full));
    }
}

TEST(ReconFiles, NameThatDoesNotFitIsFatalAndCreatesNoCutFile) {
    configure(16, 16, 1);
    temp_dir dir;
    std::string base = dir / "";
    base += std::string(124 - base.size(), 'r');  // base + ".V" fits 128 characters, + ".YUV" needs 129
    std::string message = fatal_message([&] { write_reconstructed_frame(base.c_str(), enc.buffers.new_ref_frame); });
    EXPECT_NE(message.find("too long"), std::string::npos) << message;
    EXPECT_TRUE(file_exists(base + ".V"));
    EXPECT_FALSE(file_exists(base + ".YU"));
    EXPECT_FALSE(file_exists(base + ".YUV"));
}

}  // namespace
