#include "stats/picture_stats.h"
void plane_error_stats(const uint8_t*, const uint8_t*, int, int, int, double* v, double* m) { *v = *m = 0; }
void compute_snr(frame_planes, frame_planes) {}
void print_picture_statistics() {}
