// The conversion run. (For now: the banner of this build's edition.)
#include "app/run.h"

#include "runtime/console/console.h"

namespace {
constexpr bool kEditionV02 = PAGEHOP_EDITION_V02 != 0;
}

void run_state_clear() {}

void run_conversion() {
  console_open(2);
  console_write_line(kEditionV02 ? u"pagehop v0.2" : u"pagehop v0.1");
  console_close();
}
