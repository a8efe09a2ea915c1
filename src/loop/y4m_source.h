// --input: the source pictures come from a YUV4MPEG2 stream (a file, or
// standard input) instead of one set of files per frame.
#pragma once

#include <string>

#include "driver/frame_planes.h"

// Opens the stream ("-" is standard input), reads its header and holds it
// against the parameter file: a picture size or chroma format of its own is
// a fatal error, another frame rate or interlacing a warning.
void open_source_stream(const std::string& name);
bool source_stream_open();
// Closes it again (for tests); standard input stays open.
void close_source_stream();

// Frame display_number (counted from 0) of the stream into frame, padded and
// its borders extended as per-frame files would be. The stream is read
// straight through; frames the coding order takes later wait in a window.
void load_stream_frame(int display_number, frame_planes frame);
// How the loop's trace names that frame.
std::string stream_frame_name(int display_number);
// Frames the window holds now and at most so far.
int stream_window_frames();
int stream_window_peak();
