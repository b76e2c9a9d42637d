// The desktop port's own side of the screen (the contract is in tests/conformance): timers under
// a host's own GLib loop, geometry from real allocations in a host's widgets, presentation over
// an adopted window and the browser sheet's window of its own.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "orvex/measurement/visibility_tracker.h"
#include "ports/gtk/gtk_main_loop.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "tests/gtk/gtk_test_support.h"

namespace orvex {
namespace {

using gtk_testing::GtkTestSdk;
using testing_support::TempDir;

class GtkScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    ORVEX_REQUIRE_DISPLAY();
    sdk_ = std::make_unique<GtkTestSdk>(dir_.path());
  }
  gtk::GtkPort& port() { return sdk_->port(); }

  TempDir dir_;
  std::unique_ptr<GtkTestSdk> sdk_;
};

TEST_F(GtkScreen, TimersFireUnderTheHostsOwnLoopAndPostingLeavesGtkItsFrames) {
  auto& loop = *port().loop;
  auto main = loop.mainQueue();
  int ticks = 0;
  auto repeating = loop.scheduleTimer(std::chrono::milliseconds(20), true, [&] { ++ticks; });
  GMainLoop* glib = g_main_loop_new(nullptr, FALSE);
  g_timeout_add(
      300,
      [](gpointer l) {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return FALSE;
      },
      glib);
  g_main_loop_run(glib);
  g_main_loop_unref(glib);
  EXPECT_GE(ticks, 2);
  repeating->invalidate();

  // Work that keeps posting work leaves GTK's frame clock its frames.
  GtkWidget* window = gtk_window_new();
  gtk_window_present(GTK_WINDOW(window));
  int frames = 0;
  gtk_widget_add_tick_callback(
      window,
      [](GtkWidget*, GdkFrameClock*, gpointer n) -> gboolean {
        ++*static_cast<int*>(n);
        return G_SOURCE_CONTINUE;
      },
      &frames, nullptr);
  int posted = 0;
  bool flooding = true;
  std::function<void()> again = [&] {
    ++posted;
    if (flooding) main->post(again);
  };
  main->post(again);
  EXPECT_TRUE(sdk_->runUntil([&] { return frames >= 3; }, 10)) << frames << " frames";
  flooding = false;
  sdk_->runFor(0.05);
  EXPECT_GT(posted, 100);
  gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(GtkScreen, GeometryAndVisibilityComeFromWhatGtkAllocated) {
  // A host's window: a scrolled feed of its own widgets, an SDK view far below the fold.
  GtkWidget* scrolled = gtk_scrolled_window_new();
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* spacer = gtk_label_new("host content");
  gtk_widget_set_size_request(spacer, -1, 1500);
  gtk_box_append(GTK_BOX(box), spacer);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), box);
  GtkWidget* window = gtk_testing::showHostWindow(port(), scrolled);
  auto adopted = port().adoptWindow(GTK_WINDOW(window));

  auto slot = port().ui->makeView();
  slot->setFrame(Rect(0, 0, 320, 50));
  gtk_box_append(GTK_BOX(box), gtk::widgetOf(*slot));
  auto child = port().ui->makeView();
  slot->addSubview(child);
  child->setFrame(Rect(10, 5, 100, 40));
  ASSERT_TRUE(sdk_->runUntil([&] { return gtk_widget_get_mapped(gtk::widgetOf(*child)); }));
  sdk_->runFor(0.1);

  // Up the host's own widgets to the adopted window.
  EXPECT_EQ(child->window(), adopted);
  EXPECT_EQ(slot->bounds().size.width, 390);  // the box gave it the full width
  EXPECT_EQ(child->frame(), Rect(10, 5, 100, 40));
  const Rect inWindow = child->convertRect(child->bounds(), *adopted);
  EXPECT_EQ(inWindow.size, (Size{100, 40}));
  EXPECT_GT(inWindow.minY(), 1500);
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*child));

  GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
  gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v));
  sdk_->runFor(0.2);
  const Rect scrolledTo = child->convertRect(child->bounds(), *adopted);
  EXPECT_TRUE(adopted->bounds().intersects(scrolledTo));
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*child));
  slot->setHidden(true);
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*child));
  slot->setHidden(false);

  // Releasing an SDK view takes it off the host's screen.
  GtkWidget* slotWidget = gtk::widgetOf(*slot);
  g_object_ref(slotWidget);
  slot.reset();
  child.reset();
  EXPECT_EQ(gtk_widget_get_parent(slotWidget), nullptr);
  g_object_unref(slotWidget);
  gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(GtkScreen, PresentationCoversTheWindowAndBrowsersOpenWindowsOfTheirOwn) {
  GtkWidget* content = gtk_label_new("host");
  GtkWidget* window = gtk_testing::showHostWindow(port(), content);
  auto adopted = port().adoptWindow(GTK_WINDOW(window));
  auto root = adopted->rootViewController();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->view(), gtk::viewOf(content));
  EXPECT_EQ(port().ui->firstSceneKeyWindow(), adopted);

  auto screen = port().ui->makeViewController(ViewControllerKind::plain);
  screen->setPresentationStyle(PresentationStyle::fullScreen);
  bool presented = false;
  root->present(screen, false, [&] { presented = true; });
  ASSERT_TRUE(sdk_->runUntil([&] { return presented; }));
  // The covered content leaves the window as on the phone, and comes back on dismissal.
  EXPECT_EQ(gtk_widget_get_root(content), nullptr);
  EXPECT_TRUE(screen->isViewVisible());
  bool dismissed = false;
  screen->dismiss(false, [&] { dismissed = true; });
  ASSERT_TRUE(sdk_->runUntil([&] { return dismissed; }));
  EXPECT_EQ(gtk_widget_get_root(content), GTK_ROOT(window));

  // The in-app browser is a window of its own, transient for the host's; closing it dismisses.
  std::vector<std::string> opened;
  port().ui->setOpenObserver([&](const gtk::OpenedLink& l) { opened.push_back(l.target); });
  auto browser = std::dynamic_pointer_cast<gtk::GtkInAppBrowser>(
      port().ui->makeInAppBrowser("http://127.0.0.1:9/landing"));
  root->present(browser, false, {});
  ASSERT_TRUE(sdk_->runUntil([&] { return browser->browserWindow() != nullptr; }));
  EXPECT_EQ(gtk_window_get_transient_for(browser->browserWindow()), GTK_WINDOW(window));
  EXPECT_EQ(root->presentedViewController(), browser);
  gtk_window_close(browser->browserWindow());
  ASSERT_TRUE(sdk_->runUntil([&] { return !root->presentedViewController(); }));
  EXPECT_EQ(browser->browserWindow(), nullptr);

  port().ui->openExternalURL("mailto:someone@example.com");
  EXPECT_EQ(opened,
            (std::vector<std::string>{"http://127.0.0.1:9/landing", "mailto:someone@example.com"}));
  gtk_window_destroy(GTK_WINDOW(window));
}

// The pixel at (x, y) of premultiplied BGRA rows `width` wide, as 0xRRGGBB.
unsigned rgb(const std::vector<unsigned char>& pixels, int width, int x, int y) {
  const unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
  return (p[2] << 16) | (p[1] << 8) | p[0];
}

TEST_F(GtkScreen, ARoundedClipCutsTheWebPageInsideItAndImagesAndTheThemeReachTheWindow) {
  auto window = port().ui->makeWindow();
  window->setRootViewController(port().ui->makeViewController(ViewControllerKind::plain));
  window->makeKeyAndVisible();
  auto root = window->rootViewController()->view();
  root->setBackgroundColor(0xffffffff);
  auto card = port().ui->makeView();
  root->addSubview(card);
  card->setFrame(Rect(20, 20, 200, 200));
  card->setCornerRadius(40, kTopLeftCorner | kBottomRightCorner);
  card->setClipsToBounds(true);
  auto page = port().ui->makeWebView({});
  card->addSubview(page);
  page->setFrame(Rect(0, 0, 200, 200));
  page->loadHTMLString("<html><body style='margin:0;background:#ff0000'></body></html>");
  GtkWidget* toplevel =
      GTK_WIDGET(std::dynamic_pointer_cast<gtk::GtkWindowView>(window)->gtkWindow());
  std::vector<unsigned char> drawn;
  const auto at = [&](int x, int y) { return rgb(drawn, gtk_widget_get_width(toplevel), x, y); };
  // WebKit paints a while after the load.
  ASSERT_TRUE(sdk_->runUntil(
      [&] {
        drawn = gtk_testing::pixelsOf(toplevel);
        return !drawn.empty() && at(120, 120) == 0xff0000;
      },
      15));
  EXPECT_EQ(at(22, 22), 0xffffffu) << "the rounded top-left corner";
  EXPECT_EQ(at(218, 218), 0xffffffu) << "the rounded bottom-right corner";
  EXPECT_EQ(at(218, 22), 0xff0000u) << "a square corner";
  EXPECT_EQ(at(30, 120), 0xff0000u);

  // A decoded image becomes a texture of its size, and an image view holds it.
  auto bytes =
      port().platform.files->readFile(std::string(ORVEX_ADSERVER_FIXTURES) + "/static/icon.png");
  ASSERT_TRUE(bytes);
  auto image = port().platform.images->decode(*bytes);
  ASSERT_TRUE(image);
  auto texture = gtk::textureFor(*image);
  ASSERT_TRUE(texture);
  EXPECT_EQ(gdk_texture_get_width(texture.get()), image->pixelWidth);
  auto imageView = port().ui->makeImageView();
  root->addSubview(imageView);
  imageView->setImage(image);
  EXPECT_TRUE(imageView->image());

  // The window's style is the theme's when asked, the application's dark preference included.
  GtkSettings* settings = gtk_widget_get_settings(toplevel);
  gboolean dark = FALSE;
  g_object_get(settings, "gtk-application-prefer-dark-theme", &dark, nullptr);
  for (const gboolean prefer : {gboolean(!dark), dark}) {
    g_object_set(settings, "gtk-application-prefer-dark-theme", prefer, nullptr);
    EXPECT_EQ(window->interfaceStyle(), prefer ? InterfaceStyle::dark : InterfaceStyle::light);
  }
}

}  // namespace
}  // namespace orvex
