#include "orvex/core/url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace orvex {
namespace {

struct Parts {
  const char* text;
  const char* scheme;
  const char* host;
  std::optional<int> port;
  const char* path;
  std::optional<std::string> query, fragment;
};

TEST(UrlTest, ParsesPartsOfAnySchemeAndKeepsTheTextAsGiven) {
  using std::nullopt;
  const Parts cases[] = {
      {"HTTPS://Ads.Example.COM:8443/a/../b%20c?x=%20y&z#Frag", "https", "ads.example.com", 8443,
       "/a/../b%20c", "x=%20y&z", "Frag"},
      // Absent parts are absent, not empty.
      {"https://example.com", "https", "example.com", nullopt, "/", nullopt, nullopt},
      {"https://example.com/p?", "https", "example.com", nullopt, "/p", "", nullopt},
      {"itms-apps://apps.apple.com/app/id123456", "itms-apps", "apps.apple.com", nullopt,
       "/app/id123456", nullopt, nullopt},
      {"orvexdemo://open?orvex_landing_url=https%3A%2F%2Fq.example%2Fx", "orvexdemo", "open",
       nullopt, "/", "orvex_landing_url=https%3A%2F%2Fq.example%2Fx", nullopt},
      {"http://[::1]:80/x", "http", "[::1]", 80, "/x", nullopt, nullopt},
      {"file:///tmp/x.html", "file", "", nullopt, "/tmp/x.html", nullopt, nullopt},
      // No authority at all: mail and telephone links.
      {"mailto:ads@example.com?subject=Hi#top", "mailto", "", nullopt, "ads@example.com",
       "subject=Hi", "top"},
      {"tel:+15551234", "tel", "", nullopt, "+15551234", nullopt, nullopt},
  };
  for (const auto& c : cases) {
    auto url = Url::parse(c.text);
    ASSERT_TRUE(url) << c.text;
    EXPECT_EQ(url->text(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme) << c.text;
    EXPECT_EQ(url->host(), c.host) << c.text;
    EXPECT_EQ(url->port(), c.port) << c.text;
    EXPECT_EQ(url->path(), c.path) << c.text;
    EXPECT_EQ(url->query(), c.query) << c.text;
    EXPECT_EQ(url->fragment(), c.fragment) << c.text;
  }
  EXPECT_TRUE(Url::parse("https://example.com")->queryItems().empty());
  EXPECT_TRUE(Url::parse("https://example.com/p?")->queryItems().empty());
}

// The SDK decides by hosts, so it must read the host a browser goes to, whatever a page or a deep
// link writes; text it cannot read as a browser would does not parse.
TEST(UrlTest, HostsAreTheOnesABrowserGoesTo) {
  struct Case {
    const char* text;
    std::optional<std::string> host;  // absent: does not parse
    const char* normalized;
  };
  const Case cases[] = {
      {"https://evil.example\\@orvex.example/", "evil.example",
       "https://evil.example/@orvex.example/"},
      {"https://evil.example\\.orvex.example/x", "evil.example",
       "https://evil.example/.orvex.example/x"},
      {"https:\\\\evil.example\\x", "evil.example", "https://evil.example/x"},
      {"https:///evil.example/", "evil.example", "https://evil.example/"},
      {"https:evil.example/x", "evil.example", "https://evil.example/x"},
      {"https://orvex.example@evil.example/", "evil.example",
       "https://orvex.example@evil.example/"},
      {"https://user:pw@orvex.example/", "orvex.example", "https://user:pw@orvex.example/"},
      {"HTTPS://QUEST.Orvex.EXAMPLE/A", "quest.orvex.example", "https://quest.orvex.example/A"},
      {"https://orvex%2Eexample/", "orvex.example", "https://orvex.example/"},
      // After "?" or "#" a backslash is data.
      {"https://evil.example?\\@orvex.example/", "evil.example",
       "https://evil.example/?\\@orvex.example/"},
      {"https://evil.example#\\@orvex.example", "evil.example",
       "https://evil.example/#\\@orvex.example"},
      // Read differently by libcurl and browsers, or not hosts at all: refused.
      {"https://a@b@orvex.example/", std::nullopt, ""},
      {"https://orvex.example%2F.evil.example/", std::nullopt, ""},
      {"https://evil.example%00.orvex.example/", std::nullopt, ""},
      {"https://orvex.exa\tmple/", std::nullopt, ""},
      {"https://orvex.example\n.evil.example/", std::nullopt, ""},
      // Other schemes keep their own reading.
      {"Mailto:Quest@Orvex.example", "", "mailto:Quest@Orvex.example"},
  };
  for (const auto& c : cases) {
    const auto url = Url::parse(c.text);
    ASSERT_EQ(url.has_value(), c.host.has_value()) << c.text;
    if (!url) continue;
    EXPECT_EQ(url->host(), *c.host) << c.text;
    EXPECT_EQ(url->normalized(), c.normalized) << c.text;
    EXPECT_EQ(url->text(), c.text);
  }
  // What engines hand over: cleaned, then normalized; text that is no URL stays as cleaned.
  EXPECT_EQ(engineReadURL(" https://orvex.exa\tmple\\@evil.example/\n"),
            "https://orvex.example/@evil.example/");
  EXPECT_EQ(engineReadURL("HTTP://Orvex.Example"), "http://orvex.example/");
  EXPECT_EQ(engineReadURL("no url \r\n"), "no url");
}

TEST(UrlTest, RejectsWhatIsNotAnAbsoluteUrl) {
  for (const char* text :
       {"", " ", "https://exa mple.com/", "https://example.com/a b", " https://example.com",
        "https://example.com/\t", "https://a/\n", "https://a/\x7f", "example.com/path",
        "/relative/path", "https://", "http://a:99999/", "://no-scheme", "1tel:5", "tel:"}) {
    EXPECT_FALSE(Url::parse(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(Url::parse(std::string_view("https://a/\0b", 12)));
}

TEST(UrlTest, QueryItemsSplitOnAmpersandAndFirstEqualsInAnyTextWithAQuestionMark) {
  auto url = Url::parse("https://a/p?a=1&b&c=x=y&d=&&e=%26#f=2");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->queryItems(), (std::vector<QueryItem>{{"a", "1"},
                                                       {"b", std::nullopt},
                                                       {"c", "x=y"},
                                                       {"d", ""},
                                                       {"", std::nullopt},
                                                       {"e", "%26"}}));
  auto items = Url::queryItemsOf("myapp:landing?orvex_landing_url=https%3A%2F%2Fq&x#frag?y=1");
  ASSERT_TRUE(items);
  std::vector<QueryItem> expected = {{"orvex_landing_url", "https%3A%2F%2Fq"}, {"x", std::nullopt}};
  EXPECT_EQ(*items, expected);

  EXPECT_FALSE(Url::queryItemsOf("myapp://open#a?b"));  // a "?" in the fragment is not a query
  EXPECT_FALSE(Url::queryItemsOf("no query here"));
  auto empty = Url::queryItemsOf("?");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST(PercentCodingTest, DecodesValidSequencesOnly) {
  EXPECT_EQ(percentDecode("https%3A%2F%2Fq.example%2Fa%3Fb%3D1"), "https://q.example/a?b=1");
  EXPECT_EQ(percentDecode("a+b%20c"), "a+b c");
  EXPECT_EQ(percentDecode("%e2%82%ac"), "\xe2\x82\xac");
  EXPECT_EQ(percentDecode(""), "");
  // Views into a longer text decode their own bytes only, the empty one included.
  const std::string_view text = "%41%42";
  EXPECT_EQ(percentDecode(text.substr(0, 0)), "");
  EXPECT_EQ(percentDecode(text.substr(3, 3)), "B");

  // Malformed sequences and invalid UTF-8 fail.
  for (const char* text : {"%", "%2", "abc%", "%zz", "%2g", "100%sure", "%%41"}) {
    EXPECT_FALSE(percentDecode(text)) << text;
  }
  EXPECT_FALSE(percentDecode("%ff"));     // not UTF-8
  EXPECT_FALSE(percentDecode("%e2%82"));  // truncated sequence
  EXPECT_FALSE(percentDecode("%c0%af"));  // overlong encoding
}

TEST(PercentCodingTest, EncodesAllButUnreservedAndRoundTrips) {
  EXPECT_EQ(percentEncodeQueryValue("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(percentEncodeQueryValue("a b&c=d/e?f+g"), "a%20b%26c%3Dd%2Fe%3Ff%2Bg");
  EXPECT_EQ(percentEncodeQueryValue(""), "");
  std::string text = "https://q.example/p?x=1&y=\xe2\x82\xac #z";
  EXPECT_EQ(percentDecode(percentEncodeQueryValue(text)), text);
}

}  // namespace
}  // namespace orvex
