#include "orvex/server/ad_response.h"

#include <gtest/gtest.h>

#include "orvex/core/json.h"

namespace orvex {
namespace {

constexpr const char* kFullAd = R"({
  "id": "tx:1:cr_9", "format": 4, "creative": "<div></div>", "asset": "https://a/x.mp4",
  "splashCloseTime": 3.5, "cpId": "c:7", "campaignStartTime": 1700000000000,
  "campaignEndTime": 1800000000000.5, "advertiser": "Acme", "icon": "https://a/i.png",
  "cover": "https://a/c.png", "advertiserURL": "https://acme", "headline": "H", "body": "B",
  "callToAction": "Go", "destinationURL": "https://land", "accountTag": "at",
  "creativeTag": "ct", "profile": {"displayLogo": "L", "displayName": "N", "link": "K"},
  "extra": [{"id": "e1", "text": "t1"}, {}], "portrait": true, "resAt": 12.0,
  "creativeSize": {"w": 320, "h": 50.5},
  "popupOptions": {"type": 1, "template": "hideForToday", "closeButtonPosition": 3,
                   "useHideForToday": false, "useHideThisAdForToday": true,
                   "useDimTapToClose": false, "backgroundDimOpacity": 40},
  "browserTarget": 1, "limit": 5, "unknownKey": [1, 2]
})";

std::optional<AdRes> decodeText(std::string_view text, std::string* error = nullptr) {
  auto v = json::parse(text);
  if (!v) return std::nullopt;
  return decodeAdRes(*v, error);
}

// Replaces (or adds) one member of the full ad and decodes the result.
std::optional<AdRes> withMember(const std::string& key, const Value& member,
                                std::string* error = nullptr) {
  auto v = json::parse(kFullAd);
  (*v->asDict())[key] = member;
  return decodeAdRes(*v, error);
}

TEST(AdResDecodeTest, FullRecord) {
  auto ad = decodeText(kFullAd);
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->id, "tx:1:cr_9");
  EXPECT_EQ(ad->format, 4);
  EXPECT_EQ(ad->campaignStartTime, 1700000000000.0);
  EXPECT_EQ(ad->campaignEndTime, 1800000000000.5);
  EXPECT_EQ(ad->cover, "https://a/c.png");
  ASSERT_TRUE(ad->profile);
  EXPECT_EQ(ad->profile->link, "K");
  ASSERT_TRUE(ad->extra);
  ASSERT_EQ(ad->extra->size(), 2u);
  EXPECT_EQ((*ad->extra)[0].text, "t1");
  EXPECT_FALSE((*ad->extra)[1].id);
  EXPECT_EQ(ad->creativeSize, (CreativeSize{320, 50.5}));
  ASSERT_TRUE(ad->popupOptions);
  EXPECT_EQ(ad->popupOptions->type, AdUnitPopupFormat::CENTER);
  EXPECT_EQ(ad->popupOptions->templateKind, AdUnitPopupTemplate::HIDE_FOR_TODAY);
  EXPECT_EQ(ad->popupOptions->closeButtonPosition, PopupCloseButtonPosition::OUTSIDE_BOTTOM_RIGHT);
  EXPECT_FALSE(ad->popupOptions->useHideForToday);
  EXPECT_TRUE(ad->popupOptions->useHideThisAdForToday);
  EXPECT_EQ(ad->popupOptions->backgroundDimOpacity, 40);
  EXPECT_EQ(ad->browserTarget, BrowserTarget::INTERNAL);
  EXPECT_EQ(ad->limit, 5);
}

TEST(AdResDecodeTest, IdOnlyAndNullMembersAreAbsent) {
  auto ad = decodeText(R"({"id": "x", "creative": null, "popupOptions": null})");
  ASSERT_TRUE(ad);
  AdRes expected;
  expected.id = "x";
  EXPECT_EQ(*ad, expected);
}

TEST(AdResDecodeTest, IdMissingOrNotTextFails) {
  EXPECT_FALSE(decodeText(R"({"format": 1})"));
  EXPECT_FALSE(decodeText(R"({"id": null})"));
  EXPECT_FALSE(decodeText(R"({"id": 5})"));
  EXPECT_FALSE(decodeText(R"(["id"])"));
}

TEST(AdResDecodeTest, WrongTypesFailTheWholeAnswer) {
  std::string error;
  EXPECT_FALSE(withMember("headline", Value(3), &error));
  EXPECT_NE(error.find("headline"), std::string::npos);
  EXPECT_FALSE(withMember("portrait", Value(1)));
  EXPECT_FALSE(withMember("format", Value(1.5)));
  EXPECT_FALSE(withMember("splashCloseTime", Value("3")));
  EXPECT_FALSE(withMember("extra", Value(ValueDict{})));
  error.clear();
  EXPECT_FALSE(withMember("profile", Value(ValueDict{{"link", Value(true)}}), &error));
  EXPECT_EQ(error, "profile.link: expected a string");
  EXPECT_FALSE(withMember("extra", Value(ValueArray{Value(ValueDict{{"text", Value(1)}})})));
  EXPECT_FALSE(withMember("popupOptions", Value(ValueDict{{"useDimTapToClose", Value("no")}})));
  // A whole real names an integer exactly.
  auto ad = withMember("limit", Value(7.0));
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->limit, 7);
}

TEST(AdResDecodeTest, CreativeSizeNeedsBothMembers) {
  EXPECT_FALSE(withMember("creativeSize", Value(ValueDict{{"w", Value(1)}})));
  EXPECT_FALSE(withMember("creativeSize", Value(ValueDict{{"w", Value(1)}, {"h", nullptr}})));
}

TEST(AdResDecodeTest, UnknownEnumRawValuesFail) {
  std::string error;
  EXPECT_FALSE(
      withMember("popupOptions", Value(ValueDict{{"closeButtonPosition", Value(7)}}), &error));
  EXPECT_EQ(error, "popupOptions.closeButtonPosition: expected a known raw value");
  EXPECT_FALSE(withMember("popupOptions", Value(ValueDict{{"template", Value("Performance")}})));
  EXPECT_FALSE(withMember("popupOptions", Value(ValueDict{{"type", Value(2)}})));
  EXPECT_FALSE(withMember("browserTarget", Value(2)));
  EXPECT_FALSE(withMember("browserTarget", Value("0")));
}

TEST(AdResDecodeTest, PopupOptionsDefaults) {
  auto ad = withMember("popupOptions", Value(ValueDict{}));
  ASSERT_TRUE(ad && ad->popupOptions);
  const PopupOptions& o = *ad->popupOptions;
  EXPECT_EQ(o.type, AdUnitPopupFormat::BOTTOM);
  EXPECT_EQ(o.templateKind, AdUnitPopupTemplate::PERFORMANCE);
  EXPECT_EQ(o.closeButtonPosition, PopupCloseButtonPosition::DEFAULT);
  EXPECT_TRUE(o.useHideForToday);
  EXPECT_FALSE(o.useHideThisAdForToday);
  EXPECT_TRUE(o.useDimTapToClose);
  EXPECT_EQ(o.backgroundDimOpacity, 80);
  ad = withMember("popupOptions", Value(ValueDict{{"useHideForToday", nullptr},
                                                  {"backgroundDimOpacity", Value(0)}}));
  ASSERT_TRUE(ad && ad->popupOptions);
  EXPECT_TRUE(ad->popupOptions->useHideForToday);
  EXPECT_EQ(ad->popupOptions->backgroundDimOpacity, 0);
}

TEST(AdResEncodeTest, RoundTripKeepsEveryMember) {
  auto ad = decodeText(kFullAd);
  ASSERT_TRUE(ad);
  Value encoded = encodeAdRes(*ad);
  EXPECT_FALSE(encoded.find("unknownKey"));
  ASSERT_TRUE(encoded.find("popupOptions"));
  EXPECT_EQ(*encoded.find("popupOptions")->find("template")->asString(), "hideForToday");
  auto again = decodeAdRes(*json::parse(json::write(encoded)));
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *ad);
}

TEST(AdResEncodeTest, DefaultedPopupOptionsAreWrittenOut) {
  auto ad = decodeText(R"({"id": "x", "popupOptions": {}})");
  ASSERT_TRUE(ad);
  const Value encoded = encodeAdRes(*ad);
  const Value* o = encoded.find("popupOptions");
  ASSERT_TRUE(o && o->asDict());
  EXPECT_EQ(o->asDict()->size(), 7u);
  EXPECT_EQ(*o->find("backgroundDimOpacity")->asInt(), 80);
  EXPECT_EQ(*o->find("template")->asString(), "performance");
  EXPECT_EQ(*o->find("useHideForToday")->asBool(), true);
}

TEST(AdUnitFormatTest, RawValues) {
  EXPECT_EQ(adUnitFormatFromRaw(100), AdUnitFormat::vesk);
  EXPECT_EQ(adUnitFormatFromRaw(0), AdUnitFormat::null);
  EXPECT_EQ(adUnitFormatFromRaw(7), AdUnitFormat::splash);
  EXPECT_FALSE(adUnitFormatFromRaw(8));
  EXPECT_FALSE(adUnitFormatFromRaw(-1));
}

TEST(EnvelopeDecodeTest, RequestAdAndRequestAds) {
  auto one = decodeAdReq(R"({"data": {"requestAd": {"id": "a"}}})");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->data.requestAd.id, "a");
  std::string error;
  EXPECT_FALSE(decodeAdReq(R"({"data": null})", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(decodeAdReq(R"({"data": {}})"));
  EXPECT_FALSE(decodeAdReq(R"({"data": {"requestAd": {"id": "a", "limit": "x"}}})"));
  EXPECT_FALSE(decodeAdReq("not json"));

  auto many = decodeAdReqs(R"({"data": {"requestAds": [{"id": "a"}, {"id": "b"}]}})");
  ASSERT_TRUE(many);
  ASSERT_EQ(many->data.requestAds.size(), 2u);
  EXPECT_EQ(many->data.requestAds[1].id, "b");
  // One bad ad rejects the list.
  EXPECT_FALSE(
      decodeAdReqs(R"({"data": {"requestAds": [{"id": "a"}, {"id": "b", "format": {}}]}})"));
  EXPECT_FALSE(decodeAdReqs(R"({"data": {"requestAds": {"id": "a"}}})"));
}

TEST(EnvelopeDecodeTest, RemoteConfig) {
  auto r = decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": {
      "displayTag": "<html>", "displayTagMacro": "{{AD}}", "active": false, "resAt": 1.7e12,
      "playerVersion": "v0.1.0", "backfills": {"alpha": {"unitA": "extA"}, "beta": {}}}}})");
  ASSERT_TRUE(r && r->data.getRemoteConfig);
  const RemoteConfigRes& c = *r->data.getRemoteConfig;
  EXPECT_EQ(c.active, false);
  EXPECT_EQ(c.resAt, 1.7e12);
  ASSERT_TRUE(c.backfills);
  EXPECT_EQ(c.backfills->at("alpha").at("unitA"), "extA");
  EXPECT_TRUE(c.backfills->at("beta").empty());

  auto onlyActive = decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": {"active": false}}})");
  ASSERT_TRUE(onlyActive && onlyActive->data.getRemoteConfig);
  EXPECT_FALSE(onlyActive->data.getRemoteConfig->displayTag);

  auto absent = decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": null}})");
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent->data.getRemoteConfig);

  EXPECT_FALSE(decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": {"active": "no"}}})"));
  EXPECT_FALSE(decodeRemoteConfigReq(
      R"({"data": {"getRemoteConfig": {"backfills": {"alpha": {"u": 1}}}}})"));
  EXPECT_FALSE(decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": {"backfills": []}}})"));
  EXPECT_FALSE(decodeRemoteConfigReq(R"({"data": null})"));
}

TEST(EnvelopeDecodeTest, Invoke) {
  auto r = decodeReportMetricReq(R"({"data": {"invoke": {"message": "ok"}}})");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data.invoke.message, "ok");
  auto empty = decodeReportMetricReq(R"({"data": {"invoke": {}}})");
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->data.invoke.message);
  EXPECT_FALSE(decodeReportMetricReq(R"({"data": {"invoke": null}})"));
  EXPECT_FALSE(decodeReportMetricReq(R"({"data": {"invoke": {"message": 1}}})"));
}

}  // namespace
}  // namespace orvex
