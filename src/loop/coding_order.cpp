#include "loop/coding_order.h"

#include "driver/coding_types.h"

frame_plan plan_frame(int i, int N, int M, int frame_count) {
    frame_plan p{};
    p.gop_start = N * ((i + M - 1) / N) - (M - 1);
    if (p.gop_start < 0) p.gop_start = 0;
    p.reference = i == 0 || (i - 1) % M == 0;

    if (p.reference) {
        p.display_number = i == 0 ? 0 : i + M - 1;
        if (p.display_number >= frame_count) p.display_number = frame_count - 1;
        p.new_gop = i == p.gop_start;
        if (p.new_gop) {
            p.pict_type = I_TYPE;
            p.closed_gop = i == 0;
            p.motion_entry = -1;
            int gop_size = i == 0 ? N - (M - 1) : N;
            if (gop_size > frame_count - p.gop_start) gop_size = frame_count - p.gop_start;
            p.np = i == 0 ? (gop_size + 2 * (M - 1)) / M - 1 : (gop_size + M - 1) / M - 1;
            p.nb = gop_size - p.np - 1;
        } else {
            p.pict_type = P_TYPE;
            p.motion_entry = 0;
        }
    } else {
        p.pict_type = B_TYPE;
        p.display_number = i - 1;
        p.motion_entry = (i - 2) % M + 1;
    }
    p.temporal_reference = p.display_number - p.gop_start;
    return p;
}
