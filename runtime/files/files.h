// Buffered, line-oriented text files under object numbers.
#pragma once

#include <cstdint>

void file_init();
void file_end();
