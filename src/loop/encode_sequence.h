// The sequence encoding loop.
#pragma once

// threads: how many threads code each picture (1: the calling thread alone).
void encode_sequence(int threads);
