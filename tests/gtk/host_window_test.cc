// A host living with the SDK: ad widgets leave whatever holds them without a warning and nothing
// of the SDK outlives what it belongs to; the host's windows are the application's life cycle.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/linux/lifecycle.h"
#include "tests/gtk/gtk_test_support.h"

// A host's own container: it keeps a pointer to its child and unparents it when it goes, as most
// single-child holders do.
G_DECLARE_FINAL_TYPE(HostBin, host_bin, HOST, BIN, GtkWidget)
struct _HostBin {
  GtkWidget parent_instance;
  GtkWidget* child;
};
G_DEFINE_FINAL_TYPE(HostBin, host_bin, GTK_TYPE_WIDGET)

static void host_bin_set_child(HostBin* bin, GtkWidget* child) {
  g_clear_pointer(&bin->child, gtk_widget_unparent);
  bin->child = child;
  if (child) gtk_widget_set_parent(child, GTK_WIDGET(bin));
}
static void host_bin_dispose(GObject* object) {
  host_bin_set_child(HOST_BIN(object), nullptr);
  G_OBJECT_CLASS(host_bin_parent_class)->dispose(object);
}
static void host_bin_class_init(HostBinClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = host_bin_dispose;
  gtk_widget_class_set_layout_manager_type(GTK_WIDGET_CLASS(klass), GTK_TYPE_BIN_LAYOUT);
}
static void host_bin_init(HostBin* bin) {
  bin->child = nullptr;
}

namespace orvex {
namespace {

using gtk_testing::Finalizations;
using gtk_testing::GtkTestSdk;
using gtk_testing::GtkWarnings;
using testing_support::TempDir;

using Ads = std::array<GtkWidget*, 3>;

class HostWindow : public ::testing::Test {
 public:
  void SetUp() override {
    ORVEX_REQUIRE_DISPLAY();
    sdk_ = std::make_unique<GtkTestSdk>(dir_.path());
  }
  void TearDown() override {
    if (window_) gtk_window_destroy(GTK_WINDOW(window_));
    if (sdk_) sdk_->runFor(0.05);
  }
  gtk::GtkPort& port() { return sdk_->port(); }
  // The host's window around `content`, adopted and shown.
  GtkWidget* showWindow(GtkWidget* content) {
    return window_ = gtk_testing::showHostWindow(port(), content);
  }
  // What the SDK heard of the life cycle, in order ("resign", "background", "foreground",
  // "active", "terminate").
  std::vector<std::string>& listen() {
    const std::pair<AppNotification, const char*> names[] = {
        {AppNotification::willResignActive, "resign"},
        {AppNotification::didEnterBackground, "background"},
        {AppNotification::willEnterForeground, "foreground"},
        {AppNotification::didBecomeActive, "active"},
        {AppNotification::willTerminate, "terminate"}};
    for (auto [notification, name] : names) {
      subscriptions_.push_back(port().lifecycle->observe(
          notification, [this, name = std::string(name)] { heard_.push_back(name); }));
    }
    return heard_;
  }
  // Waits until the SDK heard `count` notifications, and returns them (cleared for the next).
  std::vector<std::string> heard(std::size_t count) {
    EXPECT_TRUE(sdk_->runUntil([&] { return heard_.size() >= count; }, 5));
    sdk_->runFor(0.05);  // and nothing more
    return std::exchange(heard_, {});
  }

  TempDir dir_;
  std::unique_ptr<GtkTestSdk> sdk_;
  GtkWidget* window_ = nullptr;
  std::vector<Subscription> subscriptions_;
  std::vector<std::string> heard_;
};

// Each kind of holder a host puts an ad widget in directly: how it does, and how it empties it.
struct Holder {
  const char* name;
  GtkWidget* (*fill)(const Ads& ads);  // the holder, with the three ad widgets in it
  void (*empty)(GtkWidget* holder);
};

// Cases show as their names (ctest lists them).
void PrintTo(const Holder& holder, std::ostream* out) {
  *out << holder.name;
}

GtkWidget* column() {
  return gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
}
void removeAll(GtkWidget* box) {
  while (GtkWidget* child = gtk_widget_get_first_child(box)) gtk_box_remove(GTK_BOX(box), child);
}

const Holder kHolders[] = {
    {"ListBoxRow",
     [](const Ads& ads) {
       GtkWidget* list = gtk_list_box_new();
       for (GtkWidget* ad : ads) gtk_list_box_append(GTK_LIST_BOX(list), ad);  // a row each
       return list;
     },
     [](GtkWidget* list) {
       while (GtkListBoxRow* row = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), 0))
         gtk_list_box_remove(GTK_LIST_BOX(list), GTK_WIDGET(row));
     }},
    {"Frame",
     [](const Ads& ads) {
       GtkWidget* box = column();
       for (GtkWidget* ad : ads) {
         GtkWidget* frame = gtk_frame_new("ad");
         gtk_frame_set_child(GTK_FRAME(frame), ad);
         gtk_box_append(GTK_BOX(box), frame);
       }
       return box;
     },
     removeAll},
    {"Revealer",
     [](const Ads& ads) {
       GtkWidget* box = column();
       for (GtkWidget* ad : ads) {
         GtkWidget* revealer = gtk_revealer_new();
         gtk_revealer_set_reveal_child(GTK_REVEALER(revealer), TRUE);
         gtk_revealer_set_child(GTK_REVEALER(revealer), ad);
         gtk_box_append(GTK_BOX(box), revealer);
       }
       return box;
     },
     removeAll},
    {"Stack",
     [](const Ads& ads) {
       GtkWidget* stack = gtk_stack_new();
       for (GtkWidget* ad : ads) gtk_stack_add_child(GTK_STACK(stack), ad);
       return stack;
     },
     [](GtkWidget* stack) {
       while (GtkWidget* page = gtk_widget_get_first_child(stack))
         gtk_stack_remove(GTK_STACK(stack), page);
     }},
    {"Paned",
     [](const Ads& ads) {
       GtkWidget* box = column();
       GtkWidget* both = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
       gtk_paned_set_start_child(GTK_PANED(both), ads[0]);
       gtk_paned_set_end_child(GTK_PANED(both), ads[1]);
       GtkWidget* end = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
       gtk_paned_set_end_child(GTK_PANED(end), ads[2]);
       gtk_box_append(GTK_BOX(box), both);
       gtk_box_append(GTK_BOX(box), end);
       return box;
     },
     [](GtkWidget* box) {
       for (GtkWidget* p = gtk_widget_get_first_child(box); p; p = gtk_widget_get_next_sibling(p)) {
         gtk_paned_set_start_child(GTK_PANED(p), nullptr);
         gtk_paned_set_end_child(GTK_PANED(p), nullptr);
       }
       removeAll(box);
     }},
    {"ListViewItem",
     [](const Ads& ads) {
       GListStore* items = g_list_store_new(GTK_TYPE_STRING_OBJECT);
       for (std::size_t i = 0; i < ads.size(); ++i) {
         GtkStringObject* item = gtk_string_object_new("ad");
         g_list_store_append(items, item);
         g_object_unref(item);
       }
       // The factory binds the ad widget of each position as its item's child.
       GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
       g_signal_connect_data(
           factory, "bind", G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item, gpointer data) {
             const auto& ads = *static_cast<Ads*>(data);
             gtk_list_item_set_child(item, ads[gtk_list_item_get_position(item)]);
           }),
           new Ads(ads), [](gpointer data, GClosure*) { delete static_cast<Ads*>(data); },
           GConnectFlags(0));
       g_signal_connect(factory, "unbind",
                        G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item, gpointer) {
                          gtk_list_item_set_child(item, nullptr);
                        }),
                        nullptr);
       GtkWidget* list = gtk_list_view_new(
           GTK_SELECTION_MODEL(gtk_no_selection_new(G_LIST_MODEL(items))), factory);
       gtk_widget_set_vexpand(list, TRUE);
       return list;
     },
     [](GtkWidget* list) {
       auto* selection = GTK_NO_SELECTION(gtk_list_view_get_model(GTK_LIST_VIEW(list)));
       g_list_store_remove_all(G_LIST_STORE(gtk_no_selection_get_model(selection)));
     }},
    {"HostsOwnContainer",
     [](const Ads& ads) {
       GtkWidget* box = column();
       for (GtkWidget* ad : ads) {
         auto* bin = HOST_BIN(g_object_new(host_bin_get_type(), nullptr));
         host_bin_set_child(bin, ad);
         gtk_box_append(GTK_BOX(box), GTK_WIDGET(bin));
       }
       return box;
     },
     removeAll},
};

class AdsInHolders : public HostWindow, public ::testing::WithParamInterface<Holder> {};

TEST_P(AdsInHolders, ReleasedAdsLeaveTheHolderAndTheHostEmptiesItCleanly) {
  auto banners =
      std::array{OrvexBanner::create("banner-a", "feed"), OrvexBanner::create("banner-b", "feed")};
  auto card = OrvexNativeAdView::create();
  card->view()->addTapHandler([] {});
  const Ads ads{gtk::widgetOf(*banners[0]->view()), gtk::widgetOf(*banners[1]->view()),
                gtk::widgetOf(*card->view())};
  for (auto& b : banners) b->view()->setFrame(Rect(0, 0, 320, 50));
  card->view()->setFrame(Rect(0, 0, 320, 120));

  GtkWidget* content = column();
  GtkWidget* holder = GetParam().fill(ads);
  gtk_box_append(GTK_BOX(content), holder);
  showWindow(content);
  // In place once the window is up (a list view binds its items as it lays them out).
  ASSERT_TRUE(sdk_->runUntil([&] {
    for (GtkWidget* ad : ads)
      if (!gtk_widget_get_parent(ad)) return false;
    return gtk_widget_get_mapped(window_) != FALSE;
  }));

  Finalizations sdkObjects;
  std::deque<gtk::GWeak<GtkWidget>> left;
  for (GtkWidget* ad : ads) {
    sdkObjects.watchTree(ad);
    left.emplace_back(ad);
  }
  GtkWarnings warnings;
  banners = {};
  card.reset();
  sdk_->runFor(0.05);
  // Out of sight at once; a holder that keeps its child has an empty, hidden one with no gesture.
  for (auto& weak : left) {
    if (auto ad = weak.lock()) {
      EXPECT_FALSE(gtk_widget_get_visible(ad.get()));
      EXPECT_EQ(gtk_widget_get_first_child(ad.get()), nullptr);
      GListModel* controllers = gtk_widget_observe_controllers(ad.get());
      EXPECT_EQ(g_list_model_get_n_items(controllers), 0u);
      g_object_unref(controllers);
    }
  }

  GetParam().empty(holder);
  EXPECT_TRUE(sdk_->runUntil([&] { return sdkObjects.alive() == 0; }, 5))
      << sdkObjects.alive() << " of the SDK's objects still alive";
  EXPECT_EQ(warnings.messages(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Holders, AdsInHolders, ::testing::ValuesIn(kHolders),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostWindow, ClosingAnAdoptedWindowFreesItsContentAlsoUnderAFullScreenScreen) {
  for (const bool presenting : {false, true}) {
    SCOPED_TRACE(presenting ? "under a full-screen screen" : "alone");
    GtkWidget* content = column();
    gtk_box_append(GTK_BOX(content), gtk_label_new("host"));
    Finalizations host;
    host.watchTree(content);
    GtkWidget* window = showWindow(content);
    host.watch(window);
    auto adopted = port().ui->adoptWindow(GTK_WINDOW(window));
    std::shared_ptr<ViewController> screen;
    if (presenting) {
      // The screen's owner (an ad) keeps it; the content it took out of the window must not.
      screen = port().ui->makeViewController(ViewControllerKind::plain);
      screen->setPresentationStyle(PresentationStyle::fullScreen);
      adopted->rootViewController()->present(screen, false, {});
      ASSERT_TRUE(sdk_->runUntil([&] { return !gtk_widget_get_parent(content); }));
    }
    adopted.reset();
    gtk_window_destroy(GTK_WINDOW(window));
    window_ = nullptr;
    EXPECT_TRUE(sdk_->runUntil([&] { return host.alive() == 0; }, 5)) << host.alive();
  }
}

TEST_F(HostWindow, HiddenMinimizedAndClosedWindowsAreTheApplicationInTheBackground) {
  GtkWidget* window = showWindow(column());
  port().adoptWindow(GTK_WINDOW(window));  // a second adoption changes nothing
  ASSERT_TRUE(sdk_->runUntil([&] { return gtk_widget_get_mapped(window); }));
  listen();
  const std::vector<std::string> away{"resign", "background"}, back{"foreground", "active"};

  gtk_widget_set_visible(window, FALSE);
  EXPECT_EQ(heard(2), away);
  gtk_window_present(GTK_WINDOW(window));
  EXPECT_EQ(heard(2), back);

  if (gtk_testing::setMinimized(GTK_WINDOW(window), true)) {
    EXPECT_EQ(heard(2), away);
    gtk_testing::setMinimized(GTK_WINDOW(window), false);
    EXPECT_EQ(heard(2), back);
  }

  gtk_window_destroy(GTK_WINDOW(window));
  window_ = nullptr;
  EXPECT_EQ(heard(2), away);
}

TEST_F(HostWindow, QuittingTheApplicationEndsTheSdkOnce) {
  listen();
  GtkApplication* app = gtk_application_new("io.orvex.tests.host", G_APPLICATION_NON_UNIQUE);
  g_signal_connect(app, "activate", G_CALLBACK(+[](GApplication* app, gpointer data) {
                     auto* self = static_cast<HostWindow*>(data);
                     self->window_ = gtk_application_window_new(GTK_APPLICATION(app));
                     self->port().adoptWindow(GTK_WINDOW(self->window_));
                     gtk_window_present(GTK_WINDOW(self->window_));
                     g_application_quit(app);
                   }),
                   this);
  EXPECT_EQ(g_application_run(G_APPLICATION(app), 0, nullptr), 0);
  // Heard before the application ended, its background work done.
  EXPECT_EQ(std::exchange(heard_, {}),
            (std::vector<std::string>{"resign", "background", "terminate"}));
  EXPECT_EQ(port().lifecycle->activeBackgroundTaskCount(), 0u);
  gtk_window_destroy(GTK_WINDOW(std::exchange(window_, nullptr)));
  EXPECT_EQ(heard(0), std::vector<std::string>{});  // nothing after the end
  g_object_unref(app);
}

}  // namespace
}  // namespace orvex
