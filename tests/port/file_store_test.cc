#include "ports/linux/file_store.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <thread>

#include "orvex/core/crypto.h"
#include "ports/linux/memory_log.h"
#include "tests/support/test_sdk.h"

extern char** environ;

namespace orvex::linux_port {
namespace {

namespace fs = std::filesystem;

using testing_support::TempDir;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void put(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

std::vector<fs::path> filesMatching(const fs::path& dir, const std::string& part) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().find(part) != std::string::npos) out.push_back(e.path());
  }
  return out;
}

class FileStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileStore> open() {
    return std::make_unique<FileStore>(dir.path(), "com.example.host", log);
  }
  TempDir dir;
  std::shared_ptr<MemoryLog> log = std::make_shared<MemoryLog>();
};

ValueDict everyType() {
  const std::string invalidUtf8 = "\xff\xfe ok";
  return ValueDict{
      {"null", Value()},
      {"true", Value(true)},
      {"false", Value(false)},
      {"int.max", Value(std::numeric_limits<std::int64_t>::max())},
      {"int.min", Value(std::numeric_limits<std::int64_t>::min())},
      {"double.whole", Value(844.0)},
      {"double.tiny", Value(5e-324)},
      {"double.negzero", Value(-0.0)},
      {"double.inf", Value(std::numeric_limits<double>::infinity())},
      {"string", Value("héllo \"quoted\" / \n")},
      {"string.empty", Value("")},
      {"string.invalid", Value(invalidUtf8)},
      {"bytes", Value(Bytes{0, 1, 2, 255, 0})},
      {"bytes.empty", Value(Bytes{})},
      {"array", Value(ValueArray{Value(1), Value("1"), Value(1.0), Value(Bytes{1}), Value()})},
      {"dict", Value(ValueDict{{"k", Value(ValueDict{{"deep", Value(ValueArray{})}})},
                               {invalidUtf8, Value(false)}})},
      {invalidUtf8, Value("key is not UTF-8")},
  };
}

TEST_F(FileStoreTest, EveryValueTypeSurvivesReopeningExactly) {
  const auto values = everyType();
  {
    auto store = open();
    auto metrics = store->suite("io.orvex.metrics");
    for (const auto& [k, v] : values) metrics->set(k, v);
    store->standard()->set("orvex_user_id", Value("01HZY"));
    store->standard()->set("nan", Value(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(metrics->value("int.max"), values.at("int.max")) << "reads see writes at once";
  }  // the destructor makes it durable
  EXPECT_TRUE(fs::exists(dir.path() / "io.orvex.metrics.kv"));
  EXPECT_TRUE(fs::exists(dir.path() / "com.example.host.kv"));

  auto store = open();
  auto metrics = store->suite("io.orvex.metrics");
  EXPECT_EQ(metrics->keys().size(), values.size());
  for (const auto& [k, v] : values) EXPECT_EQ(metrics->value(k), v) << k;
  auto negzero = metrics->value("double.negzero");
  ASSERT_TRUE(negzero && negzero->asReal());
  EXPECT_TRUE(std::signbit(*negzero->asReal()));
  EXPECT_TRUE(metrics->value("int.max")->asInt()) << "integers stay integers";
  EXPECT_TRUE(metrics->value("double.whole")->asReal()) << "whole doubles stay doubles";
  EXPECT_EQ(store->standard()->string("orvex_user_id"), "01HZY");
  auto nan = store->standard()->value("nan");
  ASSERT_TRUE(nan && nan->asReal());
  EXPECT_TRUE(std::isnan(*nan->asReal()));
  EXPECT_EQ(store->suite("com.example.host"), store->standard());
  EXPECT_EQ(store->suite("io.orvex.metrics"), metrics) << "same object for the same name";
  EXPECT_TRUE(log->lines().empty());
}

TEST_F(FileStoreTest, OnlyChangesReachTheDiskAndBurstsOfThemAreCoalesced) {
  auto store = open();
  auto suite = store->suite("io.orvex.popup-ad");
  suite->set("a", Value(1));
  suite->set("b", Value("x"));
  store->flush();
  const auto writes = store->diskWriteCount();
  EXPECT_GE(writes, 1u);
  const auto file = store->fileFor("io.orvex.popup-ad");
  const auto before = fs::last_write_time(file);

  suite->set("a", Value(1));
  suite->set("b", Value("x"));
  suite->remove("missing");
  store->removeSuite("never-existed");
  store->flush();
  EXPECT_EQ(store->diskWriteCount(), writes);
  EXPECT_EQ(fs::last_write_time(file), before);

  suite->set("a", Value(2));
  store->flush();
  EXPECT_EQ(store->diskWriteCount(), writes + 1);
  suite->set("a", Value(2.0));
  store->flush();
  EXPECT_EQ(store->diskWriteCount(), writes + 2) << "an integer and a double are different values";

  auto delayed =
      std::make_unique<FileStore>(dir.path(), "std", log, std::chrono::milliseconds(200));
  auto burst = delayed->suite("burst");
  for (int i = 0; i < 500; ++i) burst->set("counter", Value(i));
  delayed->flush();
  EXPECT_LE(delayed->diskWriteCount(), 3u);
  EXPECT_EQ(open()->suite("burst")->integer("counter"), 499);
}

TEST_F(FileStoreTest, DamagedFilesAreSetAsideLoggedOnceAndReadAsEmpty) {
  {
    auto store = open();
    store->suite("good")->set("k", Value("v"));
    store->suite("truncated")->set("k", Value("a longer value to cut short"));
  }
  const auto text = slurp(dir.path() / "truncated.kv");
  put(dir.path() / "truncated.kv", text.substr(0, text.size() - 3));
  put(dir.path() / "garbage.kv", "not a store file at all");
  std::string flipped = slurp(dir.path() / "good.kv");
  flipped[flipped.size() - 2] ^= 0x20;
  put(dir.path() / "flipped.kv", flipped);

  auto store = open();
  EXPECT_EQ(store->suite("good")->string("k"), "v");
  EXPECT_TRUE(store->suite("truncated")->keys().empty());
  EXPECT_TRUE(store->suite("garbage")->keys().empty());
  EXPECT_FALSE(store->suite("flipped")->value("k"));
  EXPECT_EQ(log->count("Orvex::FileStore"), 3u);
  EXPECT_TRUE(log->contains("truncated.kv"));
  EXPECT_TRUE(store->suite("garbage")->keys().empty());
  EXPECT_EQ(log->count("Orvex::FileStore"), 3u) << "one line per damaged file";

  const auto aside = filesMatching(dir.path(), "garbage.kv.corrupt-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(slurp(aside[0]), "not a store file at all") << "set aside, not overwritten";
  EXPECT_EQ(filesMatching(dir.path(), "truncated.kv.corrupt-").size(), 1u);

  store->suite("garbage")->set("fresh", Value(true));
  store->flush();
  EXPECT_EQ(open()->suite("garbage")->boolean("fresh"), true);
}

TEST_F(FileStoreTest, RemoveSuiteDeletesKeysAndFilesAndTheSuiteStaysUsable) {
  auto store = open();
  auto suite = store->suite("io.orvex.OrvexSplashAdCache");
  suite->set("a", Value(1));
  suite->set("b", Value(2));
  store->flush();
  const auto file = store->fileFor("io.orvex.OrvexSplashAdCache");
  ASSERT_TRUE(fs::exists(file));

  store->removeSuite("io.orvex.OrvexSplashAdCache");
  EXPECT_TRUE(suite->keys().empty());
  store->flush();
  EXPECT_FALSE(fs::exists(file));

  suite->set("c", Value(3));
  store->flush();
  EXPECT_EQ(open()->suite("io.orvex.OrvexSplashAdCache")->keys(), std::vector<std::string>{"c"});

  // The file of a suite this store never opened goes too.
  { open()->suite("old")->set("x", Value(1)); }
  store->removeSuite("old");
  store->flush();
  EXPECT_FALSE(fs::exists(store->fileFor("old")));
}

TEST_F(FileStoreTest, ConcurrentWritersAndReadersLoseNothing) {
  {
    auto store = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        auto suite = store->suite(t % 2 ? "odd" : "even");
        for (int i = 0; i < 200; ++i) {
          const std::string key = "t" + std::to_string(t) + "." + std::to_string(i);
          suite->set(key, Value(i));
          EXPECT_EQ(suite->integer(key), i);
          if (i % 50 == 0) store->flush();
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  auto store = open();
  EXPECT_EQ(store->suite("odd")->keys().size(), 400u);
  EXPECT_EQ(store->suite("even")->keys().size(), 400u);
  EXPECT_EQ(store->suite("odd")->integer("t3.199"), 199);
}

Value nested(int levels) {
  Value v = Value(1);
  for (int i = 1; i < levels; ++i) v = i % 2 ? Value(ValueArray{v}) : Value(ValueDict{{"k", v}});
  return v;
}

// A store file as an older writer made it: the body holds whatever it is given.
std::string storeFile(const std::string& body) {
  char header[64];
  std::snprintf(header, sizeof header, "ORVEXKV 1 %zu %08x\n", body.size(),
                static_cast<unsigned>(crc32(body)));
  return header + body;
}

TEST_F(FileStoreTest, UpdatesApplyWholeAndOneDepthLimitHoldsForWritingAndLoading) {
  {
    auto store = open();
    auto suite = store->standardSuite();
    suite->set("gone", Value(0));
    suite->update({{"deepest", nested(128)}, {"kept", Value(1)}, {"gone", std::nullopt}});
    EXPECT_EQ(suite->keys(), (std::vector<std::string>{"deepest", "kept"})) << "all at once";
    suite->update({{"kept", Value(2)}, {"deep", nested(129)}});
    EXPECT_EQ(suite->integer("kept"), 1) << "a refused update changes nothing";
    EXPECT_FALSE(suite->value("deep"));
    EXPECT_TRUE(log->contains("nested too deeply"));
  }
  EXPECT_EQ(open()->standard()->value("deepest"), nested(128));

  // A file from before the limit holding a deeper value loads without that key only, and stays
  // readable after the next write.
  std::string deepArray = "[\"i\",1]";
  for (int i = 0; i < 200; ++i) deepArray = "[\"a\",[" + deepArray + "]]";
  put(dir.path() / "old.kv", storeFile("[[\"deep\"," + deepArray + "],[\"ok\",[\"s\",\"v\"]]]"));
  {
    auto store = open();
    auto old = store->suite("old");
    EXPECT_EQ(old->keys(), std::vector<std::string>{"ok"});
    EXPECT_TRUE(log->contains("value for key deep in"));
    old->set("more", Value(true));
  }
  EXPECT_EQ(open()->suite("old")->keys(), (std::vector<std::string>{"more", "ok"}));
  EXPECT_TRUE(filesMatching(dir.path(), ".corrupt-").empty());
}

TEST(FileStoreNames, SuiteNamesBecomeSafeDistinctFileNames) {
  EXPECT_EQ(FileStore::fileSafeName("io.orvex.metrics"), "io.orvex.metrics");
  EXPECT_EQ(FileStore::fileSafeName("a/b"), "a%2Fb");
  EXPECT_EQ(FileStore::fileSafeName("a%2Fb"), "a%252Fb");
  EXPECT_EQ(FileStore::fileSafeName(".hidden"), "%2Ehidden");
  EXPECT_EQ(FileStore::fileSafeName(".."), "%2E.");
  EXPECT_EQ(FileStore::fileSafeName(""), "%");
}

// ---- durability across crashes ----------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child startWriter(const fs::path& dir) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string program = std::string(ORVEX_TEST_PROGRAM_DIR) + "/store_crash_writer";
  const std::string dirText = dir.string();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(dirText.c_str()), nullptr};
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  child.out = fds[0];
  return child;
}

// Appends the child's output to `text` until `word` appears (without one: until the output ends),
// giving up after ten seconds.
std::string readOutput(int fd, std::string text, const char* word = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buffer[4096];
  while ((!word || text.find(word) == std::string::npos) &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// The last "durable N" in the child's output, or -1.
long long lastDurable(const std::string& text) {
  long long last = -1, g;
  std::istringstream lines(text);
  std::string word;
  while (lines >> word >> g) {
    if (word == "durable") last = g;
  }
  return last;
}

TEST(FileStoreDurability, KilledWritersLeaveACompleteGenerationNoOlderThanTheLastFlush) {
  TempDir dir;
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delayMicros(0, 40000);
  long long previous = 0;
  int killedMidStream = 0;
  for (int round = 0; round < 30; ++round) {
    Child child = startWriter(dir.path());
    ASSERT_GT(child.pid, 0);
    // Kill at a random moment of writing, not while the program is still starting.
    const std::string startup = readOutput(child.out, {}, "ready");
    ASSERT_NE(startup.find("ready"), std::string::npos) << "round " << round;
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer must still be running when killed";
    const long long durable = lastDurable(readOutput(child.out, startup));
    ::close(child.out);

    auto log = std::make_shared<MemoryLog>();
    FileStore store(dir.path(), "com.example.crash", log);
    auto suite = store.openSuite("io.orvex.metrics");
    const auto keys = suite->keys();
    if (keys.empty()) {
      EXPECT_EQ(previous, 0) << "round " << round << ": an earlier generation vanished";
      EXPECT_LT(durable, 0);
      continue;
    }
    ++killedMidStream;
    ASSERT_EQ(keys.size(), 5u) << "round " << round;
    const std::int64_t g = suite->integer("generation");
    const std::string tag = "gen-" + std::to_string(g);
    EXPECT_EQ(suite->string("label"), tag) << "round " << round;
    EXPECT_EQ(suite->data("payload"), Bytes(512, static_cast<std::uint8_t>(g & 0xff)));
    EXPECT_EQ(suite->value("history"),
              Value(ValueArray{Value(g), Value(tag), Value(static_cast<double>(g) / 4)}));
    EXPECT_EQ(suite->dictionary("nested"), (ValueDict{{"g", Value(g)}}));
    EXPECT_GE(g, durable) << "round " << round << ": a flushed generation was lost";
    EXPECT_GE(g, previous) << "round " << round << ": the store went back in time";
    previous = g;
    EXPECT_TRUE(log->lines().empty()) << log->lines().front();
  }
  EXPECT_GT(killedMidStream, 15);
  EXPECT_GT(previous, 30);
  EXPECT_TRUE(filesMatching(dir.path(), ".corrupt-").empty());
  // Temporaries of killed writers are cleaned up on opening.
  { FileStore store(dir.path(), "com.example.crash", std::make_shared<MemoryLog>()); }
  EXPECT_TRUE(filesMatching(dir.path(), ".tmp-").empty());
}

}  // namespace
}  // namespace orvex::linux_port
