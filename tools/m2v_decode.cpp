// Test client: decodes an MPEG-1/MPEG-2 video stream with libmpeg2 and
// writes the frames in display order as raw planar Y, Cb, Cr, each plane
// cropped to the picture's visible size. Prints the frame count and the
// number of invalid states met on standard error; exits 1 on any of them.
//
//   m2v_decode in.m2v out.yuv
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" {
#include <mpeg2.h>
}

namespace {

void write_frame(FILE* out, const mpeg2_sequence_t* seq, const mpeg2_fbuf_t* fbuf) {
    unsigned w = seq->picture_width, h = seq->picture_height;
    // Chroma subsampling from the coded sizes.
    unsigned cw = seq->chroma_width == seq->width ? w : w >> 1;
    unsigned ch = seq->chroma_height == seq->height ? h : h >> 1;
    for (unsigned y = 0; y < h; ++y) std::fwrite(fbuf->buf[0] + y * seq->width, 1, w, out);
    for (int c = 1; c < 3; ++c)
        for (unsigned y = 0; y < ch; ++y) std::fwrite(fbuf->buf[c] + y * seq->chroma_width, 1, cw, out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: m2v_decode in.m2v out.yuv\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + n);
    std::fclose(in);
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "cannot create %s\n", argv[2]);
        return 2;
    }

    mpeg2_accel(0);  // plain C paths: the reference behaviour
    mpeg2dec_t* dec = mpeg2_init();
    const mpeg2_info_t* info = mpeg2_info(dec);
    mpeg2_buffer(dec, data.data(), data.data() + data.size());
    int frames = 0, invalid = 0;
    bool done = false;
    while (!done) {
        mpeg2_state_t state = mpeg2_parse(dec);
        switch (state) {
            case STATE_BUFFER:
                done = true;  // the whole stream was handed over at once
                break;
            case STATE_SLICE:
            case STATE_END:
            case STATE_INVALID_END:
                if (state == STATE_INVALID_END) ++invalid;
                if (info->display_fbuf) {
                    write_frame(out, info->sequence, info->display_fbuf);
                    ++frames;
                }
                break;
            case STATE_INVALID:
                ++invalid;
                break;
            default:
                break;
        }
    }
    mpeg2_close(dec);
    if (std::fclose(out) != 0) return 2;
    std::fprintf(stderr, "frames=%d invalid=%d\n", frames, invalid);
    return invalid ? 1 : 0;
}
