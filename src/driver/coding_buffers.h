// Buffers allocated once at start-up: frames, macroblock records, blocks.
#pragma once

#include <cstdint>

#include "driver/allocation.h"
#include "driver/frame_planes.h"
#include "driver/macroblock_info.h"

struct coding_buffers {
    zeroed_array<uint8_t> clip_storage;
    uint8_t* clip_table = nullptr;  // valid for indices -384..639
    zeroed_array<uint8_t> frame_storage[7][3];
    frame_planes new_ref_frame{}, old_ref_frame{}, aux_ref_frame{};
    frame_planes new_org_frame{}, old_org_frame{}, aux_org_frame{};
    frame_planes pred_frame{};
    zeroed_array<macroblock_info> mb_info_storage;
    macroblock_info* mb_info = nullptr;  // mb_width * mb_height2 records
    zeroed_array<int16_t> blocks_storage;
    int16_t* blocks = nullptr;  // block n at blocks + 64 * n
};
