#pragma once
// What the fuzz targets share: a virtual-time SDK reused across runs, and a way to stop on a
// broken invariant that libFuzzer reports like a crash.

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string_view>

#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex::fuzzing {

// Reports a broken invariant with the input that broke it.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
inline void require(bool holds, const char* what) {
  if (!holds) fail(what);
}

// One SDK on a virtual-time headless port with a scripted HTTP client, rebuilt every
// `runsPerSdk` runs so that what runs leave behind (store keys, opened links) stays bounded.
class FuzzSdk {
 public:
  using Setup = std::function<void(testing_support::TestSdk&)>;
  explicit FuzzSdk(int runsPerSdk = 256, Setup setup = {});

  // The SDK for this run, its log cleared.
  testing_support::TestSdk& next();
  testing_support::ScriptedHttpClient& http() { return *http_; }
  // Answers every request with `status` and `body` from now on.
  void answer(int status, std::string body);

 private:
  const int runsPerSdk_;
  const Setup setup_;
  int runs_ = 0;
  std::shared_ptr<testing_support::ScriptedHttpClient> http_;
  std::unique_ptr<testing_support::TempDir> dir_;
  std::unique_ptr<testing_support::TestSdk> sdk_;
};

}  // namespace orvex::fuzzing
