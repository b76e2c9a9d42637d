// A desktop host: links the installed desktop port and hands it a window where there is a display.
#include <gtk/gtk.h>

#include "ports/gtk/gtk_port.h"

int main() {
  if (!gtk_init_check()) return 0;
  orvex::gtk::GtkOptions options;
  auto port = orvex::gtk::makeGtkPort(options);
  GtkWidget* window = gtk_window_new();
  return port.adoptWindow(GTK_WINDOW(window)) ? 0 : 1;
}
