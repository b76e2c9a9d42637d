#include "ports/gtk/gtk_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

// ---- the container widget: places its subviews at their frames -------------------------------

G_DECLARE_FINAL_TYPE(OrvexViewWidget, orvex_view_widget, ORVEX, VIEW_WIDGET, GtkWidget)

struct _OrvexViewWidget {
  GtkWidget parent_instance;
  orvex::gtk::GtkView* view;  // cleared when the view goes
};

G_DEFINE_FINAL_TYPE(OrvexViewWidget, orvex_view_widget, GTK_TYPE_WIDGET)

static void orvex_view_widget_measure(GtkWidget* widget, GtkOrientation orientation, int,
                                      int* minimum, int* natural, int* minimumBaseline,
                                      int* naturalBaseline) {
  *minimum = *natural = 0;
  *minimumBaseline = *naturalBaseline = -1;
  if (auto* view = ORVEX_VIEW_WIDGET(widget)->view) view->measure(orientation, minimum, natural);
}

static void orvex_view_widget_size_allocate(GtkWidget* widget, int width, int height, int) {
  if (auto* view = ORVEX_VIEW_WIDGET(widget)->view) view->allocate(width, height);
}

static void orvex_view_widget_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  if (auto* view = ORVEX_VIEW_WIDGET(widget)->view) {
    view->snapshotBackground(snapshot, gtk_widget_get_width(widget), gtk_widget_get_height(widget));
  }
  GTK_WIDGET_CLASS(orvex_view_widget_parent_class)->snapshot(widget, snapshot);
}

static void orvex_view_widget_dispose(GObject* object) {
  while (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(object)))
    gtk_widget_unparent(child);
  G_OBJECT_CLASS(orvex_view_widget_parent_class)->dispose(object);
}

static void orvex_view_widget_class_init(OrvexViewWidgetClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = orvex_view_widget_dispose;
  auto* w = GTK_WIDGET_CLASS(klass);
  w->measure = orvex_view_widget_measure;
  w->size_allocate = orvex_view_widget_size_allocate;
  w->snapshot = orvex_view_widget_snapshot;
}

static void orvex_view_widget_init(OrvexViewWidget* self) {
  self->view = nullptr;
  // Subviews are clipped to their superview's bounds, as on the phone platform's ad views.
  gtk_widget_set_overflow(GTK_WIDGET(self), GTK_OVERFLOW_HIDDEN);
}

namespace orvex::gtk {
namespace {

// The view that stands for a widget: weakly for the SDK's own views and windows (the view owns
// the widget); for wrappers of a host's widgets, a HostSlot.
constexpr const char* kViewKey = "orvex-view";
constexpr const char* kHostKey = "orvex-host-view";
constexpr const char* kPassThroughKey = "orvex-pass-through";

// Pointer travel between press and release beyond which a press is a drag, not a tap.
constexpr double kTapSlop = 8;

// The press a tap may end: the deepest view with tap handlers it went down in, and where (in
// that view's widget coordinates).
struct Press {
  GtkView* view = nullptr;
  graphene_point_t at{};
};
Press& currentPress() {
  static Press press;
  return press;
}

// The views with a pass-through rule, which real input asks (main thread).
std::vector<GtkView*>& passThroughViews() {
  static std::vector<GtkView*> views;
  return views;
}

// In the tree a host's widget owns its wrapper (strong); out of it, taken out by the SDK, the
// wrapper owns the widget (keptWhileDetached_) and the slot holds the wrapper only weakly, so
// that the two never keep each other alive once nobody else holds the view.
struct HostSlot {
  std::shared_ptr<View> strong;
  std::weak_ptr<View> weak;
};

HostSlot* hostSlot(GtkWidget* widget) {
  return static_cast<HostSlot*>(g_object_get_data(G_OBJECT(widget), kHostKey));
}

// A window whose focus sits in a subtree being taken apart keeps a reference to the subtree's top
// until it next moves the focus, which a hidden widget may never see: let go of the focus first.
void dropFocusWithin(GtkWidget* widget) {
  GtkRoot* root = gtk_widget_get_root(widget);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  if (focus && (focus == widget || gtk_widget_is_ancestor(focus, widget))) {
    gtk_root_set_focus(root, nullptr);
  }
}

void removeGesture(GtkWidget* widget, GtkEventController*& gesture) {
  if (widget && gesture) gtk_widget_remove_controller(widget, GTK_EVENT_CONTROLLER(gesture));
  gesture = nullptr;
}

bool isContainer(GtkWidget* widget) {
  return widget && ORVEX_IS_VIEW_WIDGET(widget);
}

// Takes a widget out of whatever holds it, through the holder's own API: most holders keep a
// pointer to their child (a frame, a list box row, a stack's page), and unparenting under them
// leaves it dangling. False for a holder the SDK does not know (a list item, a host's own
// container): it keeps the widget until its owner takes it out the way it put it in.
bool takeOutOfHolder(GtkWidget* widget) {
  GtkWidget* parent = gtk_widget_get_parent(widget);
  if (!parent) return true;
  if (isContainer(parent)) {
    gtk_widget_unparent(widget);  // the SDK's own container keeps no pointer of its own
  } else if (GTK_IS_BOX(parent)) {
    gtk_box_remove(GTK_BOX(parent), widget);
  } else if (GTK_IS_WINDOW(parent) && gtk_window_get_child(GTK_WINDOW(parent)) == widget) {
    gtk_window_set_child(GTK_WINDOW(parent), nullptr);
  } else if (GTK_IS_VIEWPORT(parent)) {
    gtk_viewport_set_child(GTK_VIEWPORT(parent), nullptr);
  } else if (GTK_IS_SCROLLED_WINDOW(parent) &&
             gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(parent)) == widget) {
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(parent), nullptr);
  } else if (GTK_IS_FIXED(parent)) {
    gtk_fixed_remove(GTK_FIXED(parent), widget);
  } else if (GTK_IS_GRID(parent)) {
    gtk_grid_remove(GTK_GRID(parent), widget);
  } else if (GTK_IS_OVERLAY(parent)) {
    if (gtk_overlay_get_child(GTK_OVERLAY(parent)) == widget) {
      gtk_overlay_set_child(GTK_OVERLAY(parent), nullptr);
    } else {
      gtk_overlay_remove_overlay(GTK_OVERLAY(parent), widget);
    }
  } else if (GTK_IS_FRAME(parent) && gtk_frame_get_child(GTK_FRAME(parent)) == widget) {
    gtk_frame_set_child(GTK_FRAME(parent), nullptr);
  } else if (GTK_IS_ASPECT_FRAME(parent)) {
    gtk_aspect_frame_set_child(GTK_ASPECT_FRAME(parent), nullptr);
  } else if (GTK_IS_REVEALER(parent)) {
    gtk_revealer_set_child(GTK_REVEALER(parent), nullptr);
  } else if (GTK_IS_LIST_BOX_ROW(parent)) {
    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(parent), nullptr);
  } else if (GTK_IS_FLOW_BOX_CHILD(parent)) {
    gtk_flow_box_child_set_child(GTK_FLOW_BOX_CHILD(parent), nullptr);
  } else if (GTK_IS_STACK(parent)) {
    gtk_stack_remove(GTK_STACK(parent), widget);
  } else if (GTK_IS_PANED(parent) && gtk_paned_get_start_child(GTK_PANED(parent)) == widget) {
    gtk_paned_set_start_child(GTK_PANED(parent), nullptr);
  } else if (GTK_IS_PANED(parent) && gtk_paned_get_end_child(GTK_PANED(parent)) == widget) {
    gtk_paned_set_end_child(GTK_PANED(parent), nullptr);
  } else if (GTK_IS_CENTER_BOX(parent)) {
    auto* box = GTK_CENTER_BOX(parent);
    if (gtk_center_box_get_start_widget(box) == widget) {
      gtk_center_box_set_start_widget(box, nullptr);
    } else if (gtk_center_box_get_center_widget(box) == widget) {
      gtk_center_box_set_center_widget(box, nullptr);
    } else if (gtk_center_box_get_end_widget(box) == widget) {
      gtk_center_box_set_end_widget(box, nullptr);
    } else {
      return false;
    }
  } else {
    return false;
  }
  return true;
}

GdkRGBA rgbaOf(std::uint32_t rgba) {
  return GdkRGBA{static_cast<float>((rgba >> 24) & 0xff) / 255.f,
                 static_cast<float>((rgba >> 16) & 0xff) / 255.f,
                 static_cast<float>((rgba >> 8) & 0xff) / 255.f,
                 static_cast<float>(rgba & 0xff) / 255.f};
}

// Origin of `view`'s bounds in the coordinates of the top of its tree, from frames alone (for
// views not on screen, where GTK has no transforms to offer).
Point modelOrigin(const View& view) {
  Rect b = view.bounds();
  Rect f = view.frame();
  const Point t = view.translation();
  double x = f.origin.x + t.x - b.origin.x, y = f.origin.y + t.y - b.origin.y;
  for (auto s = view.superview(); s; s = s->superview()) {
    if (dynamic_cast<const Window*>(s.get())) break;
    Rect sb = s->bounds();
    Rect sf = s->frame();
    const Point st = s->translation();
    x += sf.origin.x + st.x - sb.origin.x;
    y += sf.origin.y + st.y - sb.origin.y;
  }
  return {x, y};
}

}  // namespace

// ---- construction and identity ----

GtkView::GtkView() : host_(false) {
  owned_ = GObjectPtr<GtkWidget>::retain(
      GTK_WIDGET(g_object_new(orvex_view_widget_get_type(), nullptr)));
  ORVEX_VIEW_WIDGET(owned_.get())->view = this;
}

GtkView::GtkView(HostWidget, GtkWidget* widget) : host_(true), hostWidget_(widget) {
  if (widget) frame_ = Rect(0, 0, gtk_widget_get_width(widget), gtk_widget_get_height(widget));
  userInteraction_ = widget && gtk_widget_get_can_target(widget);
}

GtkView::~GtkView() {
  std::erase(passThroughViews(), this);
  if (currentPress().view == this) currentPress() = {};
  auto children = std::move(subviews_);
  if (host_) {
    // The widget lives on (the host's) or is going; either way nothing of this view stays on it.
    if (auto w = hostWidget_.lock()) {
      removeGesture(w.get(), gesture_);
      g_object_set_data(G_OBJECT(w.get()), kPassThroughKey, nullptr);
    }
    return;
  }
  GtkWidget* w = owned_.get();
  ORVEX_VIEW_WIDGET(w)->view = nullptr;
  removeGesture(w, gesture_);
  g_object_set_data(G_OBJECT(w), kPassThroughKey, nullptr);
  dropFocusWithin(w);
  // The subviews and the content go with the view; a host's widget among them lives on as long
  // as someone holds its view.
  for (auto& child : children) {
    auto* c = cast(*child);
    GtkWidget* cw = c ? c->widget() : nullptr;
    if (!cw || gtk_widget_get_parent(cw) != w) continue;
    c->setOutOfTree(true);
    gtk_widget_unparent(cw);
  }
  while (GtkWidget* rest = gtk_widget_get_first_child(w)) gtk_widget_unparent(rest);
  // Releasing a view takes it off the screen wherever a host placed it. A holder the SDK does not
  // know keeps the widget, empty and hidden, until its owner takes it out.
  if (!takeOutOfHolder(w)) gtk_widget_set_visible(w, FALSE);
}

void GtkView::setOutOfTree(bool out) {
  GtkWidget* w = widget();
  if (!host_ || !w) return;
  HostSlot* slot = hostSlot(w);
  if (out) {
    keptWhileDetached_ = GObjectPtr<GtkWidget>::retain(w);
    if (slot) slot->strong.reset();  // the caller holds this view
  } else {
    if (slot) slot->strong = shared_from_this();
    keptWhileDetached_.reset();
  }
}

void GtkView::registerWidget(GtkWidget* widget) {
  auto* weak = new std::weak_ptr<View>(weak_from_this());
  g_object_set_data_full(G_OBJECT(widget), kViewKey, weak,
                         [](gpointer p) { delete static_cast<std::weak_ptr<View>*>(p); });
}

GtkWidget* GtkView::widget() const {
  if (!host_) return owned_.get();
  // The wrapper lives in the widget's own data, so the widget outlives every use of it.
  return hostWidget_.lock().get();
}

WindowAdopter& windowAdopter() {
  static WindowAdopter adopter;
  return adopter;
}

std::shared_ptr<View> GtkView::forWidget(GtkWidget* widget) {
  if (!widget) return nullptr;
  if (isContainer(widget)) {
    auto* view = ORVEX_VIEW_WIDGET(widget)->view;
    return view ? view->weak_from_this().lock() : nullptr;
  }
  if (auto* weak =
          static_cast<std::weak_ptr<View>*>(g_object_get_data(G_OBJECT(widget), kViewKey))) {
    if (auto view = weak->lock()) return view;
  }
  HostSlot* slot = hostSlot(widget);
  if (slot) {
    if (slot->strong) return slot->strong;
    if (auto view = slot->weak.lock()) return view;
  }
  if (GTK_IS_WINDOW(widget) && windowAdopter()) {
    if (auto window = windowAdopter()(GTK_WINDOW(widget))) return window;
  }
  if (!slot) {
    slot = new HostSlot;
    g_object_set_data_full(G_OBJECT(widget), kHostKey, slot,
                           [](gpointer p) { delete static_cast<HostSlot*>(p); });
  }
  std::shared_ptr<View> view(new GtkView(HostWidget{}, widget));
  slot->strong = view;
  slot->weak = view;
  return view;
}

// ---- hierarchy ----

std::shared_ptr<View> GtkView::superview() const {
  GtkWidget* w = widget();
  return w ? forWidget(gtk_widget_get_parent(w)) : nullptr;
}

std::vector<std::shared_ptr<View>> GtkView::subviews() const {
  if (!host_) return subviews_;
  std::vector<std::shared_ptr<View>> out;
  GtkWidget* w = widget();
  for (GtkWidget* c = w ? gtk_widget_get_first_child(w) : nullptr; c;
       c = gtk_widget_get_next_sibling(c)) {
    if (auto v = forWidget(c)) out.push_back(std::move(v));
  }
  return out;
}

void GtkView::addSubview(std::shared_ptr<View> view) {
  attach(std::move(view), subviews_.size());
}

void GtkView::insertSubview(std::shared_ptr<View> view, std::size_t index) {
  attach(std::move(view), index);
}

void GtkView::attach(std::shared_ptr<View> view, std::size_t index) {
  auto* child = view ? cast(*view) : nullptr;
  GtkWidget* into = container();
  if (!child || child == this || !into || !child->widget()) return;
  // A view cannot become its own descendant.
  for (auto s = superview(); s; s = s->superview()) {
    if (s == view) return;
  }
  child->removeFromSuperview();
  GtkWidget* cw = child->widget();
  if (!cw || gtk_widget_get_parent(cw)) return;  // a host widget its holder would not give up
  std::erase(subviews_, view);
  index = std::min(index, subviews_.size());
  if (isContainer(into)) {
    GtkWidget* before = nullptr;
    if (index < subviews_.size()) {
      if (auto* b = cast(*subviews_[index])) before = b->widget();
      if (before && gtk_widget_get_parent(before) != into) before = nullptr;
    }
    gtk_widget_insert_before(cw, into, before);
  } else if (GTK_IS_BOX(into)) {
    gtk_box_append(GTK_BOX(into), cw);
  } else {
    g_warning("Orvex: a %s cannot hold views", G_OBJECT_TYPE_NAME(into));
    return;
  }
  child->setOutOfTree(false);
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  if (child->fillsSuperview_) {
    const Size size = bounds().size;
    child->setFrame(Rect(0, 0, size.width, size.height));
  }
  gtk_widget_queue_allocate(into);
}

void GtkView::detachChild(GtkView& child) {
  std::erase_if(subviews_, [&](const std::shared_ptr<View>& v) { return v.get() == &child; });
}

void GtkView::removeFromSuperview() {
  GtkWidget* w = widget();
  if (!w || !gtk_widget_get_parent(w)) return;
  auto self = shared_from_this();  // the parent's list may hold the last reference
  if (auto parent = superview()) {
    if (auto* p = cast(*parent)) p->detachChild(*this);
  }
  // A host's widget must survive being out of the tree until it is put back.
  setOutOfTree(true);
  if (takeOutOfHolder(w)) return;
  // Its holder keeps it: out of sight is as far as the SDK can take it.
  setOutOfTree(false);
  gtk_widget_set_visible(w, FALSE);
}

std::shared_ptr<Window> GtkView::window() const {
  std::shared_ptr<View> top;
  for (auto s = superview(); s; s = s->superview()) {
    if (auto window = std::dynamic_pointer_cast<Window>(s)) return window;
    top = s;
  }
  return nullptr;
}

// ---- geometry ----

bool GtkView::placedByContainer() const {
  GtkWidget* w = widget();
  return w && isContainer(gtk_widget_get_parent(w));
}

Rect GtkView::frame() const {
  GtkWidget* w = widget();
  if (!w || placedByContainer()) return frame_;
  GtkWidget* parent = gtk_widget_get_parent(w);
  graphene_rect_t r;
  const bool allocated = gtk_widget_get_width(w) > 0 || gtk_widget_get_height(w) > 0;
  if (parent && allocated && gtk_widget_compute_bounds(w, parent, &r)) {
    // What the host's layout gave it; remembered for when it is not on screen.
    const_cast<GtkView*>(this)->frame_ = Rect(r.origin.x, r.origin.y, r.size.width, r.size.height);
  }
  return frame_;
}

void GtkView::setSizeRules(const SizeRules& rules) {
  sizeRules_ = rules;
  setFrame(frame_);
}

void GtkView::setFrame(const Rect& proposed) {
  Rect frame = proposed;
  frame.size = applySizeRules(sizeRules_, proposed.size);
  const bool resizedNow = frame.size != frame_.size;
  frame_ = frame;
  requested_ = frame.size;
  if (GtkWidget* w = widget()) {
    if (placedByContainer()) {
      gtk_widget_queue_allocate(gtk_widget_get_parent(w));
    } else if (!host_) {
      gtk_widget_queue_resize(w);  // the host's layout asks for the new natural size
    }
  }
  if (resizedNow) resized();
}

Rect GtkView::bounds() const {
  const Size size = frame().size;
  return Rect(boundsOrigin_.x, boundsOrigin_.y, size.width, size.height);
}

void GtkView::setBoundsOrigin(Point origin) {
  boundsOrigin_ = origin;
  if (GtkWidget* w = widget(); w && !host_) gtk_widget_queue_allocate(w);
}

void GtkView::setFillsSuperview(bool fills) {
  fillsSuperview_ = fills;
  if (!fills) return;
  if (auto parent = superview()) {
    const Size size = parent->bounds().size;
    setFrame(Rect(0, 0, size.width, size.height));
  }
}

void GtkView::resized() {
  const Size size = frame_.size;
  auto children = subviews_;
  for (auto& child : children) {
    auto* c = cast(*child);
    if (c && c->fillsSuperview_) c->setFrame(Rect(0, 0, size.width, size.height));
  }
  if (layoutHandler_) {
    auto handler = layoutHandler_;  // the handler may replace itself
    handler();
  }
}

Rect GtkView::convertRect(const Rect& rect, const View& other) const {
  if (&other == static_cast<const View*>(this)) return rect;
  const auto* o = dynamic_cast<const GtkView*>(&other);
  // Within the SDK's own containers a subview sits where its frame says, at once; GTK's allocation
  // follows at the next layout. So frames lead up to the first widget something else placed (the
  // window's content, or a host's layout), and GTK's transforms go on from there.
  struct Anchor {
    GtkWidget* widget;
    Point offset;  // of the view's bounds coordinates in the widget's
  };
  auto anchorOf = [](const GtkView& view) {
    Point offset{-view.boundsOrigin_.x, -view.boundsOrigin_.y};
    const GtkView* v = &view;
    while (v->placedByContainer()) {
      const GtkView* parent = ORVEX_VIEW_WIDGET(gtk_widget_get_parent(v->widget()))->view;
      if (!parent) break;
      offset.x += v->frame_.origin.x + v->translation_.x - parent->boundsOrigin_.x;
      offset.y += v->frame_.origin.y + v->translation_.y - parent->boundsOrigin_.y;
      v = parent;
    }
    return Anchor{v->widget(), offset};
  };
  if (o && widget() && o->widget()) {
    const Anchor from = anchorOf(*this);
    const Anchor to = anchorOf(*o);
    graphene_point_t in = GRAPHENE_POINT_INIT(static_cast<float>(rect.origin.x + from.offset.x),
                                              static_cast<float>(rect.origin.y + from.offset.y));
    graphene_point_t out = in;
    const bool same = from.widget == to.widget;
    if (same || (gtk_widget_get_mapped(from.widget) && gtk_widget_get_mapped(to.widget) &&
                 gtk_widget_get_root(from.widget) == gtk_widget_get_root(to.widget) &&
                 gtk_widget_compute_point(from.widget, to.widget, &in, &out))) {
      return Rect(out.x - to.offset.x, out.y - to.offset.y, rect.size.width, rect.size.height);
    }
  }
  const Point from = modelOrigin(*this);
  const Point to = modelOrigin(other);
  return rect.offsetBy(from.x - to.x, from.y - to.y);
}

void GtkView::measure(GtkOrientation orientation, int* minimum, int* natural) const {
  // A view's frame is a fixed size, as on the phone: a host's layout may give it more room
  // (a box's full width), never less than asked.
  const double size =
      orientation == GTK_ORIENTATION_HORIZONTAL ? requested_.width : requested_.height;
  *minimum = *natural = std::max(0, static_cast<int>(size));
}

void GtkView::allocate(int width, int height) {
  if (!placedByContainer() && (frame_.size.width != width || frame_.size.height != height)) {
    frame_.size = Size{static_cast<double>(width), static_cast<double>(height)};
    resized();
  }
  auto place = [](GtkWidget* child, double x, double y, int w, int h) {
    int min = 0, nat = 0;
    // GTK wants every child measured before it is allocated.
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &min, &nat, nullptr, nullptr);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &min, &nat, nullptr, nullptr);
    // A translation is a transform of the allocation: GTK draws and picks the child there.
    const graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(y));
    gtk_widget_allocate(child, std::max(0, w), std::max(0, h), -1,
                        gsk_transform_translate(nullptr, &at));
  };
  if (content_ && gtk_widget_get_visible(content_)) place(content_, 0, 0, width, height);
  for (auto& child : subviews_) {
    auto* c = cast(*child);
    GtkWidget* cw = c ? c->widget() : nullptr;
    if (!cw || gtk_widget_get_parent(cw) != widget() || !gtk_widget_get_visible(cw)) continue;
    const Rect f = c->frame_;
    place(cw, std::trunc(f.origin.x - boundsOrigin_.x) + c->translation_.x,
          std::trunc(f.origin.y - boundsOrigin_.y) + c->translation_.y,
          static_cast<int>(f.size.width), static_cast<int>(f.size.height));
  }
}

void GtkView::setContent(GtkWidget* content) {
  content_ = content;
  gtk_widget_insert_after(content, widget(), nullptr);  // first child: beneath the subviews
}

// ---- appearance and input ----

bool GtkView::isHidden() const {
  GtkWidget* w = widget();
  return !w || !gtk_widget_get_visible(w) || !gtk_widget_get_child_visible(w);
}

void GtkView::setHidden(bool hidden) {
  if (GtkWidget* w = widget()) gtk_widget_set_visible(w, !hidden);
}

double GtkView::alpha() const {
  GtkWidget* w = widget();
  if (!w) return 0.0;
  // GTK keeps opacity in 8 bits: the value set is reported while the widget still has it.
  const double opacity = gtk_widget_get_opacity(w);
  return opacity == alphaAsSet_.second ? alphaAsSet_.first : opacity;
}

void GtkView::setAlpha(double alpha) {
  if (GtkWidget* w = widget()) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    gtk_widget_set_opacity(w, alpha);
    alphaAsSet_ = {alpha, gtk_widget_get_opacity(w)};
  }
  updateTargetable();
}

void GtkView::setBackgroundColor(std::uint32_t rgba) {
  backgroundColor_ = rgba;
  if (GtkWidget* w = widget(); w && !host_) gtk_widget_queue_draw(w);
}

void GtkView::snapshotBackground(GtkSnapshot* snapshot, int width, int height) const {
  if ((backgroundColor_ & 0xff) == 0) return;
  const GdkRGBA color = rgbaOf(backgroundColor_);
  graphene_rect_t r =
      GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  const bool rounded = cornerRadius_ > 0 && corners_ != 0;
  if (rounded) {
    auto corner = [&](unsigned c) {
      const float radius = (corners_ & c) ? static_cast<float>(cornerRadius_) : 0.f;
      return graphene_size_t{radius, radius};
    };
    const graphene_size_t tl = corner(kTopLeftCorner), tr = corner(kTopRightCorner),
                          br = corner(kBottomRightCorner), bl = corner(kBottomLeftCorner);
    GskRoundedRect shape;
    gsk_rounded_rect_init(&shape, &r, &tl, &tr, &br, &bl);
    gtk_snapshot_push_rounded_clip(snapshot, &shape);
  }
  gtk_snapshot_append_color(snapshot, &color, &r);
  if (rounded) gtk_snapshot_pop(snapshot);
}

void GtkView::setTranslation(Point offset) {
  translation_ = offset;
  GtkWidget* w = widget();
  if (w && placedByContainer()) gtk_widget_queue_allocate(gtk_widget_get_parent(w));
}

void GtkView::setCornerRadius(double radius, unsigned corners) {
  cornerRadius_ = std::max(0.0, radius);
  corners_ = corners & kAllCorners;
  updateShape();
  if (GtkWidget* w = widget(); w && !host_) gtk_widget_queue_draw(w);
}

void GtkView::setClipsToBounds(bool clips) {
  clips_ = clips;
  updateShape();
}

bool GtkView::insideRoundedShape(Point point) const {
  if (!clips_ || shape_.get() == nullptr) return true;
  return insideRoundedRect(bounds(), cornerRadius_, corners_, point);
}

void GtkView::updateShape() {
  GtkWidget* w = widget();
  if (!w || host_) return;
// Per-widget style providers: deprecated after GTK 4.8, not gone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GtkStyleContext* style = gtk_widget_get_style_context(w);
  if (shape_) gtk_style_context_remove_provider(style, GTK_STYLE_PROVIDER(shape_.get()));
  shape_.reset();
  if (!clips_ || cornerRadius_ <= 0 || corners_ == 0) return;
  // The container's overflow clip is its CSS padding box, rounded by border-radius: subviews (a
  // web page too) are drawn and picked inside the rounded shape.
  std::string css = "* { border-radius:";
  for (unsigned corner : {kTopLeftCorner, kTopRightCorner, kBottomRightCorner, kBottomLeftCorner}) {
    char number[G_ASCII_DTOSTR_BUF_SIZE];  // whatever the host's locale
    css += ' ';
    css += g_ascii_dtostr(number, sizeof number, (corners_ & corner) ? cornerRadius_ : 0.0);
    css += "px";
  }
  css += "; }";
  shape_ = GObjectPtr<GtkCssProvider>::adopt(gtk_css_provider_new());
  gtk_css_provider_load_from_data(shape_.get(), css.c_str(), -1);
  gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(shape_.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
#pragma GCC diagnostic pop
}

bool GtkView::isUserInteractionEnabled() const {
  return widget() && userInteraction_;
}

void GtkView::setUserInteractionEnabled(bool enabled) {
  userInteraction_ = enabled;
  updateTargetable();
}

void GtkView::updateTargetable() {
  GtkWidget* w = widget();
  if (!w) return;
  // GTK picks transparent widgets too.
  gtk_widget_set_can_target(w,
                            userInteraction_ && !passingThrough_ && alpha() > kHitTestMinimumAlpha);
}

void GtkView::setHitTestPassThrough(std::function<bool(HitTestEvent)> passThrough) {
  passThrough_ = std::move(passThrough);
  std::erase(passThroughViews(), this);
  if (passThrough_) {
    passThroughViews().push_back(this);
    // GDK hands every event to its surface's "event" signal, which GTK's windows handle; the
    // hook runs before them.
    static const gulong hook = [] {
      g_type_class_ref(GDK_TYPE_SURFACE);
      return g_signal_add_emission_hook(g_signal_lookup("event", GDK_TYPE_SURFACE), 0,
                                        &GtkView::beforePointerEvent, nullptr, nullptr);
    }();
    (void)hook;
  } else if (std::exchange(passingThrough_, false)) {
    updateTargetable();
  }
  if (GtkWidget* w = widget())
    g_object_set_data(G_OBJECT(w), kPassThroughKey, passThrough_ ? this : nullptr);
}

gboolean GtkView::beforePointerEvent(GSignalInvocationHint*, guint count, const GValue* params,
                                     gpointer) {
  if (passThroughViews().empty() || count < 2) return TRUE;
  auto* event = static_cast<GdkEvent*>(g_value_get_pointer(&params[1]));
  HitTestEvent kind = HitTestEvent::motion;
  switch (gdk_event_get_event_type(event)) {
    case GDK_BUTTON_PRESS:
    case GDK_TOUCH_BEGIN:
      kind = HitTestEvent::press;
      break;
    // GTK picks the widget under the pointer on these; a press goes where the last one put it.
    case GDK_MOTION_NOTIFY:
    case GDK_ENTER_NOTIFY:
    case GDK_BUTTON_RELEASE:
      break;
    default:
      return TRUE;
  }
  GtkNative* native = gtk_native_get_for_surface(GDK_SURFACE(g_value_get_object(&params[0])));
  double x = 0, y = 0, dx = 0, dy = 0;
  if (!native || !gdk_event_get_position(event, &x, &y)) return TRUE;
  gtk_native_get_surface_transform(native, &dx, &dy);
  passThroughAt(GTK_WIDGET(native), x - dx, y - dy, kind);
  return TRUE;  // stay installed
}

void GtkView::passThroughAt(GtkWidget* native, double x, double y, HitTestEvent event) {
  for (GtkView* v : passThroughViews()) {
    if (std::exchange(v->passingThrough_, false)) v->updateTargetable();
  }
  // As the SDK's hit test does: each rule on the way to what GTK would pick, outermost first,
  // asked once; one that lets the event through takes its view out of the pick, and GTK picks
  // again beneath it.
  std::vector<GtkView*> asked;
  for (;;) {
    std::vector<GtkView*> path;
    for (GtkWidget* w = gtk_widget_pick(native, x, y, GTK_PICK_DEFAULT); w;
         w = gtk_widget_get_parent(w)) {
      if (auto* v = static_cast<GtkView*>(g_object_get_data(G_OBJECT(w), kPassThroughKey))) {
        path.insert(path.begin(), v);
      }
    }
    GtkView* through = nullptr;
    for (GtkView* v : path) {
      if (std::ranges::find(asked, v) != asked.end()) continue;
      asked.push_back(v);
      if (v->passThrough_ && v->passThrough_(event)) {
        through = v;
        break;
      }
    }
    if (!through) return;
    through->passingThrough_ = true;
    through->updateTargetable();
  }
}

std::shared_ptr<View> GtkView::hitTest(Point point, HitTestEvent event) {
  if (isHidden() || !isUserInteractionEnabled() || alpha() <= kHitTestMinimumAlpha) return nullptr;
  if (!bounds().contains(point) || !insideRoundedShape(point)) return nullptr;
  if (passThrough_ && passThrough_(event)) return nullptr;
  auto children = subviews();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    const Rect f = (*it)->frame();
    const Rect b = (*it)->bounds();
    const Point t = (*it)->translation();
    Point p{point.x - f.origin.x - t.x + b.origin.x, point.y - f.origin.y - t.y + b.origin.y};
    if (auto hit = (*it)->hitTest(p, event)) return hit;
  }
  return shared_from_this();
}

bool GtkView::runTapHandlers(Point location) {
  if (tapHandlers_.empty()) return false;
  auto handlers = tapHandlers_;  // a handler may remove itself or the view
  for (auto& [token, handler] : handlers) {
    if (handler) handler(location);
  }
  return true;
}

bool GtkView::tap(Point point) {
  auto hit = hitTest(point, HitTestEvent::press);
  for (auto v = hit; v; v = v->superview()) {
    auto* g = cast(*v);
    if (!g || (g->tapHandlers_.empty() && !g->takesTaps_)) continue;
    const bool ran = g->runTapHandlers(convertRect(Rect(point.x, point.y, 0, 0), *v).origin);
    g->tapped();
    return ran || g->takesTaps_;
  }
  return false;
}

void GtkView::ensureGesture() {
  GtkWidget* w = widget();
  if (gesture_ || !w) return;
  // Taps are watched in the capture phase, never claimed: a web page or a host's button under a
  // view with tap handlers gets its click too (the platform's tap recognizers work alongside the
  // others), and of the views with tap handlers on the way the deepest takes the tap. Each press
  // and release is a tap, a double click two, as two quick touches are.
  gesture_ = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(gesture_, GTK_PHASE_CAPTURE);
  g_signal_connect(gesture_, "event", G_CALLBACK(&GtkView::onTapEvent), this);
  gtk_widget_add_controller(w, gesture_);
}

gboolean GtkView::onTapEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
  const GdkEventType type = gdk_event_get_event_type(event);
  const bool primary = (type != GDK_BUTTON_PRESS && type != GDK_BUTTON_RELEASE) ||
                       gdk_button_event_get_button(event) == GDK_BUTTON_PRIMARY;
  const bool down = primary && (type == GDK_BUTTON_PRESS || type == GDK_TOUCH_BEGIN);
  const bool up = primary && (type == GDK_BUTTON_RELEASE || type == GDK_TOUCH_END);
  auto* self = static_cast<GtkView*>(data);
  GtkWidget* w = self->widget();
  GtkNative* native = w ? gtk_widget_get_native(w) : nullptr;
  double x = 0, y = 0, dx = 0, dy = 0;
  if ((!down && !up) || !native || !gdk_event_get_position(event, &x, &y)) return FALSE;
  gtk_native_get_surface_transform(native, &dx, &dy);
  const graphene_point_t inNative =
      GRAPHENE_POINT_INIT(static_cast<float>(x - dx), static_cast<float>(y - dy));
  graphene_point_t at;
  if (!gtk_widget_compute_point(GTK_WIDGET(native), w, &inNative, &at)) return FALSE;
  auto& press = currentPress();
  if (down) {
    // Outermost first: the deepest view with tap handlers is the last to take the press.
    press = {self, at};
    return FALSE;
  }
  if (press.view != self) return FALSE;
  const graphene_point_t from = press.at;
  press = {};
  if (!gtk_widget_contains(w, at.x, at.y) || std::hypot(at.x - from.x, at.y - from.y) > kTapSlop) {
    return FALSE;  // dragged, or let go elsewhere
  }
  // Widget coordinates; the view's own are shifted by its scroll offset.
  self->runTapHandlers(Point{at.x + self->boundsOrigin_.x, at.y + self->boundsOrigin_.y});
  return FALSE;
}

int GtkView::addTapHandler(std::function<void()> handler) {
  return addLocatedTapHandler([handler = std::move(handler)](Point) {
    if (handler) handler();
  });
}

int GtkView::addLocatedTapHandler(std::function<void(Point)> handler) {
  ensureGesture();
  const int token = nextTapToken_++;
  tapHandlers_.emplace_back(token, std::move(handler));
  return token;
}

void GtkView::removeTapHandler(int token) {
  std::erase_if(tapHandlers_, [&](const auto& entry) { return entry.first == token; });
  if (tapHandlers_.empty() && !takesTaps_) removeGesture(widget(), gesture_);
}

void GtkView::setAccessibilityIdentifier(std::string identifier) {
  identifier_ = std::move(identifier);
  if (!host_) gtk_widget_set_name(owned_.get(), identifier_.c_str());
}

std::shared_ptr<View> GtkView::findView(const std::string& identifier) {
  if (identifier_ == identifier) return shared_from_this();
  for (auto& child : subviews()) {
    if (auto* c = cast(*child)) {
      if (auto found = c->findView(identifier)) return found;
    }
  }
  return nullptr;
}

void Tween::start(double seconds, std::function<void(double)> step) {
  stop();
  step_ = std::move(step);
  seconds_ = seconds;
  startedAt_ = g_get_monotonic_time();
  source_ = g_timeout_add(1000 / 60, &Tween::tick, this);
}

void Tween::stop() {
  if (source_) g_source_remove(source_);
  source_ = 0;
}

gboolean Tween::tick(gpointer data) {
  auto* self = static_cast<Tween*>(data);
  const double elapsed = static_cast<double>(g_get_monotonic_time() - self->startedAt_) / 1e6;
  const double t = self->seconds_ > 0 ? std::min(1.0, elapsed / self->seconds_) : 1.0;
  auto step = self->step_;  // the step may restart, stop or destroy the tween
  if (t >= 1) {
    self->source_ = 0;
    step(1);
    return G_SOURCE_REMOVE;
  }
  step(t);
  return G_SOURCE_CONTINUE;  // ignored when the step stopped it
}

InterfaceStyle themeInterfaceStyle(GtkSettings* settings) {
  gboolean dark = FALSE;
  if (settings) {
    gchar* name = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &dark, "gtk-theme-name", &name,
                 nullptr);
    GCharPtr owned(name);
    if (name && g_str_has_suffix(name, "-dark")) dark = TRUE;
  }
  // GTK_THEME overrides the settings' theme, its variant after a colon.
  if (const char* forced = g_getenv("GTK_THEME"); forced && g_str_has_suffix(forced, ":dark")) {
    dark = TRUE;
  }
  return dark ? InterfaceStyle::dark : InterfaceStyle::light;
}

// ---- images and labels ----

GObjectPtr<GdkTexture> textureFor(const Image& image) {
  if (!image.pixels || image.pixelWidth <= 0 || image.pixelHeight <= 0) return {};
  const gsize stride = static_cast<gsize>(image.pixelWidth) * 4;
  auto* keep = new std::shared_ptr<const void>(image.pixels);
  GBytes* bytes = g_bytes_new_with_free_func(
      image.pixels.get(), stride * static_cast<gsize>(image.pixelHeight),
      [](gpointer p) { delete static_cast<std::shared_ptr<const void>*>(p); }, keep);
  auto texture = GObjectPtr<GdkTexture>::adopt(gdk_memory_texture_new(
      image.pixelWidth, image.pixelHeight, GDK_MEMORY_R8G8B8A8, bytes, stride));
  g_bytes_unref(bytes);
  return texture;
}

GtkActivityIndicator::GtkActivityIndicator() : spinner_(gtk_spinner_new()) {
  setContent(spinner_);
  setHidden(true);
}

void GtkActivityIndicator::startAnimating() {
  gtk_spinner_start(GTK_SPINNER(spinner_));
  setHidden(false);
}

void GtkActivityIndicator::stopAnimating() {
  gtk_spinner_stop(GTK_SPINNER(spinner_));
  setHidden(true);
}

bool GtkActivityIndicator::isAnimating() const {
  return gtk_spinner_get_spinning(GTK_SPINNER(spinner_));
}

GtkImageView::GtkImageView() : picture_(gtk_picture_new()) {
  gtk_picture_set_can_shrink(GTK_PICTURE(picture_), TRUE);
  gtk_picture_set_content_fit(GTK_PICTURE(picture_), GTK_CONTENT_FIT_FILL);
  setContent(picture_);
}

void GtkImageView::setImage(std::optional<Image> image) {
  image_ = std::move(image);
  auto texture = image_ ? textureFor(*image_) : GObjectPtr<GdkTexture>();
  gtk_picture_set_paintable(GTK_PICTURE(picture_), GDK_PAINTABLE(texture.get()));
}

GtkLabelView::GtkLabelView() : label_(gtk_label_new(nullptr)) {
  gtk_label_set_wrap(GTK_LABEL(label_), TRUE);
  gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
  setContent(label_);
}

void GtkLabelView::setText(std::string text) {
  gtk_label_set_text(GTK_LABEL(label_), text.c_str());
}

std::string GtkLabelView::text() const {
  return gtk_label_get_text(GTK_LABEL(label_));
}

void GtkLabelView::setTextColor(std::uint32_t rgba) {
  style_.color = rgba;
  style_.colored = true;
  style_.applyTo(GTK_LABEL(label_));
}

void GtkLabelView::setFont(double points, bool bold) {
  style_.points = points;
  style_.bold = bold;
  style_.applyTo(GTK_LABEL(label_));
}

void GtkLabelView::setTextAlignment(TextAlignment alignment) {
  // GtkLabel mirrors xalign for right-to-left text, so 0 is the leading edge.
  const float x = alignment == TextAlignment::leading  ? 0.f
                  : alignment == TextAlignment::center ? 0.5f
                                                       : 1.f;
  gtk_label_set_xalign(GTK_LABEL(label_), x);
  gtk_label_set_justify(GTK_LABEL(label_), alignment == TextAlignment::leading ? GTK_JUSTIFY_LEFT
                                           : alignment == TextAlignment::center
                                               ? GTK_JUSTIFY_CENTER
                                               : GTK_JUSTIFY_RIGHT);
}

void TextStyle::applyTo(GtkLabel* label) const {
  PangoAttrList* attributes = pango_attr_list_new();
  if (colored) {
    const GdkRGBA c = rgbaOf(color);
    pango_attr_list_insert(attributes,
                           pango_attr_foreground_new(static_cast<guint16>(c.red * 65535),
                                                     static_cast<guint16>(c.green * 65535),
                                                     static_cast<guint16>(c.blue * 65535)));
    pango_attr_list_insert(attributes,
                           pango_attr_foreground_alpha_new(static_cast<guint16>(c.alpha * 65535)));
  }
  if (points > 0) {
    pango_attr_list_insert(attributes,
                           pango_attr_size_new_absolute(static_cast<int>(points * PANGO_SCALE)));
  }
  if (bold) pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  gtk_label_set_attributes(label, attributes);
  pango_attr_list_unref(attributes);
}

// ---- buttons ----

GtkButtonView::GtkButtonView() : button_(gtk_button_new()), label_(gtk_label_new(nullptr)) {
  gtk_widget_add_css_class(button_, "flat");
  // The frame is the button's size: no theme padding or minimum may make it larger, and without
  // a title nothing of it is drawn. One style for the display, kept for the process.
  static const bool styled = [] {
    auto css = GObjectPtr<GtkCssProvider>::adopt(gtk_css_provider_new());
    gtk_css_provider_load_from_data(
        css.get(),
        "button.orvex-button { padding: 0; min-width: 0; min-height: 0; border: none; "
        "box-shadow: none; background: none; }",
        -1);
    gtk_style_context_add_provider_for_display(
        gdk_display_get_default(), GTK_STYLE_PROVIDER(css.get()),
        GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);  // the display holds it
    return true;
  }();
  (void)styled;
  gtk_widget_add_css_class(button_, "orvex-button");
  gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
  gtk_button_set_child(GTK_BUTTON(button_), label_);
  setContent(button_);
  takeTaps();
  clicked_ = connectSignal(
      button_, "clicked",
      +[](GtkButton*, gpointer self) {
        auto* view = static_cast<GtkButtonView*>(self);
        auto keep = view->weak_from_this().lock();  // the action may release the button
        if (auto action = view->action_) action();
      },
      this);
}

GtkButtonView::~GtkButtonView() {
  clicked_.disconnect();
}

void GtkButtonView::tapped() {
  g_signal_emit_by_name(button_, "clicked");  // as a real click ends
}

void GtkButtonView::setTitle(std::string title) {
  gtk_label_set_text(GTK_LABEL(label_), title.c_str());
}

std::string GtkButtonView::title() const {
  return gtk_label_get_text(GTK_LABEL(label_));
}

void GtkButtonView::setTitleColor(std::uint32_t rgba) {
  style_.color = rgba;
  style_.colored = true;
  style_.applyTo(GTK_LABEL(label_));
}

}  // namespace orvex::gtk
