#include "ratecontrol/vbv.h"
vbv_state vbv;
void compute_vbv_delay() {}
void vbv_end_of_picture() {}
