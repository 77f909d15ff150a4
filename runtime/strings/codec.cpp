// Placeholder until the conversions land.
#include "runtime/strings/strings.h"

void utf8_to_temp(const char*, int32_t offset) { temp_reserve(0, offset)[0] = 0; }
