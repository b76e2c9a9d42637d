#include "orvex/core/url.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(UrlTest, ParsesPartsAndKeepsTheTextAsGiven) {
  const char* text = "HTTPS://Ads.Example.COM:8443/a/../b%20c?x=%20y&z#Frag";
  auto url = Url::parse(text);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->text(), text);
  EXPECT_EQ(url->scheme(), "https");
  EXPECT_EQ(url->host(), "Ads.Example.COM");
  EXPECT_EQ(url->port(), 8443);
  EXPECT_EQ(url->path(), "/a/../b%20c");
  EXPECT_EQ(url->query(), "x=%20y&z");
  EXPECT_EQ(url->fragment(), "Frag");

  // Absent parts are absent, not empty.
  auto plain = Url::parse("https://example.com");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->port(), std::nullopt);
  EXPECT_EQ(plain->query(), std::nullopt);
  EXPECT_EQ(plain->fragment(), std::nullopt);
  EXPECT_TRUE(plain->queryItems().empty());

  auto emptyQuery = Url::parse("https://example.com/p?");
  ASSERT_TRUE(emptyQuery);
  EXPECT_EQ(emptyQuery->query(), "");
  EXPECT_TRUE(emptyQuery->queryItems().empty());
}

TEST(UrlTest, AcceptsOtherSchemesAndHosts) {
  auto store = Url::parse("itms-apps://apps.apple.com/app/id123456");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->scheme(), "itms-apps");
  EXPECT_EQ(store->path(), "/app/id123456");

  auto deepLink = Url::parse("orvexdemo://open?orvex_landing_url=https%3A%2F%2Fq.example%2Fx");
  ASSERT_TRUE(deepLink);
  EXPECT_EQ(deepLink->host(), "open");

  auto ipv6 = Url::parse("http://[::1]:80/x");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->host(), "[::1]");
  EXPECT_EQ(ipv6->port(), 80);

  auto file = Url::parse("file:///tmp/x.html");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->host(), "");
  EXPECT_EQ(file->path(), "/tmp/x.html");

  // No authority at all: mail and telephone links.
  auto mail = Url::parse("mailto:ads@example.com?subject=Hi#top");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->scheme(), "mailto");
  EXPECT_EQ(mail->host(), "");
  EXPECT_EQ(mail->path(), "ads@example.com");
  EXPECT_EQ(mail->query(), "subject=Hi");
  EXPECT_EQ(mail->fragment(), "top");
  EXPECT_EQ(Url::parse("tel:+15551234")->text(), "tel:+15551234");
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
