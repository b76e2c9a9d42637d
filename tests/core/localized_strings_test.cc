#include "orvex/core/localized_strings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

TEST(LocalizedStrings, ShippedLanguagesHaveEveryKey) {
  TempDir dir;
  TestSdk sdk(dir.path());  // the source tree's resources
  const auto english = LocalizedStrings::load(Orvex::shared().platform(), {"en-US"});
  const auto korean = LocalizedStrings::load(Orvex::shared().platform(), {"ko-KR", "en"});
  EXPECT_EQ(korean.language(), "ko");
  for (const char* key :
       {"orvex_vesk_fail_to_load_page", "orvex_vesk_ok", "orvex_hide_for_today", "orvex_close",
        "view_details", "orvex_cta_view_details", "orvex_cta_install", "orvex_cta_learn_more",
        "orvex_cta_shop_now", "orvex_cta_sign_up", "orvex_cta_download"}) {
    EXPECT_NE(english.text(key), key);
    EXPECT_NE(korean.text(key), english.text(key));
  }
  EXPECT_EQ(korean.text("orvex_vesk_ok"), "확인");
}

TEST(LocalizedStrings, FallsBackPastMissingAndBrokenFilesNeverFailing) {
  TempDir dir, resources;
  std::filesystem::create_directories(resources.path() / "strings");
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(resources.path() / "strings" / name) << text;
  };
  write("en.json", R"({"a": "A", "b": "B", "n": 3})");
  write("fr.json", R"({"a": "À")");         // malformed: skipped
  write("de.json", R"(["a", "A"])");        // not an object: skipped
  write("pt-BR.json", R"({"a": "Á-BR"})");  // region file first
  write("pt.json", R"({"a": "Á", "b": "Ƀ"})");
  write("ja.json", "{\"a\": \"" + std::string(300 * 1024, 'x') + "\"}");  // oversized
  TestSdkOptions options;
  options.sdkResourceDirectory = resources.path();
  TestSdk sdk(dir.path(), options);
  const auto& platform = Orvex::shared().platform();

  auto fr = LocalizedStrings::load(platform, {"fr-FR", "de", "ja", "../en", "pt_BR"});
  EXPECT_EQ(fr.language(), "pt-BR");
  EXPECT_EQ(fr.text("a"), "Á-BR");
  EXPECT_EQ(fr.text("b"), "B");      // English fills the gaps, not pt.json
  EXPECT_EQ(fr.text("n"), "n");      // not text: as missing
  EXPECT_EQ(fr.text("zzz"), "zzz");  // missing everywhere: the key
  EXPECT_EQ(fr.find("b"), "B");
  EXPECT_EQ(fr.find("zzz"), std::nullopt);
  EXPECT_EQ(LocalizedStrings::load(platform, {"pt"}).text("b"), "Ƀ");
  auto none = LocalizedStrings::load(platform, {});
  EXPECT_EQ(none.language(), "en");
  EXPECT_EQ(none.text("a"), "A");

  std::filesystem::remove(resources.path() / "strings" / "en.json");
  auto bare = LocalizedStrings::load(platform, {"xx"});
  EXPECT_EQ(bare.language(), "");
  EXPECT_EQ(bare.text("a"), "a");
  EXPECT_EQ(LocalizedStrings::forDevice().text("a"), "a");  // the device says en-US
}

}  // namespace
}  // namespace orvex
