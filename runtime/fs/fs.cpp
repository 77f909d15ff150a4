// Placeholder until the directory library lands.
#include "runtime/fs/fs.h"

void dir_end() {}
