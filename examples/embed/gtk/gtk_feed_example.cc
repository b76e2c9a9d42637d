#include "examples/embed/gtk/gtk_feed_example.h"

namespace example {

GtkFeed::GtkFeed(const orvex::gtk::GtkPort& port, const std::string& unitId) {
  window_ = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window_), 390, 700);
  scrolled_ = gtk_scrolled_window_new();
  GtkWidget* feed = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  for (int i = 1; i <= 10; ++i) {
    GtkWidget* story = gtk_label_new(("Story " + std::to_string(i)).c_str());
    gtk_widget_set_size_request(story, -1, 100);
    gtk_box_append(GTK_BOX(feed), story);
  }
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled_), feed);
  gtk_window_set_child(GTK_WINDOW(window_), scrolled_);
  port.adoptWindow(GTK_WINDOW(window_));  // the SDK's screens present over it

  banner_ = orvex::OrvexBanner::create(unitId, /*contextId=*/"feed");
  banner_->onAdReceived = [this](orvex::OrvexBanner& b) {
    heard.push_back("received " + b.txId());
  };
  banner_->onAdImpression = [this](orvex::OrvexBanner&) { heard.push_back("impression"); };
  banner_->view()->setFrame({0, 0, 320, 50});  // the size it asks the feed for
  GtkWidget* slot = orvex::gtk::widgetOf(*banner_->view());
  gtk_widget_set_halign(slot, GTK_ALIGN_CENTER);
  gtk_box_append(GTK_BOX(feed), slot);
  gtk_window_present(GTK_WINDOW(window_));
  banner_->load();  // counted once the user scrolls it into view
}

GtkFeed::~GtkFeed() {
  banner_.reset();  // takes its widget out of the feed
  gtk_window_destroy(GTK_WINDOW(window_));
}

}  // namespace example
