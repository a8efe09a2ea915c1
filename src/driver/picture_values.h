// The values of the picture being coded, set by the sequence loop alone.
#pragma once

struct picture_values {
    int pict_type = 0;
    int picture_structure = 0;
    int temporal_reference = 0;
    int forw_hor_f_code = 0, forw_vert_f_code = 0, back_hor_f_code = 0, back_vert_f_code = 0;
    int frame_pred_frame_dct = 0, q_scale_type = 0, intra_vlc_format = 0, alternate_scan = 0;
};
