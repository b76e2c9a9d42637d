#pragma once
// The container in which a host lays out a native ad. The host makes its own views for the ad's
// parts, registers them (optionally with a click callback per view), then binds the loaded ad with
// setNativeAd: the container fills the icon and profile logo image views from the file cache,
// places the ad's HTML media in the media view, counts the impression (on screen for 0.75 s) and
// turns taps into clicks — a view's own callback, else the profile link or the landing page — that
// the ad reports.
//
// With entire click (always for an ad with custom click) the whole container is one click target
// and the media view takes no touches. With custom click nothing is opened: a tap on any of the
// container's content counts, a tap on its empty area does not.
//
// Ownership: the host owns this object and places view() in its hierarchy; the container holds the
// bound ad and the registered views; every tap handler and image load holds it weakly. Releasing
// it takes view() out of the hierarchy, as releasing a banner does, so a released card leaves no
// empty container behind. Main thread only.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orvex/core/simple_logger.h"
#include "orvex/measurement/visibility_tracker.h"
#include "orvex/platform/view.h"

namespace orvex {

class OrvexNativeAd;

class ORVEX_API OrvexNativeAdView : public std::enable_shared_from_this<OrvexNativeAdView>,
                                    public VisibilityTrackerDelegate {
 public:
  // Called with the bound ad (none before binding) and the view that was tapped.
  using ClickCallback = std::function<void(std::shared_ptr<OrvexNativeAd> ad, View& view)>;

  static std::shared_ptr<OrvexNativeAdView> create();
  ~OrvexNativeAdView() override;
  OrvexNativeAdView(const OrvexNativeAdView&) = delete;
  OrvexNativeAdView& operator=(const OrvexNativeAdView&) = delete;

  // The container the host places and lays its views out in; none on a port without a screen.
  std::shared_ptr<View> view() const { return container_; }

  // Setting only stores the ad; setNativeAd binds it.
  std::shared_ptr<OrvexNativeAd> ad() const { return ad_; }
  void setAd(std::shared_ptr<OrvexNativeAd> ad) { ad_ = std::move(ad); }

  // Refused (logged) to switch off before an ad is bound or while it uses custom click.
  void setIsEntireClick(bool value);
  bool isEntireClick() const { return isEntireClick_; }
  void setAdvertiserView(std::shared_ptr<View> view, ClickCallback onClick = {});
  void setHeadLineView(std::shared_ptr<View> view, ClickCallback onClick = {});
  void setIconView(std::shared_ptr<View> view, ClickCallback onClick = {});
  void setCallToActionView(std::shared_ptr<View> view, ClickCallback onClick = {});
  void setProfileLogoView(std::shared_ptr<View> view, ClickCallback onClick = {});
  void setProfileNameView(std::shared_ptr<View> view, ClickCallback onClick = {});
  // Receives the HTML media's web view; no touches of its own with entire click.
  void setMediaView(std::shared_ptr<View> view);
  // Stored only: body text has no click of its own.
  void setBodyView(std::shared_ptr<View> view);

  void setNativeAd(std::shared_ptr<OrvexNativeAd> ad);
  // A click on the whole ad, as a tap on the container would be.
  void performClick();

 private:
  enum Slot { kIcon, kHeadline, kAdvertiser, kProfileLogo, kProfileName, kCallToAction, kSlots };
  struct Registered {
    std::shared_ptr<View> view;
    ClickCallback onClick;
  };
  struct Recognizer {
    std::weak_ptr<View> view;
    int token = 0;
  };

  OrvexNativeAdView() = default;
  void setSlot(Slot slot, std::shared_ptr<View> view, ClickCallback onClick);
  void attachRecognizer(const std::shared_ptr<View>& view);
  void removeRecognizers(const View& view);
  bool hasRecognizer(const View& view) const;
  void handleTap(const std::shared_ptr<View>& tapped, Point location);
  void openPage(const View& from, bool profile);
  void loadImage(Slot slot, const std::string& url);
  void didBecomeVisible(VisibilityTracker& tracker) override;

  SimpleLogger logger_{"OrvexNativeAdView"};
  std::shared_ptr<View> container_;
  std::array<Registered, kSlots> slots_;
  std::shared_ptr<View> bodyView_;
  std::shared_ptr<View> mediaView_;
  std::shared_ptr<OrvexNativeAd> ad_;
  std::shared_ptr<VisibilityTracker> visibilityTracker_;
  bool isEntireClick_ = false;
  std::vector<Recognizer> recognizers_;
  // The media web view this container placed, taken out when another ad is bound.
  std::weak_ptr<View> embeddedMedia_;
  // Image loads for an earlier binding land nowhere.
  std::uint64_t binding_ = 0;
};

}  // namespace orvex
