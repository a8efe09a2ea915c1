// The sequence encoding loop.
#pragma once

void encode_sequence();
