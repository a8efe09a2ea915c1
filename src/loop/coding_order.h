// Where a frame of the coding order stands: its type, its place in display
// order and in its GOP, the buffers it is coded into, its motion entry.
#pragma once

struct frame_plan {
    int pict_type;           // I_TYPE, P_TYPE or B_TYPE
    int display_number;      // frame number in display order
    int gop_start;           // display number of the first frame of the frame's GOP
    int temporal_reference;  // display_number - gop_start
    bool reference;          // an I or P frame: the reference pairs are exchanged and it goes into the new pair
    bool new_gop;            // an I frame: a GOP header and a new rate-control GOP
    bool closed_gop;         // the first GOP of the sequence
    int np, nb;              // P and B frames of a new GOP (0 otherwise)
    int motion_entry;        // motion_data entry of a P (0) or B (1..M-1) frame; -1 for I
};

// Frame i of the coding order (0-based) of a sequence of frame_count frames
// with GOP length N and reference distance M. B frames are coded after the
// reference that follows them; the first GOP is M - 1 frames shorter, the
// last reference is lowered to the last frame when the sequence ends early.
frame_plan plan_frame(int i, int N, int M, int frame_count);
