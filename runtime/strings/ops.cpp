// Placeholder until the string operations land.
#include "runtime/strings/strings.h"
