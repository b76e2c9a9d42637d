#pragma once
// The demo's screen in a real window: GTK draws the feed, WebKit renders the ads.

#include <memory>

#include "examples/demo/screen.h"
#include "ports/gtk/gtk_port.h"

namespace demo {

std::unique_ptr<Screen> makeGtkScreen(orvex::gtk::GtkPort& port);

}  // namespace demo
