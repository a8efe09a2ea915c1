// Start-up: derived sizes, tables, buffers and the statistics file.
#pragma once

void init_encoder();
