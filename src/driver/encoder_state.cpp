#include "driver/encoder_state.h"

#include "driver/coding_types.h"
#include "driver/fatal.h"

encoder_state enc;

void reset_encoder_state() { enc = encoder_state{}; }

void* zeroed_allocation(std::size_t count, std::size_t size) {
    void* p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (!p) fatal_error("malloc failed\n");
    return p;
}

picture_sizes derive_sizes(int horizontal_size, int vertical_size, int progressive_sequence, int field_pictures,
                           int chroma_format) {
    picture_sizes s;
    s.mb_width = (horizontal_size + 15) / 16;
    s.mb_height = progressive_sequence ? (vertical_size + 15) / 16 : 2 * ((vertical_size + 31) / 32);
    s.mb_height2 = field_pictures ? s.mb_height >> 1 : s.mb_height;
    s.width = 16 * s.mb_width;
    s.height = 16 * s.mb_height;
    s.chrom_width = chroma_format == CHROMA444 ? s.width : s.width >> 1;
    s.chrom_height = chroma_format != CHROMA420 ? s.height : s.height >> 1;
    s.height2 = field_pictures ? s.height >> 1 : s.height;
    s.width2 = field_pictures ? s.width << 1 : s.width;
    s.chrom_width2 = field_pictures ? s.chrom_width << 1 : s.chrom_width;
    s.block_count = block_count_table[chroma_format - 1];
    return s;
}
