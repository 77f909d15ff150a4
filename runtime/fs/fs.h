// Directory scans with a wildcard pattern, the current directory and deleting a file.
#pragma once

#include <cstdint>

void dir_end();
