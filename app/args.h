// The command line: the parameters after the program's name, one per call.
#pragma once

#include <cstdint>

// Sets the cursor so that the next args_next gives the first parameter.
void args_init();

// The next parameter, without its quote characters, left on the stack at the offset; the
// empty string once none is left. Windows: taken from the process command line, read afresh
// on every call. POSIX: the next element of the argument vector, decoded from UTF-8.
void args_next(int32_t offset);

// Token `index` of a command line (0 is the program's name), split by the rules of
// base/cmdline.h, without its quote characters, left on the stack at the offset. Returns 1 when
// the token exists, else 0 and the empty string.
int32_t args_token(const char16_t* line, int32_t index, int32_t offset);
