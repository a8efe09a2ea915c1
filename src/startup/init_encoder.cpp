#include "startup/init_encoder.h"

#include <cstdio>

#include "bitstream/bit_writer.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "startup/kernels.h"

void init_encoder() {
    init_bit_writer();
    init_kernels(cpu_flags());

    encoder_config& cfg = enc.config;
    static_cast<picture_sizes&>(cfg) = derive_sizes(cfg.horizontal_size, cfg.vertical_size, cfg.progressive_sequence,
                                                    cfg.field_pictures, cfg.chroma_format);

    coding_buffers& b = enc.buffers;
    b.clip_storage = make_zeroed<uint8_t>(1024);
    b.clip_table = b.clip_storage.get() + 384;
    for (int i = -384; i < 640; ++i) b.clip_table[i] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));

    frame_planes* frames[7] = {&b.new_ref_frame, &b.old_ref_frame, &b.aux_ref_frame, &b.new_org_frame,
                               &b.old_org_frame, &b.aux_org_frame, &b.pred_frame};
    for (int k = 0; k < 3; ++k) {
        std::size_t size = k == 0 ? static_cast<std::size_t>(cfg.width) * cfg.height
                                  : static_cast<std::size_t>(cfg.chrom_width) * cfg.chrom_height;
        for (int f = 0; f < 7; ++f) {
            b.frame_storage[f][k] = make_zeroed<uint8_t>(size);
            (*frames[f])[k] = b.frame_storage[f][k].get();
        }
    }

    std::size_t mb_count = static_cast<std::size_t>(cfg.mb_width) * cfg.mb_height2;
    b.mb_info_storage = make_zeroed<macroblock_info>(mb_count);
    b.mb_info = b.mb_info_storage.get();
    b.blocks_storage = make_zeroed<int16_t>(mb_count * cfg.block_count * 64);
    b.blocks = b.blocks_storage.get();

    if (!cfg.statistics_file_name.empty() && cfg.statistics_file_name[0] == '-') {
        enc.files.statistics_file = stdout;
    } else {
        enc.files.statistics_file = std::fopen(cfg.statistics_file_name.c_str(), "w");
        if (!enc.files.statistics_file)
            fatal_error(error_text("Couldn't create statistics output file %s", cfg.statistics_file_name.c_str()));
    }
}
