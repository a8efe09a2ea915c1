#include "ratecontrol/rate_control.h"
rate_control_state rc;
void rc_init_sequence() {}
void rc_init_gop(int, int) {}
void rc_init_picture(const uint8_t*) {}
void compute_activities(const uint8_t*) {}
double variance_8x8(const uint8_t*, int) { return 0.0; }
int rc_first_mquant() { return 2; }
int rc_mquant(int) { return 2; }
void rc_update_picture() {}
