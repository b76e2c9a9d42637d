#include "orvex/server/ad_response.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "orvex/core/json.h"

namespace orvex {
namespace {

// Reads members of one JSON object; the first failure sticks and names the path.
class Reader {
 public:
  Reader(const Value& v, std::string path, std::string* error)
      : v_(v), path_(std::move(path)), error_(error) {
    if (!v.asDict()) fail("", "an object");
  }
  bool ok() const { return ok_; }

  // Present-and-not-null member, or nullptr.
  const Value* member(std::string_view key) const {
    const Value* m = v_.find(key);
    return (m && !m->isNull()) ? m : nullptr;
  }

  void fail(std::string_view key, std::string_view expected) {
    if (!ok_) return;
    ok_ = false;
    if (error_) {
      std::string where = path_;
      if (!key.empty()) where += (where.empty() ? "" : ".") + std::string(key);
      *error_ =
          (where.empty() ? std::string("value") : where) + ": expected " + std::string(expected);
    }
  }

  // A nested decoder already wrote its reason.
  void abort() { ok_ = false; }

  std::string path(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
  }
  std::string* error() const { return error_; }

  template <class T, class F>
  void read(std::string_view key, std::optional<T>& out, std::string_view expected, F convert) {
    if (!ok_) return;
    const Value* m = member(key);
    if (!m) return;
    std::optional<T> got = convert(*m);
    if (!got) return fail(key, expected);
    out = std::move(got);
  }

  void string(std::string_view key, std::optional<std::string>& out) {
    read(key, out, "a string", [](const Value& m) -> std::optional<std::string> {
      if (auto* s = m.asString()) return *s;
      return std::nullopt;
    });
  }
  void number(std::string_view key, std::optional<double>& out) {
    read(key, out, "a number", [](const Value& m) { return m.number(); });
  }
  void integer(std::string_view key, std::optional<long long>& out) {
    read(key, out, "an integer", [](const Value& m) -> std::optional<long long> {
      if (auto* i = m.asInt()) return static_cast<long long>(*i);
      // A whole real such as 3.0 still names an integer exactly.
      if (auto* d = m.asReal()) {
        if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18)
          return static_cast<long long>(*d);
      }
      return std::nullopt;
    });
  }
  void boolean(std::string_view key, std::optional<bool>& out) {
    read(key, out, "a boolean", [](const Value& m) -> std::optional<bool> {
      if (auto* b = m.asBool()) return *b;
      return std::nullopt;
    });
  }
  template <class E>
  void intEnum(std::string_view key, std::optional<E>& out, std::initializer_list<int> allowed) {
    std::optional<long long> raw;
    integer(key, raw);
    if (!ok_ || !raw) return;
    for (int a : allowed) {
      if (*raw == a) {
        out = static_cast<E>(a);
        return;
      }
    }
    fail(key, "a known raw value");
  }

 private:
  const Value& v_;
  std::string path_;
  std::string* error_;
  bool ok_ = true;
};

std::optional<AdProfile> decodeProfile(const Value& v, const std::string& path,
                                       std::string* error) {
  Reader r(v, path, error);
  AdProfile p;
  r.string("displayLogo", p.displayLogo);
  r.string("displayName", p.displayName);
  r.string("link", p.link);
  if (!r.ok()) return std::nullopt;
  return p;
}

std::optional<AdExtra> decodeExtra(const Value& v, const std::string& path, std::string* error) {
  Reader r(v, path, error);
  AdExtra e;
  r.string("id", e.id);
  r.string("text", e.text);
  if (!r.ok()) return std::nullopt;
  return e;
}

std::optional<CreativeSize> decodeSize(const Value& v, const std::string& path,
                                       std::string* error) {
  Reader r(v, path, error);
  std::optional<double> w, h;
  r.number("w", w);
  r.number("h", h);
  if (r.ok() && !w) r.fail("w", "a number");
  if (r.ok() && !h) r.fail("h", "a number");
  if (!r.ok()) return std::nullopt;
  return CreativeSize{*w, *h};
}

std::optional<PopupOptions> decodePopup(const Value& v, const std::string& path,
                                        std::string* error) {
  Reader r(v, path, error);
  std::optional<AdUnitPopupFormat> type;
  std::optional<std::string> tmpl;
  std::optional<PopupCloseButtonPosition> close;
  std::optional<bool> hide, hideThis, dim;
  std::optional<long long> opacity;
  r.intEnum("type", type, {0, 1});
  r.string("template", tmpl);
  r.intEnum("closeButtonPosition", close, {0, 1, 2, 3});
  r.boolean("useHideForToday", hide);
  r.boolean("useHideThisAdForToday", hideThis);
  r.boolean("useDimTapToClose", dim);
  r.integer("backgroundDimOpacity", opacity);
  PopupOptions o;
  if (r.ok() && tmpl) {
    if (*tmpl == "performance") {
      o.templateKind = AdUnitPopupTemplate::PERFORMANCE;
    } else if (*tmpl == "hideForToday") {
      o.templateKind = AdUnitPopupTemplate::HIDE_FOR_TODAY;
    } else {
      r.fail("template", "a known raw value");
    }
  }
  if (r.ok() && opacity && (*opacity < INT32_MIN || *opacity > INT32_MAX))
    r.fail("backgroundDimOpacity", "an integer");
  if (!r.ok()) return std::nullopt;
  o.type = type.value_or(o.type);
  o.closeButtonPosition = close.value_or(o.closeButtonPosition);
  o.useHideForToday = hide.value_or(o.useHideForToday);
  o.useHideThisAdForToday = hideThis.value_or(o.useHideThisAdForToday);
  o.useDimTapToClose = dim.value_or(o.useDimTapToClose);
  if (opacity) o.backgroundDimOpacity = static_cast<int>(*opacity);
  return o;
}

template <class T, class F>
void nested(Reader& r, std::string_view key, std::optional<T>& out, F decode) {
  if (!r.ok()) return;
  const Value* m = r.member(key);
  if (!m) return;
  out = decode(*m, r.path(key), r.error());
  if (!out) r.abort();
}

// Whole answer envelope: {"data": {field: ...}}; `data` must be an object.
const Value* dataMember(const std::optional<Value>& root, std::string* error) {
  if (!root) return nullptr;
  const Value* data = root->find("data");
  if (!data || !data->asDict()) {
    if (error) *error = "data: expected an object";
    return nullptr;
  }
  return data;
}

}  // namespace

std::optional<AdUnitFormat> adUnitFormatFromRaw(long long raw) {
  if ((raw >= 0 && raw <= 7) || raw == 100) return static_cast<AdUnitFormat>(raw);
  return std::nullopt;
}

std::string_view rawValue(AdUnitPopupTemplate t) {
  return t == AdUnitPopupTemplate::HIDE_FOR_TODAY ? "hideForToday" : "performance";
}

std::optional<AdRes> decodeAdRes(const Value& value, std::string* error) {
  std::string local;
  std::string* err = error ? error : &local;
  Reader r(value, "", err);
  AdRes ad;
  std::optional<std::string> id;
  r.string("id", id);
  if (r.ok() && !id) r.fail("id", "a string");
  if (!r.ok()) return std::nullopt;
  ad.id = std::move(*id);
  r.integer("format", ad.format);
  r.string("creative", ad.creative);
  r.string("asset", ad.asset);
  r.number("splashCloseTime", ad.splashCloseTime);
  r.string("cpId", ad.cpId);
  r.number("campaignStartTime", ad.campaignStartTime);
  r.number("campaignEndTime", ad.campaignEndTime);
  r.string("advertiser", ad.advertiser);
  r.string("icon", ad.icon);
  r.string("cover", ad.cover);
  r.string("advertiserURL", ad.advertiserURL);
  r.string("headline", ad.headline);
  r.string("body", ad.body);
  r.string("callToAction", ad.callToAction);
  r.string("destinationURL", ad.destinationURL);
  r.string("accountTag", ad.accountTag);
  r.string("creativeTag", ad.creativeTag);
  nested(r, "profile", ad.profile, decodeProfile);
  if (r.ok()) {
    if (const Value* m = r.member("extra")) {
      const ValueArray* items = m->asArray();
      if (!items) {
        r.fail("extra", "an array");
      } else {
        std::vector<AdExtra> list;
        for (std::size_t i = 0; i < items->size() && r.ok(); ++i) {
          auto e = decodeExtra((*items)[i], "extra[" + std::to_string(i) + "]", err);
          if (!e) {
            r.abort();
          } else {
            list.push_back(std::move(*e));
          }
        }
        if (r.ok()) ad.extra = std::move(list);
      }
    }
  }
  r.boolean("portrait", ad.portrait);
  r.number("resAt", ad.resAt);
  nested(r, "creativeSize", ad.creativeSize, decodeSize);
  nested(r, "popupOptions", ad.popupOptions, decodePopup);
  r.intEnum("browserTarget", ad.browserTarget, {0, 1});
  r.integer("limit", ad.limit);
  if (!r.ok()) return std::nullopt;
  return ad;
}

Value encodeAdRes(const AdRes& ad) {
  ValueDict d;
  auto put = [&d](const char* key, const auto& opt) {
    if (opt) d.emplace(key, Value(*opt));
  };
  d.emplace("id", Value(ad.id));
  if (ad.format) d.emplace("format", Value(static_cast<std::int64_t>(*ad.format)));
  put("creative", ad.creative);
  put("asset", ad.asset);
  put("splashCloseTime", ad.splashCloseTime);
  put("cpId", ad.cpId);
  put("campaignStartTime", ad.campaignStartTime);
  put("campaignEndTime", ad.campaignEndTime);
  put("advertiser", ad.advertiser);
  put("icon", ad.icon);
  put("cover", ad.cover);
  put("advertiserURL", ad.advertiserURL);
  put("headline", ad.headline);
  put("body", ad.body);
  put("callToAction", ad.callToAction);
  put("destinationURL", ad.destinationURL);
  put("accountTag", ad.accountTag);
  put("creativeTag", ad.creativeTag);
  if (ad.profile) {
    ValueDict p;
    if (ad.profile->displayLogo) p.emplace("displayLogo", Value(*ad.profile->displayLogo));
    if (ad.profile->displayName) p.emplace("displayName", Value(*ad.profile->displayName));
    if (ad.profile->link) p.emplace("link", Value(*ad.profile->link));
    d.emplace("profile", Value(std::move(p)));
  }
  if (ad.extra) {
    ValueArray items;
    for (const AdExtra& e : *ad.extra) {
      ValueDict x;
      if (e.id) x.emplace("id", Value(*e.id));
      if (e.text) x.emplace("text", Value(*e.text));
      items.emplace_back(std::move(x));
    }
    d.emplace("extra", Value(std::move(items)));
  }
  put("portrait", ad.portrait);
  put("resAt", ad.resAt);
  if (ad.creativeSize) {
    d.emplace("creativeSize",
              Value(ValueDict{{"w", Value(ad.creativeSize->w)}, {"h", Value(ad.creativeSize->h)}}));
  }
  if (ad.popupOptions) {
    const PopupOptions& o = *ad.popupOptions;
    d.emplace("popupOptions",
              Value(ValueDict{
                  {"type", Value(static_cast<int>(o.type))},
                  {"template", Value(rawValue(o.templateKind))},
                  {"closeButtonPosition", Value(static_cast<int>(o.closeButtonPosition))},
                  {"useHideForToday", Value(o.useHideForToday)},
                  {"useHideThisAdForToday", Value(o.useHideThisAdForToday)},
                  {"useDimTapToClose", Value(o.useDimTapToClose)},
                  {"backgroundDimOpacity", Value(o.backgroundDimOpacity)},
              }));
  }
  if (ad.browserTarget) d.emplace("browserTarget", Value(static_cast<int>(*ad.browserTarget)));
  if (ad.limit) d.emplace("limit", Value(static_cast<std::int64_t>(*ad.limit)));
  return Value(std::move(d));
}

std::optional<Resp<AdReq>> decodeAdReq(std::string_view text, std::string* error) {
  const auto root = json::parse(text, error);
  const Value* data = dataMember(root, error);
  if (!data) return std::nullopt;
  return decodeAdReqData(*data, error);
}

std::optional<Resp<AdReq>> decodeAdReqData(const Value& data, std::string* error) {
  const Value* m = data.find("requestAd");
  if (!m) {
    if (error) *error = "data.requestAd: expected an object";
    return std::nullopt;
  }
  auto ad = decodeAdRes(*m, error);
  if (!ad) return std::nullopt;
  return Resp<AdReq>{AdReq{std::move(*ad)}};
}

std::optional<Resp<AdReqs>> decodeAdReqs(std::string_view text, std::string* error) {
  const auto root = json::parse(text, error);
  const Value* data = dataMember(root, error);
  if (!data) return std::nullopt;
  return decodeAdReqsData(*data, error);
}

std::optional<Resp<AdReqs>> decodeAdReqsData(const Value& data, std::string* error) {
  const Value* m = data.find("requestAds");
  const ValueArray* items = m ? m->asArray() : nullptr;
  if (!items) {
    if (error) *error = "data.requestAds: expected an array";
    return std::nullopt;
  }
  Resp<AdReqs> out;
  for (const Value& item : *items) {
    auto ad = decodeAdRes(item, error);
    if (!ad) return std::nullopt;
    out.data.requestAds.push_back(std::move(*ad));
  }
  return out;
}

std::optional<Resp<RemoteConfigReq>> decodeRemoteConfigReq(std::string_view text,
                                                           std::string* error) {
  const auto root = json::parse(text, error);
  const Value* data = dataMember(root, error);
  if (!data) return std::nullopt;
  return decodeRemoteConfigReqData(*data, error);
}

std::optional<Resp<RemoteConfigReq>> decodeRemoteConfigReqData(const Value& data,
                                                               std::string* error) {
  Resp<RemoteConfigReq> out;
  const Value* m = data.find("getRemoteConfig");
  if (!m || m->isNull()) return out;
  Reader r(*m, "data.getRemoteConfig", error);
  RemoteConfigRes res;
  r.string("displayTag", res.displayTag);
  r.string("displayTagMacro", res.displayTagMacro);
  r.boolean("active", res.active);
  r.number("resAt", res.resAt);
  r.string("playerVersion", res.playerVersion);
  if (r.ok()) {
    if (const Value* b = r.member("backfills")) {
      std::map<std::string, std::map<std::string, std::string>> maps;
      if (!b->asDict()) r.fail("backfills", "an object");
      for (const auto& [network, units] : b->asDict() ? *b->asDict() : ValueDict{}) {
        if (!units.asDict()) {
          r.fail("backfills", "objects of strings");
          break;
        }
        auto& target = maps[network];
        for (const auto& [unit, other] : *units.asDict()) {
          if (!other.asString()) {
            r.fail("backfills", "objects of strings");
            break;
          }
          target.emplace(unit, *other.asString());
        }
        if (!r.ok()) break;
      }
      if (r.ok()) res.backfills = std::move(maps);
    }
  }
  if (!r.ok()) return std::nullopt;
  out.data.getRemoteConfig = std::move(res);
  return out;
}

std::optional<Resp<ReportMetricReq>> decodeReportMetricReq(std::string_view text,
                                                           std::string* error) {
  const auto root = json::parse(text, error);
  const Value* data = dataMember(root, error);
  if (!data) return std::nullopt;
  return decodeReportMetricReqData(*data, error);
}

std::optional<Resp<ReportMetricReq>> decodeReportMetricReqData(const Value& data,
                                                               std::string* error) {
  const Value* m = data.find("invoke");
  if (!m) {
    if (error) *error = "data.invoke: expected an object";
    return std::nullopt;
  }
  Reader r(*m, "data.invoke", error);
  Resp<ReportMetricReq> out;
  r.string("message", out.data.invoke.message);
  if (!r.ok()) return std::nullopt;
  return out;
}

}  // namespace orvex
