// Coding order, picture types, GOPs and per-picture values of whole runs of
// the real binary, read back from the statistics file and the stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

struct coded_frame {
    int frame, display;
    char type;
    int temporal_reference;
};

struct gop_report {
    long long R;
    int Np, Nb;
};

std::vector<coded_frame> frames_of(const std::string& stats) {
    std::vector<coded_frame> out;
    std::size_t pos = 0;
    while ((pos = stats.find("\nFrame ", pos)) != std::string::npos) {
        coded_frame f{};
        std::sscanf(stats.c_str() + pos, "\nFrame %d (#%d in display order):\n picture_type=%c\n temporal_reference=%d",
                    &f.frame, &f.display, &f.type, &f.temporal_reference);
        out.push_back(f);
        ++pos;
    }
    return out;
}

std::vector<gop_report> gops_of(const std::string& stats) {
    std::vector<gop_report> out;
    std::size_t pos = 0;
    const char* head = "\nrate control: new group of pictures (GOP)\n";
    while ((pos = stats.find(head, pos)) != std::string::npos) {
        gop_report g{};
        std::sscanf(stats.c_str() + pos,
                    "\nrate control: new group of pictures (GOP)\n target number of bits for GOP: R=%lld\n"
                    " number of P pictures in GOP: Np=%d\n number of B pictures in GOP: Nb=%d",
                    &g.R, &g.Np, &g.Nb);
        out.push_back(g);
        ++pos;
    }
    return out;
}

// Reads bits of the stream after a start code.
struct bit_reader {
    const std::string& s;
    std::size_t bit;
    unsigned get(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++bit)
            v = (v << 1) | ((static_cast<unsigned char>(s[bit / 8]) >> (7 - bit % 8)) & 1);
        return v;
    }
};

struct stream_picture {
    int temporal_reference, type;
    int f_codes = -1, picture_structure = -1;  // from the coding extension
};

struct stream_gop {
    unsigned time_code;
    int closed;
};

void scan_stream(const std::string& s, std::vector<stream_gop>& gops, std::vector<stream_picture>& pics) {
    for (std::size_t i = 0; i + 4 < s.size(); ++i) {
        if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
        unsigned char code = static_cast<unsigned char>(s[i + 3]);
        bit_reader r{s, (i + 4) * 8};
        if (code == 0xB8) {
            stream_gop g{};
            g.time_code = r.get(25);
            g.closed = static_cast<int>(r.get(1));
            gops.push_back(g);
        } else if (code == 0x00) {
            stream_picture p{};
            p.temporal_reference = static_cast<int>(r.get(10));
            p.type = static_cast<int>(r.get(3));
            pics.push_back(p);
        } else if (code == 0xB5 && !pics.empty() && (static_cast<unsigned char>(s[i + 4]) >> 4) == 8) {
            r.get(4);
            pics.back().f_codes = static_cast<int>(r.get(16));
            r.get(2);
            pics.back().picture_structure = static_cast<int>(r.get(2));
        }
    }
}

class sequence_run_e2e : public testing::Test {
protected:
    // Encodes frames of a 32x32 generated sequence with the given settings.
    void encode(param_file p, int frames) {
        run_result gen = run_program({make_sequence_bin(), "--width", "32", "--height", "32", "--frames",
                                      std::to_string(frames), "--pattern", dir / "src%d"},
                                     dir.path());
        ASSERT_EQ(gen.status, 0) << gen.err;
        p.set("frame_count", frames).set("horizontal_size", 32).set("vertical_size", 32);
        p.write(dir / "in.par");
        result = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
        ASSERT_EQ(result.status, 0) << result.err;
        stats = read_file(dir / "stats.txt");
        scan_stream(read_file(dir / "out.m2v"), gops, pictures);
    }

    temp_dir dir;
    run_result result;
    std::string stats;
    std::vector<stream_gop> gops;
    std::vector<stream_picture> pictures;
};

param_file n12_m3() {
    param_file p;
    p.set("N", 12).set("M", 3);
    // Distinct f_codes per motion entry show which entry each picture uses.
    p.motion({"2 2 3 3", "3 3 3 3", "4 4 3 3", "5 5 3 3", "1 1 3 3"});
    return p;
}

TEST_F(sequence_run_e2e, twelve_frames_of_n12_m3) {
    encode(n12_m3(), 12);
    auto f = frames_of(stats);
    ASSERT_EQ(f.size(), 12u);
    const int display[] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 11, 10};
    const char types[] = "IPBBPBBPBBIB";
    const int tref[] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 1, 0};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(f[i].frame, i);
        EXPECT_EQ(f[i].display, display[i]) << i;
        EXPECT_EQ(f[i].type, types[i]) << i;
        EXPECT_EQ(f[i].temporal_reference, tref[i]) << i;
        ASSERT_EQ(pictures.size(), 12u);
        EXPECT_EQ(pictures[i].temporal_reference, tref[i]) << i;
        EXPECT_EQ(pictures[i].type, std::string(" IPB").find(types[i])) << i;
    }
    // GOP sizes show through the budget: 10 frames, then 2, at 400 kbit/s and 25 Hz.
    auto g = gops_of(stats);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[0].R, 160000);
    EXPECT_EQ(g[0].Np, 3);
    EXPECT_EQ(g[0].Nb, 6);
    EXPECT_EQ(g[1].Np, 0);
    EXPECT_EQ(g[1].Nb, 1);
    ASSERT_EQ(gops.size(), 2u);
    EXPECT_EQ(gops[0].closed, 1);
    EXPECT_EQ(gops[1].closed, 0);
    EXPECT_EQ(gops[0].time_code, 1u << 12);
    EXPECT_EQ(gops[1].time_code, (1u << 12) | 10);  // display frame 10 at 25 Hz
    // f_codes: I all 15; P from entry 0; B alternate entries 1 and 2.
    EXPECT_EQ(pictures[0].f_codes, 0xFFFF);
    EXPECT_EQ(pictures[1].f_codes, 0x22FF);
    EXPECT_EQ(pictures[2].f_codes, 0x3344);
    EXPECT_EQ(pictures[3].f_codes, 0x5511);
    EXPECT_EQ(pictures[5].f_codes, 0x3344);
}

TEST_F(sequence_run_e2e, eleven_frames_end_with_an_i_picture_of_its_own) {
    encode(n12_m3(), 11);
    auto f = frames_of(stats);
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(f[10].display, 10);
    EXPECT_EQ(f[10].type, 'I');
    EXPECT_EQ(f[10].temporal_reference, 0);
    auto g = gops_of(stats);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[1].Np, 0);
    EXPECT_EQ(g[1].Nb, 0);
}

TEST_F(sequence_run_e2e, nine_frames_lower_the_last_reference_to_the_last_frame) {
    encode(n12_m3(), 9);
    auto f = frames_of(stats);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[7].type, 'P');
    EXPECT_EQ(f[7].display, 8);
    EXPECT_EQ(f[8].type, 'B');
    EXPECT_EQ(f[8].display, 7);
    ASSERT_EQ(pictures.size(), 9u);
    EXPECT_EQ(pictures[8].f_codes, 0x3344);  // entry 1
}

TEST_F(sequence_run_e2e, m1_codes_in_display_order_with_an_i_picture_every_n) {
    param_file p;
    p.set("N", 3).set("M", 1).motion({"1 1 3 3"});
    encode(p, 7);
    auto f = frames_of(stats);
    ASSERT_EQ(f.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(f[i].display, i);
        EXPECT_EQ(f[i].type, i % 3 == 0 ? 'I' : 'P') << i;
        EXPECT_EQ(f[i].temporal_reference, i % 3) << i;
    }
    for (const auto& g : gops_of(stats)) EXPECT_EQ(g.Nb, 0);
    EXPECT_EQ(gops_of(stats).size(), 3u);
}

TEST_F(sequence_run_e2e, field_pictures_follow_top_field_first) {
    for (int tff : {1, 0}) {
        SCOPED_TRACE(tff);
        gops.clear();
        pictures.clear();
        param_file p;
        p.set("N", 3).set("M", 1).set("field_pictures", 1).set("progressive_sequence", 0);
        p.set("progressive_frame", 0).set("frame_pred_frame_dct_tab", "0 0 0").set("top_field_first", tff);
        p.motion({"1 1 3 3"});
        encode(p, 2);
        const char* first = tff ? "first field  (top) " : "first field  (bot) ";
        const char* second = tff ? "second field (bot) " : "second field (top) ";
        EXPECT_NE(result.err.find(first), std::string::npos);
        EXPECT_NE(result.err.find(second), std::string::npos);
        EXPECT_EQ(result.err.find(" before the tranform"), std::string::npos);
        EXPECT_NE(stats.find(" pict_type1111111=1!"), std::string::npos);
        EXPECT_NE(stats.find(" pict_type2222222222222=2!"), std::string::npos);
        ASSERT_EQ(pictures.size(), 4u);
        // I frame: an I field then a P field; then two P fields.
        EXPECT_EQ(pictures[0].type, 1);
        EXPECT_EQ(pictures[1].type, 2);
        EXPECT_EQ(pictures[1].f_codes, 0x11FF);
        EXPECT_EQ(pictures[0].picture_structure, tff ? 1 : 2);
        EXPECT_EQ(pictures[1].picture_structure, tff ? 2 : 1);
        EXPECT_EQ(pictures[2].type, 2);
        EXPECT_EQ(pictures[2].picture_structure, tff ? 1 : 2);
    }
}

TEST_F(sequence_run_e2e, window_and_vector_range_lines) {
    param_file p;
    p.set("N", 6).set("M", 3).motion({"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"});
    encode(p, 3);
    EXPECT_NE(stats.find(" forward search window: -11...11 / -11...11\n"
                         " forward vector range: -16...15.5 / -16...15.5\n"),
              std::string::npos);
    EXPECT_NE(stats.find(" backward search window: -7...7 / -7...7\n"
                         " backward vector range: -8...7.5 / -8...7.5\n"),
              std::string::npos);
}

TEST_F(sequence_run_e2e, dash_reconstruction_pattern_of_any_length_up_to_the_name_buffer_writes_nothing) {
    param_file p;
    p.set("recon_name_pattern", "-" + std::string(200, 'r') + "%d");
    encode(p, 2);
    EXPECT_EQ(frames_of(stats).size(), 2u);
}

TEST_F(sequence_run_e2e, zero_frames_give_sequence_headers_and_end_code_only) {
    for (int mpeg1 : {0, 1}) {
        SCOPED_TRACE(mpeg1);
        param_file p;
        p.set("mpeg1", mpeg1).set("id_string", "id").set("frame_count", 0);
        p.write(dir / "in.par");
        result = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
        ASSERT_EQ(result.status, 0) << result.err;
        std::string s = read_file(dir / "out.m2v");
        std::vector<int> codes;
        for (std::size_t i = 0; i + 3 < s.size(); ++i)
            if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) codes.push_back(static_cast<unsigned char>(s[i + 3]));
        std::vector<int> expected = mpeg1 ? std::vector<int>{0xB3, 0xB2, 0xB7}
                                          : std::vector<int>{0xB3, 0xB5, 0xB5, 0xB2, 0xB7};
        EXPECT_EQ(codes, expected);
        EXPECT_EQ(s.substr(s.size() - 7), std::string("id\n") + std::string("\0\0\1\xB7", 4));
        EXPECT_EQ(result.err, "");
    }
}

}  // namespace
