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

std::optional<AdRes> decodeText(std::string_view text) {
  auto v = json::parse(text);
  if (!v) return std::nullopt;
  return decodeAdRes(*v);
}

// The full ad with `members` (JSON object members) replacing or adding its own, decoded.
std::optional<AdRes> withMembers(const std::string& members, std::string* error = nullptr) {
  auto v = json::parse(kFullAd);
  const auto added = json::parse("{" + members + "}");
  for (const auto& [key, member] : *added->asDict()) (*v->asDict())[key] = member;
  return decodeAdRes(*v, error);
}
std::string errorOf(const std::string& members) {
  std::string error;
  return withMembers(members, &error) ? "decoded" : error;
}
std::optional<PopupOptions> popupFrom(const std::string& options) {
  return withMembers(R"("popupOptions": )" + options).value_or(AdRes{}).popupOptions;
}
PopupOptions popup(AdUnitPopupFormat type, AdUnitPopupTemplate kind, PopupCloseButtonPosition close,
                   bool hideForToday, bool hideThisAdForToday, bool dimTapToClose, int opacity) {
  return {type, kind, close, hideForToday, hideThisAdForToday, dimTapToClose, opacity};
}

TEST(AdResDecodeTest, FullRecordDecodesEveryMemberAndRoundTrips) {
  AdRes e;
  e.id = "tx:1:cr_9", e.format = 4, e.creative = "<div></div>", e.asset = "https://a/x.mp4";
  e.splashCloseTime = 3.5, e.cpId = "c:7", e.campaignStartTime = 1700000000000.0;
  e.campaignEndTime = 1800000000000.5, e.advertiser = "Acme", e.icon = "https://a/i.png";
  e.cover = "https://a/c.png", e.advertiserURL = "https://acme", e.headline = "H", e.body = "B";
  e.callToAction = "Go", e.destinationURL = "https://land", e.accountTag = "at";
  e.creativeTag = "ct", e.profile = AdProfile{"L", "N", "K"};
  e.extra = std::vector<AdExtra>{{"e1", "t1"}, {}}, e.portrait = true, e.resAt = 12.0;
  e.creativeSize = CreativeSize{320, 50.5}, e.browserTarget = BrowserTarget::INTERNAL, e.limit = 5;
  e.popupOptions = popup(AdUnitPopupFormat::CENTER, AdUnitPopupTemplate::HIDE_FOR_TODAY,
                         PopupCloseButtonPosition::OUTSIDE_BOTTOM_RIGHT, false, true, false, 40);
  EXPECT_EQ(decodeText(kFullAd), e);

  const Value encoded = encodeAdRes(e);
  EXPECT_FALSE(encoded.find("unknownKey"));
  ASSERT_TRUE(encoded.find("popupOptions"));
  EXPECT_EQ(*encoded.find("popupOptions")->find("template")->asString(), "hideForToday");
  EXPECT_EQ(decodeAdRes(*json::parse(json::write(encoded))), e);
}

TEST(AdResDecodeTest, IdOnlyAndNullMembersAreAbsentAndTheIdIsRequired) {
  AdRes idOnly;
  idOnly.id = "x";
  EXPECT_EQ(decodeText(R"({"id": "x", "creative": null, "popupOptions": null})"), idOnly);
  for (const char* bad : {R"({"format": 1})", R"({"id": null})", R"({"id": 5})", R"(["id"])"})
    EXPECT_FALSE(decodeText(bad)) << bad;
}

TEST(AdResDecodeTest, WrongTypesAndUnknownRawValuesFailTheWholeAnswer) {
  for (const char* bad :
       {R"("portrait": 1)", R"("format": 1.5)", R"("splashCloseTime": "3")", R"("extra": {})",
        R"("extra": [{"text": 1}])", R"("popupOptions": {"useDimTapToClose": "no"})",
        R"("popupOptions": {"template": "Performance"})", R"("popupOptions": {"type": 2})",
        R"("browserTarget": 2)", R"("browserTarget": "0")", R"("creativeSize": {"w": 1})",
        R"("creativeSize": {"w": 1, "h": null})"})
    EXPECT_FALSE(withMembers(bad)) << bad;
  EXPECT_NE(errorOf(R"("headline": 3)").find("headline"), std::string::npos);
  EXPECT_EQ(errorOf(R"("profile": {"link": true})"), "profile.link: expected a string");
  EXPECT_EQ(errorOf(R"("popupOptions": {"closeButtonPosition": 7})"),
            "popupOptions.closeButtonPosition: expected a known raw value");
  // A whole real names an integer exactly.
  EXPECT_EQ(withMembers(R"("limit": 7.0)").value_or(AdRes{}).limit, 7);
}

TEST(AdResDecodeTest, PopupOptionsDefaultWhereAbsentOrNullAndAreWrittenOut) {
  EXPECT_EQ(popupFrom("{}"), popup(AdUnitPopupFormat::BOTTOM, AdUnitPopupTemplate::PERFORMANCE,
                                   PopupCloseButtonPosition::DEFAULT, true, false, true, 80));
  EXPECT_EQ(popupFrom(R"({"useHideForToday": null, "backgroundDimOpacity": 0})"),
            popup(AdUnitPopupFormat::BOTTOM, AdUnitPopupTemplate::PERFORMANCE,
                  PopupCloseButtonPosition::DEFAULT, true, false, true, 0));

  const Value encoded = encodeAdRes(*decodeText(R"({"id": "x", "popupOptions": {}})"));
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
  for (const char* bad :
       {R"({"data": {}})", R"({"data": {"requestAd": {"id": "a", "limit": "x"}}})", "not json"})
    EXPECT_FALSE(decodeAdReq(bad)) << bad;

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
  EXPECT_EQ(c.backfills, (std::map<std::string, std::map<std::string, std::string>>{
                             {"alpha", {{"unitA", "extA"}}}, {"beta", {}}}));

  auto onlyActive = decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": {"active": false}}})");
  ASSERT_TRUE(onlyActive && onlyActive->data.getRemoteConfig);
  EXPECT_FALSE(onlyActive->data.getRemoteConfig->displayTag);
  auto absent = decodeRemoteConfigReq(R"({"data": {"getRemoteConfig": null}})");
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent->data.getRemoteConfig);
  for (const char* bad :
       {R"({"data": {"getRemoteConfig": {"active": "no"}}})",
        R"({"data": {"getRemoteConfig": {"backfills": {"alpha": {"u": 1}}}}})",
        R"({"data": {"getRemoteConfig": {"backfills": []}}})", R"({"data": null})"})
    EXPECT_FALSE(decodeRemoteConfigReq(bad)) << bad;
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
