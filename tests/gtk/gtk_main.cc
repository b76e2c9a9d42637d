// The desktop port's tests. GTK starts lazily (haveDisplay), so listing the tests needs no display.
#include <gtest/gtest.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
// GLib and GStreamer are built without frame pointers, so the fast unwinder stops inside them and
// a leak of theirs reads as a bare g_malloc; the full unwinder reaches the frames lsan.supp names.
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
#endif

int main(int argc, char** argv) {
  // Xvfb has no GPU: the window tests draw with cairo and keep GL out of this process (software
  // GL is slow there, and its driver leaves an allocation behind when GTK unloads it after
  // probing). Accessibility and the session bus are not what these tests check.
  setenv("GDK_DEBUG", "gl-disable", 0);
  setenv("GSK_RENDERER", "cairo", 0);
  setenv("GTK_A11Y", "none", 0);
  setenv("NO_AT_BRIDGE", "1", 0);
  // The conformance cases play the user's pointer through the X server (XTest).
  setenv("GDK_BACKEND", "x11", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
