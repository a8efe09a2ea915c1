#include "driver/init_encoder.h"

#include <cstdio>

#include "bitstream/bit_writer.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "startup/kernels.h"

void init_encoder() {
    init_bit_writer();
    init_kernels(cpu_flags());

    encoder_state& e = enc;
    e.mb_width = (e.horizontal_size + 15) / 16;
    e.mb_height = e.progressive_sequence ? (e.vertical_size + 15) / 16 : 2 * ((e.vertical_size + 31) / 32);
    e.mb_height2 = e.field_pictures ? e.mb_height >> 1 : e.mb_height;
    e.width = 16 * e.mb_width;
    e.height = 16 * e.mb_height;
    e.chrom_width = e.chroma_format == 3 ? e.width : e.width >> 1;
    e.chrom_height = e.chroma_format != 1 ? e.height : e.height >> 1;
    e.height2 = e.field_pictures ? e.height >> 1 : e.height;
    e.width2 = e.field_pictures ? e.width << 1 : e.width;
    e.chrom_width2 = e.field_pictures ? e.chrom_width << 1 : e.chrom_width;
    e.block_count = block_count_table[e.chroma_format - 1];

    e.clip_storage = make_zeroed<uint8_t>(1024);
    e.clip_table = e.clip_storage.get() + 384;
    for (int i = -384; i < 640; ++i) e.clip_table[i] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));

    frame_planes* frames[7] = {&e.new_ref_frame, &e.old_ref_frame, &e.aux_ref_frame, &e.new_org_frame,
                               &e.old_org_frame, &e.aux_org_frame, &e.pred_frame};
    for (int k = 0; k < 3; ++k) {
        std::size_t size = k == 0 ? static_cast<std::size_t>(e.width) * e.height
                                  : static_cast<std::size_t>(e.chrom_width) * e.chrom_height;
        for (int f = 0; f < 7; ++f) {
            e.frame_storage[f][k] = make_zeroed<uint8_t>(size);
            (*frames[f])[k] = e.frame_storage[f][k].get();
        }
    }

    std::size_t mb_count = static_cast<std::size_t>(e.mb_width) * e.mb_height2;
    e.mb_info_storage = make_zeroed<macroblock_info>(mb_count);
    e.mb_info = e.mb_info_storage.get();
    e.blocks_storage = make_zeroed<int16_t>(mb_count * e.block_count * 64);
    e.blocks = e.blocks_storage.get();

    if (!e.statistics_file_name.empty() && e.statistics_file_name[0] == '-') {
        e.statistics_file = stdout;
    } else {
        e.statistics_file = std::fopen(e.statistics_file_name.c_str(), "w");
        if (!e.statistics_file)
            fatal_error(error_text("Couldn't create statistics output file %s", e.statistics_file_name.c_str()));
    }
}
