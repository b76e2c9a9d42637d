#include "orvex/core/file_downloader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "orvex/core/crypto.h"
#include "orvex/core/seams.h"
#include "ports/linux/local_file_system.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

constexpr double kDay = 86400;
// The smallest GIF: one transparent pixel.
const std::string kGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
    "D\x01\x00;",
    43);

class FileCache : public ::testing::Test {
 protected:
  FileCache() : http_(std::make_shared<ScriptedHttpClient>()), sdk_(dir_.path(), options()) {
    http_->respondToDownloads([this](const HttpRequest& r) {
      return ScriptedHttpClient::answer(status_, r.url.ends_with(".gif") ? kGif : r.url);
    });
  }
  TestSdkOptions options() {
    TestSdkOptions o;
    o.http = http_;
    return o;
  }
  std::optional<std::filesystem::path> fetch(const std::string& url) {
    std::optional<std::filesystem::path> got;
    FileDownloader::shared()->download(url, "ad", [&](auto file) { got = file; });
    sdk_.advance(0.1);
    return got;
  }

  TempDir dir_;
  std::shared_ptr<ScriptedHttpClient> http_;
  TestSdk sdk_;
  int status_ = 200;
};

TEST_F(FileCache, FilesAreKeyedByTheWholeURLAndReusedForThirtyDays) {
  const std::string url = "https://cdn.example/creatives/a.png?v=1";
  auto first = fetch(url);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, FileDownloader::shared()->directory("ad") / (sha256Hex(url) + ".png"));
  EXPECT_EQ(sdk_.port().files->readFile(*first), url);
  // Two ads' images of one file name are two files, each with its own bytes; an extension that
  // is no plain one is left out.
  for (const std::string other :
       {"https://cdn.example/a/icon.png", "https://cdn.example/b/icon.png",
        "https://cdn.example/creatives/a.png?v=2", "https://cdn.example/x.p%2Fng"}) {
    auto file = fetch(other);
    ASSERT_TRUE(file) << other;
    EXPECT_EQ(sdk_.port().files->readFile(*file), other);
    EXPECT_EQ(file, FileDownloader::shared()->fileFor(other, "ad"));
  }
  EXPECT_EQ(FileDownloader::shared()->fileFor("https://cdn.example/x.p%2Fng", "ad")->extension(),
            "");
  EXPECT_EQ(sdk_.port().files->readFile(*first), url);
  EXPECT_EQ(http_->downloads().size(), 5u);
  sdk_.advance(29 * kDay);
  EXPECT_EQ(fetch(url), first);
  EXPECT_EQ(http_->downloads().size(), 5u);
  sdk_.advance(2 * kDay);
  EXPECT_EQ(fetch(url), first);
  EXPECT_EQ(http_->downloads().size(), 6u);

  std::optional<Image> image;
  FileDownloader::shared()->downloadImage("https://cdn.example/p.gif", "icon",
                                          [&](auto decoded) { image = decoded; });
  sdk_.advance(0.1);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth, 1);
  // Bytes that are no image give none.
  FileDownloader::shared()->downloadImage("https://cdn.example/a.png", "icon",
                                          [&](auto decoded) { image = decoded; });
  sdk_.advance(0.1);
  EXPECT_FALSE(image);
}

TEST_F(FileCache, AFailedDownloadLeavesNoFileAndKeepsNoStaleOne) {
  status_ = 500;
  EXPECT_FALSE(fetch("https://cdn.example/b.png"));
  EXPECT_FALSE(sdk_.port().files->exists(
      *FileDownloader::shared()->fileFor("https://cdn.example/b.png", "ad")));
  // A caller's own name that would climb out of the category is refused without a request.
  int refused = 0;
  for (const char* name : {"..", "../x.js", ""}) {
    FileDownloader::shared()->downloadAs("https://cdn.example/x.js", "js", name,
                                         [&](auto file) { refused += !file; });
  }
  EXPECT_EQ(refused, 3);
  EXPECT_EQ(http_->downloads().size(), 1u);
}

TEST_F(FileCache, CleanUpRunsAtMostHourlyAndRemovesOnlyExpiredFiles) {
  auto downloader = FileDownloader::shared();
  // A root that does not exist yet is not an error.
  EXPECT_TRUE(downloader->cleanUpIfNeeded());
  sdk_.advance(0.1);
  EXPECT_FALSE(sdk_.loggedStartingWith("Orvex::FileDownloader Error while deleting"));

  auto old = fetch("https://cdn.example/old.png");
  auto nested = sdk_.port().files->cachesDirectory() / "orvex" / "js" / "deep" / "n.js";
  sdk_.port().files->createDirectories(nested.parent_path());
  sdk_.port().files->writeFile(nested, "x");
  sdk_.advance(31 * kDay);
  auto young = fetch("https://cdn.example/young.png");
  ASSERT_TRUE(old && young);

  EXPECT_TRUE(downloader->cleanUpIfNeeded());
  EXPECT_FALSE(downloader->cleanUpIfNeeded());  // a second background transition within the hour
  sdk_.advance(0.1);
  EXPECT_FALSE(sdk_.port().files->exists(*old));
  EXPECT_FALSE(sdk_.port().files->exists(nested));
  EXPECT_TRUE(sdk_.port().files->exists(*young));
}

// The real file system, listing in name order, with one directory whose listing fails.
class BrokenListing : public linux_port::LocalFileSystem {
 public:
  BrokenListing(const FileSystem& real, std::shared_ptr<Clock> clock, std::filesystem::path broken)
      : LocalFileSystem(real.cachesDirectory(), real.temporaryDirectory(), std::move(clock)),
        broken_(std::move(broken)) {}
  std::optional<std::vector<DirectoryEntry>> listDirectory(const std::filesystem::path& path,
                                                           FileError* error) const override {
    if (path == broken_) {
      if (error) *error = FileError{FileError::Code::other, "scripted listing failure"};
      return std::nullopt;
    }
    auto entries = LocalFileSystem::listDirectory(path, error);
    if (entries) std::ranges::sort(*entries, {}, &DirectoryEntry::name);
    return entries;
  }

 private:
  std::filesystem::path broken_;
};

TEST_F(FileCache, AListingErrorEndsTheCleanUpRun) {
  auto old = fetch("https://cdn.example/old.png");
  const auto broken = FileDownloader::shared()->directory("a-broken");
  sdk_.port().files->createDirectories(broken);
  sdk_.advance(31 * kDay);
  OrvexPlatform platform = sdk_.port().platform;
  platform.files = std::make_shared<BrokenListing>(*platform.files, platform.clock, broken);
  std::make_shared<FileDownloader>(platform)->deleteOldFiles();
  EXPECT_TRUE(sdk_.port().files->exists(*old)) << "\"ad\" comes after the broken directory";
  EXPECT_TRUE(sdk_.logged(
      "Orvex::FileDownloader Error while deleting old files: scripted listing failure"));
}

}  // namespace
}  // namespace orvex
