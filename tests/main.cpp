// Test entry: the frame's heap is made once; each test starts the libraries it needs.
#include <gtest/gtest.h>

#include "platform/sys.h"

int main(int argc, char** argv) {
  sys_heap_start();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
