#pragma once
// A GTK application's feed with a banner at its end: what README.md shows for desktop hosts,
// compiled and run by the window tests.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/inline/orvex_banner.h"
#include "ports/gtk/gtk_port.h"

namespace example {

class GtkFeed {
 public:
  // On the GTK main thread, once the port is installed and the SDK initialized.
  GtkFeed(const orvex::gtk::GtkPort& port, const std::string& unitId);
  ~GtkFeed();

  GtkWidget* window() const { return window_; }
  GtkWidget* scrolled() const { return scrolled_; }
  std::vector<std::string> heard;

 private:
  GtkWidget* window_;
  GtkWidget* scrolled_;
  std::shared_ptr<orvex::OrvexBanner> banner_;  // the feed owns its banner
};

}  // namespace example
