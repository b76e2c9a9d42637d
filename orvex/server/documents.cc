#include "orvex/server/documents.h"

#include "orvex/core/json.h"
#include "orvex/core/text.h"
#include "orvex/server/graphql_text.h"

namespace orvex {
namespace {

constexpr std::string_view kSelection =
    "\"\n"
    "}) {\n"
    "        id\n"
    "        format\n"
    "        creative\n"
    "        portrait\n"
    "        asset\n"
    "\n"
    "        icon\n"
    "        advertiser\n"
    "        advertiserURL\n"
    "        body\n"
    "        headline\n"
    "        callToAction\n"
    "        destinationURL\n"
    "        accountTag\n"
    "        creativeTag\n"
    "\n"
    "        profile {\n"
    "            displayLogo\n"
    "            displayName\n"
    "            link\n"
    "        }\n"
    "        extra {\n"
    "            id\n"
    "            text\n"
    "        }\n"
    "        creativeSize {\n"
    "            w\n"
    "            h\n"
    "        }\n"
    "        splashCloseTime\n"
    "        campaignStartTime\n"
    "        campaignEndTime\n"
    "        popupOptions {\n"
    "            type\n"
    "            template\n"
    "            closeButtonPosition\n"
    "            useHideForToday\n"
    "            useHideThisAdForToday\n"
    "            useDimTapToClose\n"
    "            backgroundDimOpacity\n"
    "        }\n"
    "        cpId\n"
    "        browserTarget\n"
    "        limit\n"
    "    }\n"
    "}";

std::string adDocument(std::string_view field, const AdRequestFacts& f, bool withContext) {
  std::string s = "query MyQuery {\n  ";
  s += field;
  s += "(input: {\n    uid: \"";
  s += graphqlString(f.uid);
  s += "\"\n    unit: \"";
  s += graphqlString(f.unitId);
  s += "\",\n    lcl: \"";
  s += graphqlString(f.locale);
  s += "\",\n    tz: \"";
  s += graphqlString(f.timeZone);
  s += "\",\n    pf: \"";
  s += graphqlString(f.platform);
  s += "\",\n    osv: \"";
  s += graphqlString(f.osVersion);
  s += "\",\n    model: \"";
  s += graphqlString(f.deviceModel);
  s += "\",\n    size: {h: ";
  s += formatDouble(f.deviceHeight);
  s += ", w: ";
  s += formatDouble(f.deviceWidth);
  s += "},\n    appv: \"";
  s += graphqlString(f.appVersion);
  s += "\",\n    sdkv: \"";
  s += kSdkVersion;
  s += "\",\n    adId: \"";
  s += graphqlString(f.adId);
  s += "\",\n    portrait: ";
  s += f.portrait ? "true" : "false";
  s += ",\n    reqAt: ";
  s += std::to_string(f.reqAt);
  if (withContext) {
    s += ",\n    contextId: \"";
    s += graphqlString(f.contextId);
    s += "\",\n    theme: \"";
  } else {
    s += ",\n    theme: \"";
  }
  s += graphqlString(f.theme);
  s += kSelection;
  return s;
}

}  // namespace

std::string_view adSelectionSet() {
  return kSelection;
}

std::string requestAdDocument(const AdRequestFacts& facts) {
  return adDocument("requestAd", facts, true);
}

std::string requestAdsDocument(const AdRequestFacts& facts) {
  return adDocument("requestAds", facts, false);
}

std::string remoteConfigDocument(const RemoteConfigFacts& f) {
  std::string s =
      "    query GetRemoteConfig {\n        getRemoteConfig(input: {\n            uid: \"";
  s += graphqlString(f.uid);
  s += "\"\n            sdkv: \"";
  s += kSdkVersion;
  s += "\",\n            tagHash: \"";
  s += graphqlString(f.tagHash);
  s += "\",\n            metaInfo: \"";
  s += graphqlString(f.deviceInfo);
  s += "\",\n            production: ";
  s += f.production ? "true" : "false";
  s += "\n        }) {\n                displayTag\n                displayTagMacro\n"
       "                active\n                resAt\n                playerVersion\n"
       "                backfills\n            }\n    }";
  return s;
}

std::string invokeDocument(const MetricFacts& f) {
  std::string s = "mutation OrvexMutaion {\n    invoke(input: {\n        uid: \"";
  s += graphqlString(f.uid);
  s += "\"\n        key: \"";
  s += graphqlString(f.key);
  s += "\",\n        value: \"";
  s += graphqlString(f.value);
  s += "\",\n        time: ";
  s += std::to_string(f.time);
  s += "\n    }) {\n        message\n    }\n}";
  return s;
}

std::string requestBody(std::string_view document) {
  return json::write(Value(ValueDict{{"query", Value(document)}}));
}

}  // namespace orvex
