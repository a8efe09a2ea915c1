// Reading source pictures (formats 0, 1, 2) into a frame buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/frame_planes.h"

// The base name of source picture number, checked to leave room for the
// suffix of the configured input format.
std::string source_frame_name(int number);
void load_source_frame(const char* name, frame_planes frame);

// The source picture of display frame display_number, from the --input
// stream when there is one, else from the files the pattern names: its name
// for the trace, then the picture itself.
std::string source_picture_name(int display_number);
void load_source_picture(int display_number, const std::string& name, frame_planes frame);

void extend_borders(uint8_t* plane, int visible_columns, int visible_rows, int stride, int total_rows);
void downsample_444_to_422(const uint8_t* src, uint8_t* dst);
void downsample_422_to_420(const uint8_t* src, uint8_t* dst);
int header_char(FILE* file);
int header_integer(FILE* file);

// Visible chrominance size of a source or reconstruction file.
int chroma_columns();
int chroma_rows();

// Fatal when the reconstruction files would overwrite the source pictures.
void check_picture_patterns();
