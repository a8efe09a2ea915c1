// Quantiser matrices: defaults, matrix files and their errors.
#include <gtest/gtest.h>

#include <string>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/quant_matrices.h"
#include "test_support.h"

namespace morvane_test {
namespace {

std::string numbers(int first, int count, const char* separator = " ") {
    std::string text;
    for (int i = 0; i < count; ++i) text += std::to_string(first + i) + separator;
    return text;
}

TEST(quant_matrices, dash_names_select_the_defaults) {
    for (const char* name : {"-", "-x"}) {
        reset_encoder_state();
        enc.config.intra_matrix_file = name;
        enc.config.non_intra_matrix_file = name;
        read_quant_matrices();
        EXPECT_EQ(enc.config.load_intra_quantiser_matrix, 0);
        EXPECT_EQ(enc.config.load_non_intra_quantiser_matrix, 0);
        const uint8_t first_row[8] = {8, 16, 19, 22, 26, 27, 29, 34};
        const uint8_t last_row[8] = {27, 29, 35, 38, 46, 56, 69, 83};
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(enc.config.intra_quantiser_matrix[i], first_row[i]);
            EXPECT_EQ(enc.config.intra_quantiser_matrix[56 + i], last_row[i]);
        }
        EXPECT_EQ(enc.config.intra_quantiser_matrix[8 * 3 + 4], 29);  // row 3, column 4
        for (int i = 0; i < 64; ++i) EXPECT_EQ(enc.config.non_intra_quantiser_matrix[i], 16);
    }
}

TEST(quant_matrices, files_are_read_in_raster_order_whatever_the_layout) {
    temp_dir dir;
    write_file(dir / "intra.mat", numbers(1, 64, "\n"));
    write_file(dir / "inter.mat", "  " + numbers(192, 60, "\t") + "\n\n252 253 254 255 trailing text");
    reset_encoder_state();
    enc.config.intra_matrix_file = dir / "intra.mat";
    enc.config.non_intra_matrix_file = dir / "inter.mat";
    read_quant_matrices();
    EXPECT_EQ(enc.config.load_intra_quantiser_matrix, 1);
    EXPECT_EQ(enc.config.load_non_intra_quantiser_matrix, 1);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(enc.config.intra_quantiser_matrix[i], i + 1);
        EXPECT_EQ(enc.config.non_intra_quantiser_matrix[i], 192 + i);
    }
}

TEST(quant_matrices, bad_files_are_fatal) {
    struct bad_case {
        const char* name;
        std::string content;
        bool unreadable;  // else the value message
    };
    const bad_case cases[] = {
        {"zero", numbers(1, 10) + "0 " + numbers(1, 53), false},
        {"256", "256 " + numbers(1, 63), false},
        {"negative", "-3 " + numbers(1, 63), false},
        {"beyond the int range", "4294967297 " + numbers(1, 63), false},
        {"63 numbers", numbers(1, 63), true},
        {"empty", "", true},
        {"text among the numbers", numbers(1, 20) + "abc " + numbers(1, 43), true},
        {"a fraction", "1.5 " + numbers(1, 63), true},
        {"value before a later gap", "0 " + numbers(1, 10), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool intra : {true, false}) {
            temp_dir dir;
            write_file(dir / "bad.mat", c.content);
            reset_encoder_state();
            enc.config.intra_matrix_file = intra ? dir / "bad.mat" : "-";
            enc.config.non_intra_matrix_file = intra ? "-" : dir / "bad.mat";
            try {
                read_quant_matrices();
                ADD_FAILURE() << "no fatal error";
            } catch (const fatal_exit& f) {
                EXPECT_EQ(f.message, c.unreadable
                                         ? "Couldn't read 64 numbers from quant matrix file " + (dir / "bad.mat")
                                         : std::string("invalid value in quant matrix"));
            }
        }
    }
}

TEST(quant_matrices, a_missing_file_is_named) {
    reset_encoder_state();
    enc.config.intra_matrix_file = "-";
    enc.config.non_intra_matrix_file = "/nonexistent/inter.mat";
    try {
        read_quant_matrices();
        ADD_FAILURE() << "no fatal error";
    } catch (const fatal_exit& f) {
        EXPECT_EQ(f.message, "Couldn't open quant matrix file /nonexistent/inter.mat");
    }
}

// The real binary: matrix errors end the run before the output file exists.
TEST(quant_matrices_e2e, binary_reports_a_short_matrix_file) {
    temp_dir dir;
    write_file(dir / "q.mat", numbers(1, 40));
    param_file().set("intra_matrix_file", "q.mat").write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't read 64 numbers from quant matrix file q.mat\n");
    EXPECT_FALSE(file_exists(dir / "out.m2v"));

    write_file(dir / "q.mat", numbers(200, 64));
    r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid value in quant matrix\n");
}

}  // namespace
}  // namespace morvane_test
