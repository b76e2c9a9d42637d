// The desktop port's tests. GTK starts lazily (haveDisplay), so listing the tests needs no display.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
