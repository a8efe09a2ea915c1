#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<what>/.

Every seed is made here from the values it stands for, so a reader can see
what each one covers. The fuzzers add what they find to their own working
corpus; the seeds in the tree change only through this script.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))

# The 50 fixed lines of a small valid MPEG-2 parameter file (64x48, 4:2:0,
# progressive, N 6, M 3) and its motion lines.
BASE = [
    "morvane fuzz seed", "src%d", "rec%d", "-", "-", "stats.txt", "0", "3", "0", "00:00:00:00", "6", "3", "0",
    "0", "64", "48", "2", "3", "400000.0", "16", "0", "0", "4", "8", "1", "1", "1", "5", "5", "5", "64", "48",
    "0", "0", "1 1 1", "0 0 0", "0 0 0", "0 0 0", "0 0 0", "0", "1", "0", "0", "0.0", "0", "0", "0", "0", "0",
    "0"]
MOTION = ["2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"]
NAMES = [
    "id", "source", "recon", "intra", "non_intra", "statistics", "input_format", "frame_count",
    "first_frame_number", "time_code", "N", "M", "mpeg1", "field_pictures", "horizontal_size", "vertical_size",
    "aspect", "frame_rate_code", "bit_rate", "vbv_buffer_size", "low_delay", "constrained", "profile", "level",
    "progressive_sequence", "chroma_format", "video_format", "color_primaries", "transfer_characteristics",
    "matrix_coefficients", "display_horizontal_size", "display_vertical_size", "intra_dc_precision",
    "top_field_first", "frame_pred_frame_dct", "concealment", "q_scale_type", "intra_vlc_format",
    "alternate_scan", "repeat_first_field", "progressive_frame", "unused", "r", "avg_act", "Xi", "Xp", "Xb",
    "d0i", "d0p", "d0b"]


def par(motion=MOTION, comments=False, cut=None, **values):
    lines = list(BASE)
    for name, value in values.items():
        lines[NAMES.index(name)] = str(value)
    if comments:
        lines = [l if i == 0 else l + "   -- " + NAMES[i] for i, l in enumerate(lines)]
    text = "\n".join(lines + list(motion)) + "\n"
    return text[:cut].encode() if cut else text.encode()


def parameter_file():
    return {
        "mpeg2_progressive": par(),
        "mpeg2_with_comments": par(comments=True),
        "mpeg1_constrained": par(mpeg1=1, constrained=1, horizontal_size=352, vertical_size=288, chroma_format=2,
                                 q_scale_type="1 1 1"),
        "field_pictures_422_high": par(field_pictures=1, progressive_sequence=0, progressive_frame=0,
                                       chroma_format=2, profile=1, level=6, frame_pred_frame_dct="0 0 0",
                                       top_field_first=1, vertical_size=64),
        "m1_time_code": par(N=12, M=1, motion=["2 2 20 20"], time_code="10:00:00:00", frame_rate_code=4),
        "reserved_profile_444": par(profile=9, level=3, chroma_format=3, intra_dc_precision=3),
        "rate_start_values": par(r=1000, avg_act="400.5", Xi=1, Xp=2, Xb=3, d0i=10, d0p=20, d0b=30),
        "ends_early": par(cut=300),
        "matrix_names": par(intra="intra.mat", non_intra="-x", statistics="-", recon="-"),
    }


def matrix_text(values, separator=" "):
    return separator.join(str(v) for v in values).encode()


def quant_matrix():
    ramp = [1 + (3 * i) % 255 for i in range(64)]
    return {
        "intra_spaces": b"0" + matrix_text(ramp),
        "non_intra_lines": b"1" + matrix_text([16] * 64, "\n") + b"\n",
        "intra_signs_and_tabs": b"0\t+8 " + matrix_text(ramp[1:], "\t") + b" trailing words",
        "zero_entry": b"1" + matrix_text([0] + ramp[1:]),
        "too_large": b"0" + matrix_text(ramp[:63] + [99999999999999999999]),
        "short": b"1" + matrix_text(ramp[:40]),
    }


def rgb_pixels(width, height, seed):
    out = bytearray()
    for y in range(height):
        for x in range(width):
            out += bytes(((x * 9 + seed) % 256, (y * 7 + x) % 256, (x * y + seed * 3) % 256))
    return bytes(out)


def ppm_geometry(width, height, chroma_format, mpeg1=0, progressive_frame=1, matrix_index=1, progressive=1):
    return bytes((width - 1, height - 1, (chroma_format - 1) | mpeg1 << 2 | progressive_frame << 3 |
                  matrix_index << 4, progressive))


def ppm():
    return {
        "420_16x16": ppm_geometry(16, 16, 1) + b"P6\n16 16\n255\n" + rgb_pixels(16, 16, 1),
        "422_interlaced_comments": ppm_geometry(24, 8, 2, progressive_frame=0, progressive=0) +
        b"P6 # magic\n# a comment line\n24 8\n255# directly after\n" + rgb_pixels(24, 8, 2),
        "444_odd": ppm_geometry(7, 5, 3, matrix_index=5) + b"P6\n7 5\n255\n" + rgb_pixels(7, 5, 3),
        "mpeg1_odd_420": ppm_geometry(9, 3, 1, mpeg1=1) + b"P6\n9 3\n255\n" + rgb_pixels(9, 3, 4),
        "pixels_short": ppm_geometry(16, 16, 1) + b"P6\n16 16\n255\n" + rgb_pixels(16, 10, 5),
        "size_mismatch": ppm_geometry(16, 16, 1) + b"P6\n16 15\n255\n" + rgb_pixels(16, 16, 6),
        "comment_to_end": ppm_geometry(4, 4, 3) + b"P6\n4 4\n255 # no line end",
    }


def options():
    def argv(*args):
        return b"\0".join(a.encode() for a in args)
    return {
        "threads_and_names": argv("--threads=2", "in.par", "out.m2v"),
        "simd_then_names": argv("--simd=avx2", "a.par", "b.m2v"),
        "help": argv("--help"),
        "version_after_simd": argv("--simd=none", "--version"),
        "double_dash": argv("--", "--in.par", "out"),
        "unknown": argv("--bogus=1", "in.par", "out.m2v"),
        "missing_value": argv("--threads", "in.par", "out.m2v"),
        "bad_value": argv("--threads=0", "x", "y"),
        "three_names": argv("a", "b", "c"),
        "run_choices": argv("--no-dc-change", "--no-trace", "--quiet", "--progress", "--input=-", "in.par", "o"),
        "make_par": argv("--input=clip.y4m", "--make-par=clip.par"),
        "make_par_with_names": argv("--make-par=clip.par", "--input=clip.y4m", "in.par", "out.m2v"),
    }


# The leading bytes of an encode input, in the order fuzz_encode.cpp decodes
# them; each byte holds its value less the low end of its range.
ENCODE_FIELDS = [
    "simd", "input_format", "frame_count", "first_frame_number", "source_fault", "yuv_pictures", "M", "N_in_M",
    "mpeg1", "field_pictures", "chroma_format", "horizontal_size", "vertical_size", "aspect", "frame_rate_code",
    "bit_rate_lo", "bit_rate_hi", "bit_rate_shift", "vbv_lo", "vbv_hi", "profile_level", "id", "outputs",
    "hours", "minutes", "seconds", "frames", "low_delay", "constrained", "progressive_sequence", "video_format",
    "color_primaries", "transfer_characteristics", "matrix_coefficients", "display_horizontal_size",
    "display_vertical_size", "intra_dc_precision", "top_field_first", "tabs_lo", "tabs_hi", "repeat_first_field",
    "progressive_frame", "choices", "start_values"]
LOW = {"yuv_pictures": 1, "M": 1, "N_in_M": 1, "chroma_format": 1, "horizontal_size": 1, "vertical_size": 1,
       "aspect": 1, "frame_rate_code": 1}
# Index of a profile@level in fuzz_encode.cpp's table.
PROFILE_LEVEL = {"main@main": 0, "main@low": 1, "main@high1440": 2, "main@high": 3, "high@main": 4,
                 "high@high": 5, "simple@main": 6, "reserved": 7}
# Bits of the outputs byte.
RECON_FILES, INTRA_FILE, NON_INTRA_FILE, STATS_FILE = 1, 2, 4, 8
# Bits of the choices byte.
NO_DC_CHANGE, NO_TRACE, QUIET = 1, 2, 4


def tabs(frame_pred=(1, 1, 1), concealment=(0, 0, 0), q_scale=(0, 0, 0), intra_vlc=(0, 0, 0), alt_scan=(0, 0, 0)):
    bits = 0
    for t, tab in enumerate((frame_pred, concealment, q_scale, intra_vlc, alt_scan)):
        for i, flag in enumerate(tab):
            bits |= flag << (3 * t + i)
    return bits


def encode_seed(motion, samples, matrices=(), start=(), **values):
    v = {"simd": 2, "input_format": 0, "frame_count": 4, "M": 1, "N_in_M": 2, "chroma_format": 1,
         "horizontal_size": 32, "vertical_size": 32, "aspect": 2, "frame_rate_code": 3, "bit_rate": 400000,
         "vbv": 112, "profile_level": "main@main", "id": 1, "color_primaries": 1, "transfer_characteristics": 1,
         "matrix_coefficients": 1, "progressive_sequence": 1, "progressive_frame": 1, "tabs": tabs(),
         "display_horizontal_size": 32, "display_vertical_size": 32, "yuv_pictures": 1}
    v.update(values)
    rate, shift = v.pop("bit_rate") // 10, 0
    while rate > 65536:
        rate, shift = rate // 2, shift + 1
    v["bit_rate_lo"], v["bit_rate_hi"], v["bit_rate_shift"] = (rate - 1) & 255, (rate - 1) >> 8, shift
    vbv = v.pop("vbv") - 1
    v["vbv_lo"], v["vbv_hi"] = vbv & 255, vbv >> 8
    t = v.pop("tabs")
    v["tabs_lo"], v["tabs_hi"] = t & 255, t >> 8
    v["profile_level"] = PROFILE_LEVEL[v["profile_level"]]
    out = bytearray(v.get(name, 0) - LOW.get(name, 0) for name in ENCODE_FIELDS)
    for value in start:  # the rate-control start values whose bits start_values sets, in order
        out += value.to_bytes(4, "little")
    # Motion lines: f_codes less 1, search widths less 1.
    for line in motion:
        f_h, f_v, s_h, s_v = line
        out += bytes((f_h - 1, f_v - 1, s_h - 1, s_v - 1))
    for m in matrices:
        out += bytes(x - 1 for x in m)
    return bytes(out) + samples


def samples(count, seed):
    state, out = seed, bytearray()
    for i in range(count):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((i * 5 + (state >> 16) % 24) & 255)
    return bytes(out)


def encode():
    m3 = [(2, 2, 11, 11), (1, 1, 3, 3), (1, 1, 7, 7), (1, 1, 3, 3), (1, 1, 7, 7)]
    return {
        "mpeg2_progressive_m3": encode_seed(m3, samples(300, 1), M=3),
        "field_pictures_yuv": encode_seed(
            [(2, 2, 9, 9), (1, 1, 5, 5), (1, 1, 5, 5)], samples(500, 2), M=2, field_pictures=1,
            progressive_sequence=0, progressive_frame=0, top_field_first=1, tabs=tabs(frame_pred=(0, 0, 0)),
            vertical_size=48, input_format=1, yuv_pictures=3, outputs=RECON_FILES | STATS_FILE,
            choices=NO_DC_CHANGE | QUIET),
        "interlaced_422_ppm_m1": encode_seed(
            [(3, 3, 20, 12)], samples(200, 3), profile_level="high@main", chroma_format=2, progressive_sequence=0,
            progressive_frame=0, input_format=2, intra_dc_precision=2,
            tabs=tabs(frame_pred=(0, 0, 0), concealment=(1, 0, 0), q_scale=(1, 1, 1), intra_vlc=(1, 1, 0),
                      alt_scan=(1, 0, 1))),
        "mpeg1_16x1": encode_seed([(1, 1, 7, 7)], samples(64, 4), mpeg1=1, chroma_format=2, horizontal_size=16,
                                  vertical_size=1, frame_count=1, outputs=RECON_FILES | STATS_FILE),
        "mpeg1_1x16": encode_seed([(1, 1, 7, 7)], samples(64, 5), mpeg1=1, chroma_format=3, horizontal_size=1,
                                  vertical_size=16, frame_count=1, outputs=RECON_FILES | STATS_FILE),
        "444_matrices_start_values": encode_seed(
            [(1, 1, 4, 4), (1, 1, 2, 2), (2, 2, 8, 8), (1, 1, 3, 3), (1, 1, 3, 3), (1, 1, 2, 2), (1, 1, 5, 5)],
            samples(400, 6), M=4, N_in_M=1, profile_level="reserved", chroma_format=3, horizontal_size=24,
            vertical_size=20, bit_rate=10, outputs=INTRA_FILE | NON_INTRA_FILE | STATS_FILE, choices=NO_TRACE,
            matrices=([1 + (7 * i) % 255 for i in range(64)], [8 + i for i in range(64)]), start_values=0xFF,
            start=(5, 123456, 1, 2, 3, 4, 5, 6)),
        "missing_third_frame": encode_seed(m3, samples(100, 7), M=3, source_fault=3),
        # Regression: the last picture file number past INT_MAX overflowed an int.
        "regression_first_frame_number_int_max": encode_seed(m3, samples(100, 9), M=3, first_frame_number=253),
        "dual_prime_interlaced": encode_seed(
            [(2, 2, 10, 10)], samples(600, 8), progressive_sequence=0, progressive_frame=0,
            tabs=tabs(frame_pred=(0, 0, 0)), horizontal_size=48, vertical_size=64),
    }


# The control byte of a y4m input: M less 1, frame-rate code less 1, progressive
# frames, top field first, a picture size other than the header's.
def y4m_control(m=1, frame_rate_code=3, progressive=1, top_field_first=0, own_size=0):
    return bytes(((m - 1) | (frame_rate_code - 1) << 2 | progressive << 5 | top_field_first << 6 | own_size << 7,))


def y4m_stream(header, width, height, chroma_columns, chroma_rows, frames, frame_line=b"FRAME\n", cut=None):
    out = bytearray(header + b"\n")
    for n in range(frames):
        out += frame_line + samples(width * height + 2 * chroma_columns * chroma_rows, n + 1)
    return bytes(out[:cut] if cut else out)


def y4m():
    return {
        "420_m3_five_frames": y4m_control(m=3) + y4m_stream(b"YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C420jpeg", 16, 16, 8, 8, 5),
        "420_odd_mpeg1": y4m_control() + y4m_stream(b"YUV4MPEG2 W9 H7 F25:1 C420mpeg2 XYSCSS=420MPEG2", 9, 7, 5, 4, 2),
        "422_interlaced_frame_parameters": y4m_control(m=2, progressive=0, top_field_first=1) + y4m_stream(
            b"YUV4MPEG2 W24 H16 F30000:1001 It C422", 24, 16, 12, 16, 3, frame_line=b"FRAME Ixyz XA\n"),
        "444_rate_warning": y4m_control(m=4, frame_rate_code=8) + y4m_stream(b"YUV4MPEG2 C444 H8 W8 F24:1 Ib", 8, 8, 8, 8, 4),
        "ends_mid_frame": y4m_control(m=2) + y4m_stream(b"YUV4MPEG2 W16 H16", 16, 16, 8, 8, 3, cut=700),
        "size_mismatch": y4m_control(own_size=1) + y4m_stream(b"YUV4MPEG2 W16 H16 C420paldv", 16, 16, 8, 8, 1),
        "bad_frame_marker": y4m_control() + y4m_stream(b"YUV4MPEG2 W8 H8 C420", 8, 8, 4, 4, 2, frame_line=b"FRAMX\n"),
        "large_header": y4m_control() + b"YUV4MPEG2 W1920 H1080 F50:1 It A16:15 C420jpeg\nFRAME\n",
        "bad_fields": y4m_control() + b"YUV4MPEG2 W16 H0 F25:0 Iq C411\n",
    }


def main():
    for what, seeds in (("parameter_file", parameter_file()), ("quant_matrix", quant_matrix()), ("ppm", ppm()),
                        ("options", options()), ("encode", encode()), ("y4m", y4m())):
        folder = os.path.join(HERE, "corpus", what)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, content in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)


if __name__ == "__main__":
    main()
