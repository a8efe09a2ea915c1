#include "bitstream/vlc.h"

#include <cstdio>

#include "bitstream/bit_writer.h"
#include "bitstream/headers.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "transform/quantise_kernels.h"

namespace {

struct run_level_row {
    int run, level;
    const char* zero;
    const char* one;
};

constexpr run_level_row run_level_rows[] = {
    {0, 1, "11", "10"},
    {0, 2, "0100", "110"},
    {0, 3, "00101", "0111"},
    {0, 4, "0000110", "11100"},
    {0, 5, "00100110", "11101"},
    {0, 6, "00100001", "000101"},
    {0, 7, "0000001010", "000100"},
    {0, 8, "000000011101", "1111011"},
    {0, 9, "000000011000", "1111100"},
    {0, 10, "000000010011", "00100011"},
    {0, 11, "000000010000", "00100010"},
    {0, 12, "0000000011010", "11111010"},
    {0, 13, "0000000011001", "11111011"},
    {0, 14, "0000000011000", "11111110"},
    {0, 15, "0000000010111", "11111111"},
    {0, 16, "00000000011111", "00000000011111"},
    {0, 17, "00000000011110", "00000000011110"},
    {0, 18, "00000000011101", "00000000011101"},
    {0, 19, "00000000011100", "00000000011100"},
    {0, 20, "00000000011011", "00000000011011"},
    {0, 21, "00000000011010", "00000000011010"},
    {0, 22, "00000000011001", "00000000011001"},
    {0, 23, "00000000011000", "00000000011000"},
    {0, 24, "00000000010111", "00000000010111"},
    {0, 25, "00000000010110", "00000000010110"},
    {0, 26, "00000000010101", "00000000010101"},
    {0, 27, "00000000010100", "00000000010100"},
    {0, 28, "00000000010011", "00000000010011"},
    {0, 29, "00000000010010", "00000000010010"},
    {0, 30, "00000000010001", "00000000010001"},
    {0, 31, "00000000010000", "00000000010000"},
    {0, 32, "000000000011000", "000000000011000"},
    {0, 33, "000000000010111", "000000000010111"},
    {0, 34, "000000000010110", "000000000010110"},
    {0, 35, "000000000010101", "000000000010101"},
    {0, 36, "000000000010100", "000000000010100"},
    {0, 37, "000000000010011", "000000000010011"},
    {0, 38, "000000000010010", "000000000010010"},
    {0, 39, "000000000010001", "000000000010001"},
    {0, 40, "000000000010000", "000000000010000"},
    {1, 1, "011", "010"},
    {1, 2, "000110", "00110"},
    {1, 3, "00100101", "1111001"},
    {1, 4, "0000001100", "00100111"},
    {1, 5, "000000011011", "00100000"},
    {1, 6, "0000000010110", "0000000010110"},
    {1, 7, "0000000010101", "0000000010101"},
    {1, 8, "000000000011111", "000000000011111"},
    {1, 9, "000000000011110", "000000000011110"},
    {1, 10, "000000000011101", "000000000011101"},
    {1, 11, "000000000011100", "000000000011100"},
    {1, 12, "000000000011011", "000000000011011"},
    {1, 13, "000000000011010", "000000000011010"},
    {1, 14, "000000000011001", "000000000011001"},
    {1, 15, "0000000000010011", "0000000000010011"},
    {1, 16, "0000000000010010", "0000000000010010"},
    {1, 17, "0000000000010001", "0000000000010001"},
    {1, 18, "0000000000010000", "0000000000010000"},
    {2, 1, "0101", "00101"},
    {2, 2, "0000100", "0000111"},
    {2, 3, "0000001011", "11111100"},
    {2, 4, "000000010100", "0000001100"},
    {2, 5, "0000000010100", "0000000010100"},
    {3, 1, "00111", "00111"},
    {3, 2, "00100100", "00100110"},
    {3, 3, "000000011100", "000000011100"},
    {3, 4, "0000000010011", "0000000010011"},
    {4, 1, "00110", "000110"},
    {4, 2, "0000001111", "11111101"},
    {4, 3, "000000010010", "000000010010"},
    {5, 1, "000111", "000111"},
    {5, 2, "0000001001", "000000100"},
    {5, 3, "0000000010010", "0000000010010"},
    {6, 1, "000101", "0000110"},
    {6, 2, "000000011110", "000000011110"},
    {6, 3, "0000000000010100", "0000000000010100"},
    {7, 1, "000100", "0000100"},
    {7, 2, "000000010101", "000000010101"},
    {8, 1, "0000111", "0000101"},
    {8, 2, "000000010001", "000000010001"},
    {9, 1, "0000101", "1111000"},
    {9, 2, "0000000010001", "0000000010001"},
    {10, 1, "00100111", "1111010"},
    {10, 2, "0000000010000", "0000000010000"},
    {11, 1, "00100011", "00100001"},
    {11, 2, "0000000000011010", "0000000000011010"},
    {12, 1, "00100010", "00100101"},
    {12, 2, "0000000000011001", "0000000000011001"},
    {13, 1, "00100000", "00100100"},
    {13, 2, "0000000000011000", "0000000000011000"},
    {14, 1, "0000001110", "000000101"},
    {14, 2, "0000000000010111", "0000000000010111"},
    {15, 1, "0000001101", "000000111"},
    {15, 2, "0000000000010110", "0000000000010110"},
    {16, 1, "0000001000", "0000001101"},
    {16, 2, "0000000000010101", "0000000000010101"},
    {17, 1, "000000011111", "000000011111"},
    {18, 1, "000000011010", "000000011010"},
    {19, 1, "000000011001", "000000011001"},
    {20, 1, "000000010111", "000000010111"},
    {21, 1, "000000010110", "000000010110"},
    {22, 1, "0000000011111", "0000000011111"},
    {23, 1, "0000000011110", "0000000011110"},
    {24, 1, "0000000011101", "0000000011101"},
    {25, 1, "0000000011100", "0000000011100"},
    {26, 1, "0000000011011", "0000000011011"},
    {27, 1, "0000000000011111", "0000000000011111"},
    {28, 1, "0000000000011110", "0000000000011110"},
    {29, 1, "0000000000011101", "0000000000011101"},
    {30, 1, "0000000000011100", "0000000000011100"},
    {31, 1, "0000000000011011", "0000000000011011"},
};

constexpr dct_coefficients_table make_dct_table(bool table_one) {
    dct_coefficients_table t{};
    for (const run_level_row& row : run_level_rows) {
        vlc_entry e = vlc(table_one ? row.one : row.zero);
        if (row.run < 2)
            t.a[row.run][row.level - 1] = e;
        else
            t.b[row.run - 2][row.level - 1] = e;
    }
    return t;
}

constexpr int escape_code = 1, escape_length = 6;

}  // namespace

const vlc_entry dc_luminance_size_table[12] = {
    vlc("100"),      vlc("00"),        vlc("01"),       vlc("101"),
    vlc("110"),      vlc("1110"),      vlc("11110"),    vlc("111110"),
    vlc("1111110"),  vlc("11111110"),  vlc("111111110"), vlc("111111111")};

const vlc_entry dc_chrominance_size_table[12] = {
    vlc("00"),        vlc("01"),         vlc("10"),          vlc("110"),
    vlc("1110"),      vlc("11110"),      vlc("111110"),      vlc("1111110"),
    vlc("11111110"),  vlc("111111110"),  vlc("1111111110"),  vlc("1111111111")};

const dct_coefficients_table dct_coefficients_table_zero = make_dct_table(false);
const dct_coefficients_table dct_coefficients_table_one = make_dct_table(true);

const vlc_entry motion_code_table[17] = {
    vlc("1"),          vlc("01"),         vlc("001"),        vlc("0001"),
    vlc("000011"),     vlc("0000101"),    vlc("0000100"),    vlc("0000011"),
    vlc("000001011"),  vlc("000001010"),  vlc("000001001"),  vlc("0000010001"),
    vlc("0000010000"), vlc("0000001111"), vlc("0000001110"), vlc("0000001101"),
    vlc("0000001100")};

void write_dc(const vlc_entry* table, int value) {
    int absval = value < 0 ? -value : value;
    if (absval > 2047 || (enc.config.mpeg1 && absval > 255))
        fatal_error(error_text("DC value out of range (%d)\n", value));
    int size = 0;
    while (absval >> size) ++size;
    write_bits(table[size].code, table[size].length);
    // Negative differentials go out as value + 2^size - 1, so they start with a 0 bit.
    if (size > 0) write_bits(value >= 0 ? value : value + (1 << size) - 1, size);
}

void write_dc_luminance(int value) { write_dc(dc_luminance_size_table, value); }

void write_dc_chrominance(int value) { write_dc(dc_chrominance_size_table, value); }

namespace {

// The scan position of every raster position, for each scan.
struct inverse_scan_tables {
    uint8_t position[2][64];
    inverse_scan_tables() {
        for (int s = 0; s < 2; ++s)
            for (int n = 0; n < 64; ++n) position[s][scan_table[s][n]] = static_cast<uint8_t>(n);
    }
};
const inverse_scan_tables inverse_scan;

// Bit n set where the coefficient at scan position n is not zero. Coded
// blocks hold few coefficients, so the loops below visit those alone.
uint64_t coded_positions(const int16_t* block, int alternate_scan) {
    uint64_t raster = quantise_k.nonzero_mask(block);
    const uint8_t* position = inverse_scan.position[alternate_scan];
    uint64_t scan = 0;
    for (; raster; raster &= raster - 1) scan |= uint64_t{1} << position[__builtin_ctzll(raster)];
    return scan;
}

}  // namespace

void write_intra_block(const int16_t* block, int cc) {
    const picture_values& pic = enc.picture;
    int dct_diff = block[0] - enc.run.dc_dct_pred[cc];
    enc.run.dc_dct_pred[cc] = block[0];
    if (cc == 0)
        write_dc_luminance(dct_diff);
    else
        write_dc_chrominance(dct_diff);

    const unsigned char* scan = scan_table[pic.alternate_scan];
    int last = 0;
    for (uint64_t m = coded_positions(block, pic.alternate_scan) & ~uint64_t{1}; m; m &= m - 1) {
        const int n = __builtin_ctzll(m);
        write_ac(n - last - 1, block[scan[n]], pic.intra_vlc_format);
        last = n;
    }
    if (pic.intra_vlc_format)
        write_bits(6, 4);
    else
        write_bits(2, 2);
}

void write_non_intra_block(const int16_t* block) {
    const int alternate = enc.picture.alternate_scan;
    const unsigned char* scan = scan_table[alternate];
    uint64_t m = coded_positions(block, alternate);
    if (m) {
        int n = __builtin_ctzll(m);
        write_first_ac(n, block[scan[n]]);
        for (int last = n; (m &= m - 1);) {
            n = __builtin_ctzll(m);
            write_ac(n - last - 1, block[scan[n]], 0);
            last = n;
        }
    }
    write_bits(2, 2);
}

void write_first_ac(int run, int signed_level) {
    if (run == 0 && (signed_level == 1 || signed_level == -1))
        write_bits(signed_level < 0 ? 3 : 2, 2);
    else
        write_ac(run, signed_level, 0);
}

void write_ac(int run, int signed_level, int vlc_format) {
    const encoder_config& cfg = enc.config;
    int level = signed_level < 0 ? -signed_level : signed_level;
    if (run < 0 || run > 63 || level == 0 || level > 2047 || (cfg.mpeg1 && level > 255))
        fatal_error(error_text("AC value out of range (run=%d, signed_level=%d)\n", run, signed_level));

    const dct_coefficients_table& table = vlc_format ? dct_coefficients_table_one : dct_coefficients_table_zero;
    const vlc_entry* ptab = nullptr;
    if (run < 2 && level < 41)
        ptab = &table.a[run][level - 1];
    else if (run < 32 && level < 6)
        ptab = &table.b[run - 2][level - 1];

    if (ptab && ptab->length != 0) {
        // The code and its sign bit in one write.
        write_bits(ptab->code << 1 | (signed_level < 0 ? 1 : 0), ptab->length + 1);
        return;
    }

    write_bits(escape_code, escape_length);
    write_bits(run, 6);
    if (!cfg.mpeg1) {
        write_bits(signed_level, 12);
    } else {
        // Levels beyond +-127 take a marker byte before their low eight bits.
        if (signed_level > 127) write_bits(0, 8);
        if (signed_level < -127) write_bits(128, 8);
        write_bits(signed_level, 8);
    }
}

void write_motion_vector_component(int delta, int f_code) {
    int r_size = f_code - 1;
    int f = 1 << r_size;
    int low = -16 * f;
    int high = 16 * f - 1;
    int range = 32 * f;

    if (delta > high)
        delta -= range;
    else if (delta < low)
        delta += range;

    int motion_code;
    int motion_residual;
    if (delta < low || delta > high) {
        std::fputs("invalid motion vector\n", stderr);
        // Send the largest code the table has rather than read past it.
        motion_code = delta < 0 ? -16 : 16;
        motion_residual = f - 1;
    } else {
        int temp = (delta < 0 ? -delta : delta) + f - 1;
        motion_code = temp >> r_size;
        if (delta < 0) motion_code = -motion_code;
        motion_residual = temp & (f - 1);
    }

    write_motion_code(motion_code);
    if (r_size > 0 && motion_code != 0) write_bits(motion_residual, r_size);
}

void write_motion_code(int code) {
    int magnitude = code < 0 ? -code : code;
    write_bits(motion_code_table[magnitude].code, motion_code_table[magnitude].length);
    if (code != 0) write_bits(code < 0 ? 1 : 0, 1);
}

void write_dmvector(int value) {
    if (value == 0)
        write_bits(0, 1);
    else if (value > 0)
        write_bits(2, 2);
    else
        write_bits(3, 2);
}
