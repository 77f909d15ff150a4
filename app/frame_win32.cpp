// The Windows build's start and end order of the runtime libraries.
#include "app/args.h"
#include "app/frame.h"
#include "runtime/files/files.h"
#include "runtime/fs/fs.h"
#include "runtime/strings/strings.h"

void runtime_init() {
  temp_init();
  file_init();
  args_init();
}

void runtime_end() {
  dir_end();
  file_end();
}
