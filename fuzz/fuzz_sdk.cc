#include "fuzz/fuzz_sdk.h"

#include "ports/linux/memory_log.h"

namespace orvex::fuzzing {

FuzzSdk::FuzzSdk(int runsPerSdk, Setup setup) : runsPerSdk_(runsPerSdk), setup_(std::move(setup)) {}

testing_support::TestSdk& FuzzSdk::next() {
  if (!sdk_ || ++runs_ >= runsPerSdk_) {
    runs_ = 0;
    // The old SDK goes before its directory, and both before the new ones are made.
    sdk_.reset();
    dir_ = std::make_unique<testing_support::TempDir>();
    http_ = std::make_shared<testing_support::ScriptedHttpClient>();
    testing_support::TestSdkOptions options;
    options.http = http_;
    sdk_ = std::make_unique<testing_support::TestSdk>(dir_->path(), options);
    if (setup_) setup_(*sdk_);
  }
  sdk_->port().log->clear();
  return *sdk_;
}

void FuzzSdk::answer(int status, std::string body) {
  http_->respond([status, body = std::move(body)](const HttpRequest&) {
    return testing_support::ScriptedHttpClient::answer(status, body);
  });
}

}  // namespace orvex::fuzzing
