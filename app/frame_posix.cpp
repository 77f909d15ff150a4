// The POSIX build's start and end order of the runtime libraries.
#include "app/args.h"
#include "app/frame.h"
#include "platform/sys.h"
#include "runtime/console/console.h"
#include "runtime/files/files.h"
#include "runtime/fs/fs.h"
#include "runtime/strings/strings.h"

void runtime_init() {
  sys_process_init();
  temp_init();
  console_init();
  file_init();
  args_init();
}

void runtime_end() {
  file_end();
  console_end();
  dir_end();
}
