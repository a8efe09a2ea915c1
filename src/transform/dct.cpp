#include "transform/dct.h"
int64_t dc_change_counter = 0;
void prepare_forward_dct() {}
void prepare_inverse_dct() {}
void forward_dct(int16_t*) {}
void inverse_dct(int16_t*) {}
