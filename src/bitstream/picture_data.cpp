#include "bitstream/picture_data.h"
#include "bitstream/headers.h"
#include "driver/encoder_state.h"
#include "ratecontrol/rate_control.h"
#include "ratecontrol/vbv.h"
void write_picture(const uint8_t* frame) {
    rc_init_picture(frame);
    write_picture_header();
    if (!enc.mpeg1) write_picture_coding_extension();
    rc_update_picture();
    vbv_end_of_picture();
}
void write_address_increment(int) {}
void write_macroblock_type(int, int) {}
void write_coded_block_pattern(int) {}
