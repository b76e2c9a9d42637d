#include "ports/headless/headless_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "ports/headless/headless_user_interface.h"
#include "ports/headless/virtual_time.h"
#include "ports/linux/device.h"
#include "ports/linux/file_store.h"
#include "ports/linux/lifecycle.h"
#include "ports/linux/local_file_system.h"
#include "ports/linux/memory_log.h"
#include "ports/linux/real_time_loop.h"
#include "ports/linux/recorded_haptics.h"
#include "tests/support/test_sdk.h"

namespace orvex::headless {
using namespace linux_port;

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using testing_support::TempDir;

// ---- life cycle --------------------------------------------------------------------------------

class LifecycleTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualTime> vt = std::make_shared<VirtualTime>(WallTime(seconds(0)));
  Lifecycle lifecycle{vt};
  std::vector<std::string> calls;
};

TEST_F(LifecycleTest, ObserversRunOnTheMainQueueInRegistrationOrder) {
  bool onMain = false;
  auto first = lifecycle.observe(AppNotification::didEnterBackground, [&] {
    calls.push_back("first");
    onMain = vt->mainQueue()->isCurrent();
  });
  auto other =
      lifecycle.observe(AppNotification::didBecomeActive, [&] { calls.push_back("active"); });
  auto second =
      lifecycle.observe(AppNotification::didEnterBackground, [&] { calls.push_back("second"); });

  EXPECT_EQ(lifecycle.state(), AppState::active);
  lifecycle.send(AppNotification::didEnterBackground);
  EXPECT_EQ(lifecycle.state(), AppState::background) << "the state changes at once";
  EXPECT_TRUE(calls.empty()) << "observers are posted, not called inline";
  vt->runUntilIdle();
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(onMain);

  lifecycle.send(AppNotification::willEnterForeground);
  EXPECT_EQ(lifecycle.state(), AppState::inactive);
  lifecycle.send(AppNotification::didBecomeActive);
  EXPECT_EQ(lifecycle.state(), AppState::active);
  lifecycle.send(AppNotification::willResignActive);
  EXPECT_EQ(lifecycle.state(), AppState::inactive);
  vt->runUntilIdle();
  EXPECT_EQ(calls.back(), "active");
}

TEST_F(LifecycleTest, ResetSubscriptionsStopDeliveryEvenWhenAlreadyPosted) {
  Subscription second;
  auto first = lifecycle.observe(AppNotification::didEnterBackground, [&] {
    calls.push_back("first");
    second.reset();
  });
  second =
      lifecycle.observe(AppNotification::didEnterBackground, [&] { calls.push_back("second"); });
  lifecycle.send(AppNotification::didEnterBackground);
  vt->runUntilIdle();
  EXPECT_EQ(calls, std::vector<std::string>{"first"});
  first.reset();
  lifecycle.send(AppNotification::didEnterBackground);
  vt->runUntilIdle();
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(LifecycleTest, BackgroundTasksExpireOnceOnTheMainQueueAndEndByTheirIds) {
  bool expiredOnMain = false;
  int expirations = 0;
  const auto a = lifecycle.beginBackgroundTask("upload", [&] {
    ++expirations;
    expiredOnMain = vt->isMainThread();
  });
  const auto b = lifecycle.beginBackgroundTask("flush", nullptr);
  EXPECT_NE(a, kInvalidBackgroundTask);
  EXPECT_NE(a, b);
  EXPECT_EQ(lifecycle.activeBackgroundTaskCount(), 2u);
  EXPECT_EQ(lifecycle.activeBackgroundTaskNames(), (std::vector<std::string>{"upload", "flush"}));
  lifecycle.expireBackgroundTasks();
  EXPECT_EQ(expirations, 0);
  vt->runUntilIdle();
  EXPECT_EQ(expirations, 1);
  EXPECT_TRUE(expiredOnMain);
  lifecycle.expireBackgroundTasks();
  vt->runUntilIdle();
  EXPECT_EQ(expirations, 1);
  lifecycle.endBackgroundTask(a);
  lifecycle.endBackgroundTask(a);
  lifecycle.endBackgroundTask(kInvalidBackgroundTask);
  EXPECT_EQ(lifecycle.activeBackgroundTaskCount(), 1u);
  lifecycle.endBackgroundTask(b);
  EXPECT_EQ(lifecycle.activeBackgroundTaskCount(), 0u);
}

// ---- log, device, bundle -----------------------------------------------------------------------

TEST(MemoryLog, KeepsLinesFromEveryThread) {
  MemoryLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) log.write("Orvex::T" + std::to_string(t) + " line");
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(log.lines().size(), 400u);
  EXPECT_EQ(log.count("Orvex::T2 "), 100u);
  EXPECT_TRUE(log.contains("T3 line"));
  EXPECT_FALSE(log.contains("T4"));
  log.clear();
  EXPECT_TRUE(log.lines().empty());
}

TEST(DeviceFacts, LocaleNamesBecomeLanguageTags) {
  EXPECT_EQ(languageTagFromLocale("ko_KR.UTF-8"), "ko-KR");
  EXPECT_EQ(languageTagFromLocale("en_US"), "en-US");
  EXPECT_EQ(languageTagFromLocale("de_DE@euro"), "de-DE");
  for (const char* c : {"C", "POSIX", "C.UTF-8"}) EXPECT_EQ(languageTagFromLocale(c), "en-US");
  EXPECT_EQ(languageTagFromLocale("fr"), "fr");
  EXPECT_EQ(languageTagFromLocale(""), "");
  EXPECT_EQ(languageTagFromLocale("bad locale"), "");
}

TEST(DeviceFacts, FromMachineReadsTheEnvironment) {
  ::setenv("LANGUAGE", "ja_JP:ko_KR.UTF-8", 1);
  ::setenv("LC_ALL", "", 1);
  ::setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
  ::setenv("LANG", "ko_KR.UTF-8", 1);
  ::setenv("TZ", "Asia/Seoul", 1);
  ::tzset();
  const auto o = DeviceOptions::fromMachine();
  EXPECT_EQ(o.preferredLanguages, (std::vector<std::string>{"ja-JP", "ko-KR", "de-DE"}));
  EXPECT_EQ(o.timeZoneIdentifier, "Asia/Seoul");
  if (fs::exists("/usr/share/zoneinfo/Asia/Seoul")) {
    EXPECT_EQ(o.timeZoneOffsetSeconds, 9 * 3600);
  }
  EXPECT_EQ(o.model.rfind("Linux ", 0), 0u);
  EXPECT_FALSE(o.systemVersion.empty());

  ::unsetenv("LANGUAGE");
  ::setenv("LC_MESSAGES", "", 1);
  ::setenv("LANG", "C", 1);
  EXPECT_EQ(DeviceOptions::fromMachine().preferredLanguages, std::vector<std::string>{"en-US"});
}

TEST(DeviceFacts, DeviceAndBundleHaveDefaultsAndTakeUpdates) {
  DeviceOptions o;
  o.advertisingIdentifier = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
  LinuxDevice device(o);
  EXPECT_EQ(device.advertisingIdentifier(), o.advertisingIdentifier);
  EXPECT_EQ(device.screenSize().height, 844);
  EXPECT_EQ(device.trackingAuthorization(), TrackingAuthorization::notDetermined);
  device.update([](DeviceOptions& d) {
    d.interfaceStyle = InterfaceStyle::dark;
    d.tracking = TrackingAuthorization::authorized;
  });
  EXPECT_EQ(device.interfaceStyle(), InterfaceStyle::dark);
  EXPECT_EQ(device.trackingAuthorization(), TrackingAuthorization::authorized);

  LinuxBundle bundle(BundleOptions{});
  EXPECT_EQ(bundle.bundleIdentifier(), "com.example.host");
  EXPECT_EQ(bundle.infoValue("CFBundleShortVersionString"), Value("1.0"));
  EXPECT_FALSE(bundle.infoValue("missing"));
  BundleOptions none;
  none.bundleIdentifier.reset();
  LinuxBundle bare(none);
  EXPECT_FALSE(bare.bundleIdentifier());
  EXPECT_FALSE(bare.resourceDirectory());
  // Without one given, the SDK's resources are looked for.
  if (auto found = bare.sdkResourceDirectory()) {
    EXPECT_TRUE(fs::is_directory(*found));
  }
}

// ---- files -------------------------------------------------------------------------------------

std::optional<FileError::Code> codeOf(const std::optional<FileError>& error) {
  return error ? std::optional(error->code) : std::nullopt;
}

TEST(LocalFileSystem, WritesReadsListsMovesAndRemoves) {
  TempDir dir;
  auto vt = std::make_shared<VirtualTime>(WallTime(seconds(1767225600)));
  LocalFileSystem files(dir.path() / "caches", dir.path() / "tmp", vt);
  EXPECT_TRUE(files.isDirectory(files.cachesDirectory()));
  const auto orvex = files.cachesDirectory() / "orvex";
  EXPECT_FALSE(files.createDirectories(orvex));
  EXPECT_FALSE(files.createDirectories(orvex)) << "an existing directory is fine";

  EXPECT_FALSE(files.writeFile(orvex / "a.js", "one"));
  EXPECT_FALSE(files.writeFile(orvex / "a.js", "two"));
  EXPECT_EQ(files.readFile(orvex / "a.js"), "two");
  EXPECT_FALSE(files.readFile(orvex / "missing"));
  EXPECT_FALSE(files.readFile(orvex)) << "a directory is not a file";
  EXPECT_EQ(files.modificationTime(orvex / "a.js"), vt->now()) << "stamped with the port's clock";
  EXPECT_EQ(codeOf(files.createDirectories(orvex / "a.js")), FileError::Code::exists);
  EXPECT_EQ(codeOf(files.writeFile(orvex / "no" / "such.txt", "x")), FileError::Code::notFound);

  EXPECT_FALSE(files.writeFile(orvex / ".hidden", "h"));
  EXPECT_FALSE(files.createDirectories(orvex / "sub"));
  auto entries = files.listDirectory(orvex);
  ASSERT_TRUE(entries);
  std::map<std::string, bool> names;
  for (const auto& e : *entries) names[e.name] = e.isDirectory;
  EXPECT_EQ(names, (std::map<std::string, bool>{{"a.js", false}, {"sub", true}}));
  FileError listError;
  EXPECT_FALSE(files.listDirectory(orvex / "nope", &listError));
  EXPECT_EQ(listError.code, FileError::Code::notFound);

  vt->advance(60.0);
  EXPECT_FALSE(files.writeFile(files.temporaryDirectory() / "dl", "downloaded"));
  EXPECT_EQ(codeOf(files.move(files.temporaryDirectory() / "dl", orvex / "a.js")),
            FileError::Code::exists)
      << "a move never replaces";
  EXPECT_FALSE(files.move(files.temporaryDirectory() / "dl", orvex / "b.js"));
  EXPECT_EQ(files.readFile(orvex / "b.js"), "downloaded");
  EXPECT_FALSE(files.exists(files.temporaryDirectory() / "dl"));
  EXPECT_EQ(files.modificationTime(orvex / "b.js"), vt->now());
  EXPECT_EQ(codeOf(files.move(files.temporaryDirectory() / "dl", orvex / "c.js")),
            FileError::Code::notFound);

  EXPECT_FALSE(files.setModificationTime(orvex / "b.js", WallTime(seconds(1000))));
  EXPECT_EQ(files.modificationTime(orvex / "b.js"), WallTime(seconds(1000)));
  EXPECT_FALSE(files.remove(orvex));
  EXPECT_FALSE(files.exists(orvex));
  EXPECT_EQ(codeOf(files.remove(orvex)), FileError::Code::notFound);
}

TEST(LocalFileSystem, MovesAcrossFileSystems) {
  // /dev/shm is a different file system from most temporary directories; skip where it is not.
  TempDir dir;
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP();
  LocalFileSystem files(dir.path() / "caches", "/dev/shm");
  const fs::path from = fs::path("/dev/shm") / ("orvex-move-" + std::to_string(::getpid()));
  ASSERT_FALSE(files.writeFile(from, "payload"));
  EXPECT_FALSE(files.move(from, files.cachesDirectory() / "moved"));
  EXPECT_EQ(files.readFile(files.cachesDirectory() / "moved"), "payload");
  EXPECT_FALSE(files.exists(from));
}

// ---- the assembled port ------------------------------------------------------------------------

// Completes every transfer from a thread of its own after a short real delay.
class ThreadedHttp : public HttpClient {
 public:
  ~ThreadedHttp() override {
    for (auto& t : threads_) t.join();
  }
  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override {
    threads_.emplace_back([request, completion = std::move(completion)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      HttpResult r;
      r.response = HttpResponse{200, {}, "echo " + request.body};
      completion(std::move(r));
    });
    return nullptr;
  }
  std::shared_ptr<HttpTask> download(std::string, std::function<void(DownloadResult)>) override {
    return nullptr;
  }

 private:
  std::vector<std::thread> threads_;
};

HeadlessOptions optionsIn(const fs::path& dir, TimeMode time) {
  HeadlessOptions options;
  options.time = time;
  options.dataDirectory = dir;
  options.http = std::make_shared<ThreadedHttp>();
  return options;
}

TEST(HeadlessPort, AssemblesACompletePlatformInVirtualTime) {
  TempDir dir;
  auto port = makeHeadlessPort(optionsIn(dir.path(), TimeMode::virtualTime));
  ASSERT_TRUE(port.platform.complete());
  ASSERT_TRUE(port.virtualTime);
  EXPECT_FALSE(port.loop);
  EXPECT_EQ(port.platform.clock->now(), WallTime(seconds(1767225600)));
  EXPECT_EQ(port.platform.files->cachesDirectory(), dir.path() / "caches");
  EXPECT_EQ(port.store->fileFor("x").parent_path(), dir.path() / "defaults");
  EXPECT_EQ(port.store->standardSuite()->file(), dir.path() / "defaults" / "com.example.host.kv");

  // The answer arrives in real time; a 1 s virtual timer must not overtake it.
  auto main = port.platform.dispatcher->mainQueue();
  std::vector<std::string> events;
  auto timer = port.platform.dispatcher->scheduleTimer(seconds(1), false,
                                                       [&] { events.push_back("timer"); });
  HttpRequest request;
  request.body = "hi";
  port.platform.http->send(request, [main, &events](HttpResult r) {
    main->post([&events, body = r.response->body] { events.push_back(body); });
  });
  EXPECT_TRUE(port.runUntil([&] { return events.size() == 2; }, 10));
  EXPECT_EQ(events, (std::vector<std::string>{"echo hi", "timer"}));
  EXPECT_EQ(port.platform.clock->now(), WallTime(seconds(1767225601)));
  EXPECT_FALSE(port.runUntil([] { return false; }, 5));
  EXPECT_EQ(port.platform.clock->now(), WallTime(seconds(1767225606)));
  port.runFor(2.5);
  EXPECT_EQ(port.platform.clock->now(),
            WallTime(seconds(1767225608)) + std::chrono::milliseconds(500));
}

TEST(HeadlessPort, EveryRecordKeepsOnlyItsNewestEntries) {
  TempDir dir;
  auto port = makeHeadlessPort(optionsIn(dir.path(), TimeMode::virtualTime));
  const std::size_t n = kRecordCapacity + 5;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string text = std::to_string(i);
    port.log->write(text);
    port.ui->recordOpened({OpenedLink::Kind::external, text});
    port.haptics->selectionChanged();
    port.ui->recordAlert(std::dynamic_pointer_cast<HeadlessAlertController>(
        port.ui->makeAlertController(text, std::nullopt)));
  }
  const std::string oldest = std::to_string(n - kRecordCapacity);
  ASSERT_EQ(port.log->lines().size(), kRecordCapacity);
  EXPECT_EQ(port.log->lines().front(), oldest);
  ASSERT_EQ(port.ui->openedLinks().size(), kRecordCapacity);
  EXPECT_EQ(port.ui->openedLinks().front().target, oldest);
  EXPECT_EQ(port.ui->openedLinks().back().target, std::to_string(n - 1));
  EXPECT_EQ(port.haptics->events().size(), kRecordCapacity);
  ASSERT_EQ(port.ui->alertsShown().size(), kRecordCapacity);
  EXPECT_EQ(port.ui->alertsShown().front().title, oldest);
}

TEST(HeadlessPort, GoingToTheBackgroundMakesTheStoreDurable) {
  TempDir dir;
  auto port = makeHeadlessPort(optionsIn(dir.path(), TimeMode::virtualTime));
  port.platform.store->suite("io.orvex.metrics")->set("k", Value("v"));
  port.lifecycle->send(AppNotification::didEnterBackground);
  port.runFor(0);
  // The flush runs on the store's writer thread under a background task that ends with it.
  for (int i = 0; i < 2000 && port.lifecycle->activeBackgroundTaskCount() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(port.lifecycle->activeBackgroundTaskCount(), 0u);
  FileStore reader(dir.path() / "defaults", "other", std::make_shared<MemoryLog>());
  EXPECT_EQ(reader.suite("io.orvex.metrics")->string("k"), "v");
}

TEST(HeadlessPort, RealTimePortRunsItsLoopOnTheHostThreadOrItsOwn) {
  TempDir dir;
  HeadlessOptions options = optionsIn(dir.path(), TimeMode::real);
  auto port = makeHeadlessPort(options);
  ASSERT_TRUE(port.platform.complete());
  ASSERT_TRUE(port.loop);
  bool ran = false;
  port.platform.dispatcher->mainQueue()->post(
      [&] { ran = port.platform.dispatcher->isMainThread(); });
  EXPECT_TRUE(port.runUntil([&] { return ran; }, 20));

  options.loopOnOwnThread = true;
  options.dataDirectory = dir.path() / "own";
  auto own = makeHeadlessPort(options);
  EXPECT_FALSE(own.platform.dispatcher->isMainThread());
  EXPECT_TRUE(own.loop->hasOwnThread());
}

}  // namespace
}  // namespace orvex::headless
