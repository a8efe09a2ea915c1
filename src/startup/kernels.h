// Start-up: every kernel table in use, filled for one set of processor flags.
#pragma once

void init_kernels(unsigned flags);
