// Source pictures: plane files, the planar file, PPM conversion, chroma
// filters, border extension and the PPM header scanner.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "picture_setup.h"
#include "loop/source_frame.h"
#include "test_support.h"

using morvane_test::temp_dir;
using morvane_test::write_file;

using morvane_test::fatal_message;

namespace {

struct geometry {
    int horizontal_size, vertical_size, chroma_format;
    int progressive_sequence = 1, mpeg1 = 0, progressive_frame = 1, matrix_coefficients = 5, input_format = 0;
};

void configure(const geometry& g) {
    morvane_test::start_encoder({g.horizontal_size, g.vertical_size, g.chroma_format, g.progressive_sequence},
                                [&](encoder_config& cfg) {
                                    cfg.mpeg1 = g.mpeg1;
                                    cfg.progressive_frame = g.progressive_frame;
                                    cfg.matrix_coefficients = g.matrix_coefficients;
                                    cfg.input_format = g.input_format;
                                });
}

uint8_t at(const uint8_t* plane, int stride, int row, int col) { return plane[row * stride + col]; }

// Bytes of a visible plane whose sample (r, c) is (seed + 7r + 3c) mod 251.
std::string pattern_plane(int columns, int rows, int seed) {
    std::string s;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) s.push_back(static_cast<char>((seed + 7 * r + 3 * c) % 251));
    return s;
}

std::string ppm(int w, int h, const std::string& pixels, const std::string& header_tail = "255\n") {
    return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n" + header_tail + pixels;
}

std::string flat_rgb(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::string s;
    for (int i = 0; i < w * h; ++i) s += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
    return s;
}

// --- extend_borders ---------------------------------------------------------

TEST(ExtendBorders, RepeatsLastColumnThenLastWidenedRow) {
    std::vector<uint8_t> p = {1, 2, 0, 0,  //
                              3, 4, 0, 0,  //
                              9, 9, 9, 9};
    extend_borders(p.data(), 2, 2, 4, 3);
    EXPECT_EQ(p, (std::vector<uint8_t>{1, 2, 2, 2, 3, 4, 4, 4, 3, 4, 4, 4}));
}

TEST(ExtendBorders, FullyVisiblePlaneIsUnchanged) {
    std::vector<uint8_t> p = {1, 2, 3, 4, 5, 6};
    extend_borders(p.data(), 3, 2, 3, 2);
    EXPECT_EQ(p, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

// --- format 0: separate planes ----------------------------------------------

TEST(SeparatePlanes, Width100PadsRightAndBottomOfEveryPlane) {
    configure({100, 40, 1});  // width 112, height 48; chroma 50 x 20 in 56 x 24
    ASSERT_EQ(enc.config.width, 112);
    temp_dir dir;
    write_file(dir / "f.Y", pattern_plane(100, 40, 0));
    write_file(dir / "f.U", pattern_plane(50, 20, 11));
    write_file(dir / "f.V", pattern_plane(50, 20, 22));
    load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);

    const uint8_t* y = enc.buffers.new_org_frame[0];
    for (int r = 0; r < 48; ++r) {
        int vr = r < 40 ? r : 39;
        for (int c = 0; c < 112; ++c)
            ASSERT_EQ(at(y, 112, r, c), (7 * vr + 3 * (c < 100 ? c : 99)) % 251) << r << "," << c;
    }
    for (int k = 1; k < 3; ++k) {
        const uint8_t* ch = enc.buffers.new_org_frame[k];
        for (int r = 0; r < 24; ++r)
            for (int c = 0; c < 56; ++c)
                ASSERT_EQ(at(ch, 56, r, c), (11 * k + 7 * (r < 20 ? r : 19) + 3 * (c < 50 ? c : 49)) % 251);
    }
}

TEST(SeparatePlanes, ChromaFilesHaveTheChromaFormatsVisibleSize) {
    struct {
        int chroma_format, columns, rows;
    } cases[] = {{1, 22, 7}, {2, 22, 15}, {3, 45, 15}};  // 45 x 15 picture: odd sizes round down
    for (const auto& c : cases) {
        configure({45, 15, c.chroma_format});
        temp_dir dir;
        write_file(dir / "f.Y", pattern_plane(45, 15, 0));
        write_file(dir / "f.U", pattern_plane(c.columns, c.rows, 1));
        write_file(dir / "f.V", pattern_plane(c.columns, c.rows, 2));
        load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
        const uint8_t* cr = enc.buffers.new_org_frame[2];
        EXPECT_EQ(at(cr, enc.config.chrom_width, c.rows - 1, c.columns - 1),
                  (2 + 7 * (c.rows - 1) + 3 * (c.columns - 1)) % 251);
        EXPECT_EQ(at(cr, enc.config.chrom_width, enc.config.chrom_height - 1, enc.config.chrom_width - 1),
                  at(cr, enc.config.chrom_width, c.rows - 1, c.columns - 1));
    }
}

TEST(SeparatePlanes, MissingOrShortPlaneFileIsFatalNamingIt) {
    struct {
        const char* plane;
        int bytes;  // -1: no file
        const char* message_start;
    } cases[] = {{"Y", -1, "Couldn't open "}, {"V", -1, "Couldn't open "}, {"Y", 16 * 16 - 1, "Couldn't read "},
                 {"U", 8 * 8 - 1, "Couldn't read "},  {"V", 0, "Couldn't read "}};
    for (const auto& c : cases) {
        configure({16, 16, 1});
        temp_dir dir;
        for (const char* p : {"Y", "U", "V"}) {
            int size = std::string(p) == "Y" ? 256 : 64;
            if (c.plane == std::string(p)) size = c.bytes;
            if (size >= 0) write_file(dir / ("f." + std::string(p)), std::string(size, 'x'));
        }
        std::string name = dir / ("f." + std::string(c.plane));
        std::string expected = c.bytes < 0 ? std::string(c.message_start) + name + "\n"
                                           : std::string(c.message_start) + name + " (file too short)";
        EXPECT_EQ(fatal_message([&] { load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame); }), expected);
    }
}

TEST(SeparatePlanes, NameThatDoesNotFitIsFatalNotCut) {
    configure({16, 16, 1});
    std::string base(126, 'a');  // base + ".Y" needs 129 characters
    std::string message = fatal_message([&] { load_source_frame(base.c_str(), enc.buffers.new_org_frame); });
    EXPECT_NE(message.find("too long"), std::string::npos) << message;
}

TEST(SeparatePlanes, UnknownInputFormatLeavesFrameAsItWas) {
    configure({16, 16, 1, 1, 0, 1, 5, 7});
    enc.buffers.new_org_frame[0][0] = 42;
    load_source_frame("/nonexistent/f", enc.buffers.new_org_frame);
    EXPECT_EQ(enc.buffers.new_org_frame[0][0], 42);
}

// --- format 1: one planar file, read three times ----------------------------

TEST(PlanarFile, YieldsFirstSecondThirdThirdPicture) {
    const int picture_bytes = 16 * 16 + 2 * 8 * 8;
    struct {
        int pictures;
        int expected;
    } cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}};
    for (const auto& c : cases) {
        configure({16, 16, 1, 1, 0, 1, 5, 1});
        temp_dir dir;
        std::string content;
        for (int p = 1; p <= c.pictures; ++p) content += std::string(picture_bytes, static_cast<char>(p));
        write_file(dir / "f.yuv", content);
        load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
        EXPECT_EQ(enc.buffers.new_org_frame[0][0], c.expected) << c.pictures;
        EXPECT_EQ(enc.buffers.new_org_frame[0][255], c.expected);
        EXPECT_EQ(enc.buffers.new_org_frame[2][63], c.expected);
    }
}

TEST(PlanarFile, PlanesComeInOrderYUVAndArePadded) {
    configure({20, 16, 2, 1, 0, 1, 5, 1});  // Y 20 x 16, chroma 10 x 16; width 32
    temp_dir dir;
    write_file(dir / "f.yuv", pattern_plane(20, 16, 0) + pattern_plane(10, 16, 1) + pattern_plane(10, 16, 2));
    load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
    EXPECT_EQ(at(enc.buffers.new_org_frame[0], 32, 15, 31), (7 * 15 + 3 * 19) % 251);
    EXPECT_EQ(at(enc.buffers.new_org_frame[1], 16, 0, 0), 1);
    EXPECT_EQ(at(enc.buffers.new_org_frame[2], 16, 3, 12), (2 + 7 * 3 + 3 * 9) % 251);
}

TEST(PlanarFile, LessThanOnePictureIsFatalNamingTheFile) {
    for (int bytes : {0, 100, 16 * 16 + 2 * 8 * 8 - 1}) {
        configure({16, 16, 1, 1, 0, 1, 5, 1});
        temp_dir dir;
        write_file(dir / "f.yuv", std::string(bytes, 'x'));
        EXPECT_EQ(fatal_message([&] { load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame); }),
                  "Couldn't read " + (dir / "f.yuv") + " (file too short)");
    }
}

// --- format 2: PPM ------------------------------------------------------------

TEST(PpmConversion, PixelsConvertByMatrixCoefficients) {
    struct {
        int r, g, b, matrix;
        int y, cb, cr;
    } cases[] = {
        {0, 0, 0, 5, 16, 128, 128},    {255, 255, 255, 5, 234, 128, 128}, {255, 255, 255, 1, 234, 128, 128},
        {255, 0, 0, 5, 81, 90, 240},   {0, 255, 0, 1, 172, 42, 27},       {0, 0, 255, 7, 35, 240, 116},
        {10, 200, 30, 4, 122, 82, 57}, {255, 255, 0, 2, 209, 16, 146},
    };
    for (const auto& c : cases) {
        configure({16, 16, 3, 1, 0, 1, c.matrix, 2});
        temp_dir dir;
        write_file(dir / "f.ppm", ppm(16, 16, flat_rgb(16, 16, c.r, c.g, c.b)));
        load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
        EXPECT_EQ(enc.buffers.new_org_frame[0][17], c.y) << c.r << " " << c.g << " " << c.b;
        EXPECT_EQ(enc.buffers.new_org_frame[1][17], c.cb);
        EXPECT_EQ(enc.buffers.new_org_frame[2][17], c.cr);
    }
}

TEST(PpmConversion, FlatGreyChromaDependsOnTheHorizontalFilter) {
    struct {
        int chroma_format, mpeg1, progressive_frame, expected;
    } cases[] = {{2, 0, 1, 129}, {2, 1, 1, 128}, {1, 0, 1, 129}, {1, 0, 0, 129}, {1, 1, 1, 128}, {1, 1, 0, 128}};
    for (const auto& c : cases) {
        configure({20, 32, c.chroma_format, 1, c.mpeg1, c.progressive_frame, 5, 2});
        temp_dir dir;
        write_file(dir / "f.ppm", ppm(20, 32, flat_rgb(20, 32, 100, 100, 100)));
        load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
        for (int k = 1; k < 3; ++k)
            for (int i = 0; i < enc.config.chrom_width * enc.config.chrom_height; ++i)
                ASSERT_EQ(enc.buffers.new_org_frame[k][i], c.expected)
                    << "format " << c.chroma_format << " mpeg1 " << c.mpeg1 << " at " << i;
    }
}

TEST(PpmConversion, LuminanceBordersAreExtended) {
    configure({18, 17, 3, 1, 0, 1, 5, 2});  // 32 x 32 planes
    std::string pixels = flat_rgb(18, 17, 0, 0, 0);
    pixels[(16 * 18 + 17) * 3] = pixels[(16 * 18 + 17) * 3 + 1] = pixels[(16 * 18 + 17) * 3 + 2] = '\xff';
    temp_dir dir;
    write_file(dir / "f.ppm", ppm(18, 17, pixels));
    load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
    EXPECT_EQ(at(enc.buffers.new_org_frame[0], 32, 16, 17), 234);
    EXPECT_EQ(at(enc.buffers.new_org_frame[0], 32, 31, 31), 234);
    EXPECT_EQ(at(enc.buffers.new_org_frame[0], 32, 31, 16), 16);
    EXPECT_EQ(at(enc.buffers.new_org_frame[0], 32, 15, 31), 16);
}

TEST(PpmConversion, WorkPlaneThatCannotBeAllocatedIsFatal) {
    configure({16, 16, 1, 1, 0, 1, 5, 2});
    enc.config.width = enc.config.height = 1 << 30;  // planes of 2^60 bytes
    EXPECT_EQ(fatal_message([] { load_source_frame("never-opened", enc.buffers.new_org_frame); }), "malloc failed");
}

TEST(PpmHeader, AcceptedLayoutsStartPixelDataAfterTheHeader) {
    const std::string pixel = "\xff\xff\xff";  // first pixel white, the rest black
    const std::string rest = flat_rgb(16 * 16 - 1, 1, 0, 0, 0);
    const std::string headers[] = {
        "P6\n16 16\n255\n",
        "P6\n# made by hand\n16 16\n255\n",
        "P6\n16 16\n255#trailing comment\n",
        "P6 16\t16\r255\n",
        "P6\n16 # mid-line comment\n16\n255\n",
    };
    for (const std::string& h : headers) {
        configure({16, 16, 3, 1, 0, 1, 5, 2});
        temp_dir dir;
        write_file(dir / "f.ppm", h + pixel + rest);
        load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame);
        EXPECT_EQ(enc.buffers.new_org_frame[0][0], 234) << h;
        EXPECT_EQ(enc.buffers.new_org_frame[0][1], 16) << h;
    }
}

TEST(PpmHeader, BadHeaderOrShortDataIsFatalSayingWhatDiffers) {
    const std::string data = flat_rgb(16, 8, 1, 2, 3);
    struct {
        std::string content, reason;
    } cases[] = {
        {"P5\n16 8\n255\n" + data, "magic number is not P6"},
        {"P3\n16 8\n255\n" + data, "magic number is not P6"},
        {"", "magic number is not P6"},
        {ppm(15, 8, data), "width 15, horizontal_size is 16"},
        {ppm(16, 9, data), "height 9, vertical_size is 8"},
        {ppm(16, 8, data, "65535\n"), "maximum value 65535, not 255"},
        {ppm(16, 8, data, "99999999999999999999\n"), "maximum value 2147483647, not 255"},
        {"P6\n16 8\n# this comment never ends", "header ends early"},
        {"P6\n16", "header ends early"},
        {"P6\n16 8\n25", "header ends early"},
        {ppm(16, 8, data.substr(0, data.size() - 1)), "pixel data ends early"},
        {ppm(16, 8, ""), "pixel data ends early"},
    };
    for (const auto& c : cases) {
        configure({16, 8, 1, 1, 0, 1, 5, 2});
        temp_dir dir;
        write_file(dir / "f.ppm", c.content);
        EXPECT_EQ(fatal_message([&] { load_source_frame((dir / "f").c_str(), enc.buffers.new_org_frame); }),
                  "Couldn't read " + (dir / "f.ppm") + " (" + c.reason + ")");
    }
}

struct scanned {
    std::vector<int> values;
    int next;  // the byte after the scan, -1 at end of file
};

scanned scan(const std::string& content, bool integers, int count) {
    temp_dir dir;
    write_file(dir / "h", content);
    FILE* f = std::fopen((dir / "h").c_str(), "rb");
    scanned s;
    for (int i = 0; i < count; ++i) s.values.push_back(integers ? header_integer(f) : header_char(f));
    s.next = std::getc(f);
    std::fclose(f);
    return s;
}

TEST(PpmHeader, HeaderCharSkipsCommentsAndStopsAtEndOfFile) {
    EXPECT_EQ(scan("ab", false, 2).values, (std::vector<int>{'a', 'b'}));
    EXPECT_EQ(scan("#x y\nz", false, 2).values, (std::vector<int>{'\n', 'z'}));
    EXPECT_EQ(scan("#x\rz", false, 2).values, (std::vector<int>{'\r', 'z'}));
    EXPECT_EQ(scan("#runs to the end", false, 2).values, (std::vector<int>{-1, -1}));
    EXPECT_EQ(scan("\xe9", false, 1).values, (std::vector<int>{-23}));  // a signed character
}

TEST(PpmHeader, HeaderIntegerReadsDecimalsAndSaturates) {
    struct {
        std::string content;
        std::vector<int> values;
        int next;
    } cases[] = {
        {"  12 345\n", {12, 345}, -1},
        {"\t7#c\nX", {7}, 'X'},                     // comment right after a number
        {"\n#c\n 42 rest", {42}, 'r'},              // comment where whitespace may stand
        {"x5 ", {('x' - '0') * 10 + 5}, -1},  // first character taken as a digit
        {"2147483647 ", {INT_MAX}, -1},
        {"2147483648 ", {INT_MAX}, -1},
        {"123456789012345678901234567890 ", {INT_MAX}, -1},
    };
    for (const auto& c : cases) {
        scanned s = scan(c.content, true, static_cast<int>(c.values.size()));
        EXPECT_EQ(s.values, c.values) << c.content;
        EXPECT_EQ(s.next, c.next) << c.content;
    }
}

// --- chroma filters -----------------------------------------------------------

TEST(HorizontalFilter, ImpulseResponseOfBothFilters) {
    struct {
        int mpeg1, column;
        std::vector<int> expected;
    } cases[] = {
        // MPEG-2: centred on even columns; negative sums clip to 0.
        {0, 5, {11, 0, 79, 79, 0, 11, 0, 0}},
        // Clamping at the left edge repeats column 0 into every outside tap.
        {0, 0, {192, 0, 11, 0, 0, 0, 0, 0}},
        // MPEG-1: centred between columns j and j + 1.
        {1, 5, {5, 0, 114, 35, 0, 2, 0, 0}},
        {1, 15, {0, 0, 0, 0, 0, 8, 0, 128}},  // right edge: taps past column 15 repeat it
    };
    for (const auto& c : cases) {
        configure({16, 16, 2, 1, c.mpeg1});
        std::vector<uint8_t> src(16 * 16, 0), dst(8 * 16, 77);
        for (int r = 0; r < 16; ++r) src[r * 16 + c.column] = 255;
        downsample_444_to_422(src.data(), dst.data());
        for (int r = 0; r < 16; ++r)
            EXPECT_EQ(std::vector<int>(dst.begin() + r * 8, dst.begin() + r * 8 + 8), c.expected)
                << "mpeg1 " << c.mpeg1 << " column " << c.column << " row " << r;
    }
}

// 4:2:2 chroma plane of a 16 x 32 picture (8 x 32) with even rows 100, odd 200.
std::vector<uint8_t> striped_rows() {
    std::vector<uint8_t> src(8 * 32);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 8; ++c) src[r * 8 + c] = r % 2 ? 200 : 100;
    return src;
}

TEST(VerticalFilter, FrameBasedFilterMixesBothParities) {
    configure({16, 32, 1, 1, 0, 1});
    std::vector<uint8_t> src = striped_rows(), dst(8 * 16, 0);
    downsample_422_to_420(src.data(), dst.data());
    std::vector<int> column;
    for (int r = 0; r < 16; ++r) column.push_back(dst[r * 8 + 3]);
    // Clamped taps at the top repeat row 0 (100), at the bottom row 31 (200).
    EXPECT_EQ(column,
              (std::vector<int>{139, 153, 149, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 151, 147, 161}));
}

TEST(VerticalFilter, FieldBasedRowsKeepTheirFieldsValue) {
    configure({16, 32, 1, 0, 0, 0});
    ASSERT_EQ(enc.config.height, 32);
    std::vector<uint8_t> src = striped_rows(), dst(8 * 16, 0);
    downsample_422_to_420(src.data(), dst.data());
    for (int r = 0; r < 16; ++r) EXPECT_EQ(dst[r * 8 + 5], r % 2 ? 200 : 100) << r;
}

TEST(VerticalFilter, FieldBasedRowsDependOnlyOnSameParityRows) {
    configure({16, 32, 1, 0, 0, 0});
    std::vector<uint8_t> a(8 * 32);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>((i * 37 + 11) % 253);
    std::vector<uint8_t> odd_changed = a, even_changed = a;
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 8; ++c) (r % 2 ? odd_changed : even_changed)[r * 8 + c] ^= 0x5a;
    std::vector<uint8_t> base(8 * 16), from_odd(8 * 16), from_even(8 * 16);
    downsample_422_to_420(a.data(), base.data());
    downsample_422_to_420(odd_changed.data(), from_odd.data());
    downsample_422_to_420(even_changed.data(), from_even.data());
    int top_changes = 0, bottom_changes = 0;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 8; ++c) {
            int i = r * 8 + c;
            if (r % 2 == 0) {
                EXPECT_EQ(from_odd[i], base[i]) << "top-field row " << r;
                top_changes += from_even[i] != base[i];
            } else {
                EXPECT_EQ(from_even[i], base[i]) << "bottom-field row " << r;
                bottom_changes += from_odd[i] != base[i];
            }
        }
    EXPECT_GT(top_changes, 0);
    EXPECT_GT(bottom_changes, 0);
}

// --- start-up check -------------------------------------------------------------

TEST(PicturePatterns, ReconstructionMayNotOverwriteSourcePlanes) {
    struct {
        const char *source, *recon;
        int input_format;
        bool fatal;
    } cases[] = {
        {"src%d", "src%d", 0, true}, {"src%d", "rec%d", 0, false}, {"src%d", "src%d", 1, false},
        {"src%d", "src%d", 2, false}, {"-", "-", 0, false},
    };
    for (const auto& c : cases) {
        reset_encoder_state();
        enc.config.source_name_pattern = c.source;
        enc.config.recon_name_pattern = c.recon;
        enc.config.input_format = c.input_format;
        std::string message = fatal_message([] { check_picture_patterns(); });
        if (c.fatal)
            EXPECT_EQ(message, "reconstruction file name pattern src%d is the source pattern (the source pictures "
                               "would be overwritten)");
        else
            EXPECT_EQ(message, "<no fatal error>") << c.source << " " << c.recon << " " << c.input_format;
    }
}

}  // namespace
