// Sequence, GOP and picture headers, extensions, user data, end code.
#pragma once

extern const unsigned char scan_table[2][64];

void write_sequence_header();
void write_sequence_extension();
void write_sequence_display_extension();
void write_user_data(const char* text);
void write_gop_header(int frame, int closed_gop);
int frame_to_time_code(int frames);
void write_picture_header();
void write_picture_coding_extension();
void write_sequence_end();
