#include "orvex/formats/layout_resource.h"

#include <cmath>
#include <set>
#include <vector>

#include "orvex/core/json.h"
#include "orvex/core/orvex.h"
#include "orvex/core/simple_logger.h"

namespace orvex {
namespace layout_detail {

struct Node {
  std::weak_ptr<View> view;
  LayoutRules rules;
  std::vector<std::shared_ptr<Node>> children;
  std::function<void()> afterLayout;
};

// Nodes hold their views weakly and are held by the views' layout handlers (and the tree, by
// every BuiltLayout copy), so the views own the layout's logic and nothing forms a cycle.
struct Tree {
  std::shared_ptr<Node> root;
  std::map<std::string, std::shared_ptr<Node>> byId;
  std::map<const Node*, std::weak_ptr<Node>> parents;
};

}  // namespace layout_detail

namespace {

using layout_detail::Node;
using layout_detail::Tree;

// A layout is a screenful of elements; anything this large or deep is not one.
constexpr std::size_t kMaxFileBytes = 256 * 1024;
constexpr int kMaxDepth = 64;

enum class Kind { view, image, label, button, scroll };

struct Blueprint {
  std::string id;
  Kind kind = Kind::view;
  LayoutRules rules;
  std::optional<std::uint32_t> background, textColor;
  std::optional<double> cornerRadius, alpha, fontSize;
  std::optional<bool> hidden, bold, paging;
  std::optional<TextAlignment> align;
  std::optional<std::string> text, title;
  std::vector<Blueprint> children;
};

std::optional<std::uint32_t> parseColour(const std::string& text) {
  if (text.size() != 9 || text[0] != '#') return std::nullopt;
  std::uint32_t out = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    out = out << 4 | digit;
  }
  return out;
}

class Reader {
 public:
  std::string error;

  std::optional<Blueprint> element(const Value& value, std::set<std::string>& ids) {
    const ValueDict* members = value.asDict();
    if (!members) return fail("an element is not an object");
    Blueprint blueprint;
    const Value* kind = value.find("kind");
    const std::string* kindText = kind ? kind->asString() : nullptr;
    if (!kindText) return fail("an element has no kind");
    static const std::map<std::string, Kind, std::less<>> kKinds{{"view", Kind::view},
                                                                 {"image", Kind::image},
                                                                 {"label", Kind::label},
                                                                 {"button", Kind::button},
                                                                 {"scroll", Kind::scroll}};
    auto k = kKinds.find(*kindText);
    if (k == kKinds.end()) return fail("unknown kind \"" + *kindText + "\"");
    blueprint.kind = k->second;

    for (const auto& [key, member] : *members) {
      bool ok = true;
      if (key == "kind") {
      } else if (key == "id") {
        ok = text(member, blueprint.id) && !blueprint.id.empty() && ids.insert(blueprint.id).second;
      } else if (key == "rules") {
        ok = rules(member, blueprint.rules);
      } else if (key == "background" || key == "textColor") {
        std::string colour;
        ok = text(member, colour);
        auto parsed = ok ? parseColour(colour) : std::nullopt;
        ok = parsed.has_value();
        (key == "background" ? blueprint.background : blueprint.textColor) = parsed;
      } else if (key == "cornerRadius") {
        ok = number(member, blueprint.cornerRadius, 0);
      } else if (key == "alpha") {
        ok = number(member, blueprint.alpha, 0) && *blueprint.alpha <= 1;
      } else if (key == "fontSize") {
        ok = number(member, blueprint.fontSize, 1);
      } else if (key == "hidden") {
        ok = flag(member, blueprint.hidden);
      } else if (key == "bold") {
        ok = flag(member, blueprint.bold);
      } else if (key == "paging") {
        ok = flag(member, blueprint.paging);
      } else if (key == "text" || key == "title") {
        std::string s;
        ok = text(member, s);
        (key == "text" ? blueprint.text : blueprint.title) = s;
      } else if (key == "align") {
        std::string s;
        ok = text(member, s);
        if (s == "leading") {
          blueprint.align = TextAlignment::leading;
        } else if (s == "center") {
          blueprint.align = TextAlignment::center;
        } else if (s == "trailing") {
          blueprint.align = TextAlignment::trailing;
        } else {
          ok = false;
        }
      } else if (key == "children") {
        const ValueArray* children = member.asArray();
        ok = children != nullptr;
        for (std::size_t i = 0; ok && i < children->size(); ++i) {
          auto child = element((*children)[i], ids);
          if (!child) return std::nullopt;
          blueprint.children.push_back(std::move(*child));
        }
      } else {
        return fail("unknown member \"" + key + "\"");
      }
      if (!ok)
        return fail("bad \"" + key + "\"" + (blueprint.id.empty() ? "" : " in " + blueprint.id));
    }
    return blueprint;
  }

 private:
  std::nullopt_t fail(std::string why) {
    if (error.empty()) error = std::move(why);
    return std::nullopt;
  }
  static bool text(const Value& v, std::string& out) {
    const std::string* s = v.asString();
    if (s) out = *s;
    return s != nullptr;
  }
  static bool flag(const Value& v, std::optional<bool>& out) {
    if (const bool* b = v.asBool()) out = *b;
    return v.asBool() != nullptr;
  }
  // A finite number of at least `minimum`.
  static bool number(const Value& v, std::optional<double>& out, double minimum) {
    auto n = v.number();
    if (!n || !std::isfinite(*n) || *n < minimum) return false;
    out = *n;
    return true;
  }
  static bool rules(const Value& v, LayoutRules& out) {
    const ValueDict* members = v.asDict();
    if (!members) return false;
    const std::map<std::string, std::optional<double>*, std::less<>> slots{
        {"left", &out.left},
        {"right", &out.right},
        {"top", &out.top},
        {"bottom", &out.bottom},
        {"width", &out.width},
        {"height", &out.height},
        {"widthFraction", &out.widthFraction},
        {"heightFraction", &out.heightFraction},
        {"centerX", &out.centerX},
        {"centerY", &out.centerY},
        {"aspect", &out.aspect}};
    for (const auto& [key, member] : *members) {
      auto slot = slots.find(key);
      if (slot == slots.end()) return false;
      auto n = member.number();
      if (!n || !std::isfinite(*n)) return false;
      *slot->second = *n;
    }
    const bool sizes = (out.width && *out.width < 0) || (out.height && *out.height < 0) ||
                       (out.widthFraction && *out.widthFraction < 0) ||
                       (out.heightFraction && *out.heightFraction < 0) ||
                       (out.aspect && !(*out.aspect > 0));
    return !sizes;
  }
};

std::shared_ptr<View> makeElement(UserInterface& ui, const Blueprint& blueprint) {
  std::shared_ptr<View> view;
  switch (blueprint.kind) {
    case Kind::view:
      view = ui.makeView();
      break;
    case Kind::image:
      view = ui.makeImageView();
      break;
    case Kind::label: {
      auto label = ui.makeLabel();
      if (label) {
        if (blueprint.text) label->setText(*blueprint.text);
        if (blueprint.textColor) label->setTextColor(*blueprint.textColor);
        if (blueprint.fontSize || blueprint.bold)
          label->setFont(blueprint.fontSize.value_or(14), blueprint.bold == true);
        if (blueprint.align) label->setTextAlignment(*blueprint.align);
      }
      view = label;
      break;
    }
    case Kind::button: {
      auto button = ui.makeButton();
      if (button) {
        if (blueprint.title) button->setTitle(*blueprint.title);
        if (blueprint.textColor) button->setTitleColor(*blueprint.textColor);
      }
      view = button;
      break;
    }
    case Kind::scroll: {
      auto scroll = ui.makeScrollView();
      if (scroll && blueprint.paging) scroll->setPagingEnabled(*blueprint.paging);
      view = scroll;
      break;
    }
  }
  if (!view) return nullptr;
  if (blueprint.kind == Kind::label || blueprint.kind == Kind::image)
    view->setUserInteractionEnabled(false);
  if (!blueprint.id.empty()) view->setAccessibilityIdentifier(blueprint.id);
  if (blueprint.background) view->setBackgroundColor(*blueprint.background);
  if (blueprint.cornerRadius) view->setCornerRadius(*blueprint.cornerRadius);
  if (blueprint.hidden) view->setHidden(*blueprint.hidden);
  if (blueprint.alpha) view->setAlpha(*blueprint.alpha);
  return view;
}

void placeChildren(const Node& node) {
  auto view = node.view.lock();
  if (!view) return;
  const Size size = view->bounds().size;
  for (const auto& child : node.children) {
    if (auto c = child->view.lock()) c->setFrame(layoutFrame(child->rules, size));
  }
}

// The view's own layout handler: its children first, then what the owner added.
void installHandler(const std::shared_ptr<Node>& node) {
  auto view = node->view.lock();
  if (!view) return;
  view->setLayoutHandler([node] {
    placeChildren(*node);
    if (auto after = node->afterLayout) after();
  });
}

// `views` keeps every view alive until the root owns it.
std::shared_ptr<Node> build(UserInterface& ui, const Blueprint& blueprint, Tree& tree,
                            BuiltLayout& out, std::vector<std::shared_ptr<Node>>& all,
                            std::vector<std::shared_ptr<View>>& views) {
  auto view = makeElement(ui, blueprint);
  if (!view) return nullptr;
  views.push_back(view);
  auto node = std::make_shared<Node>();
  node->view = view;
  node->rules = blueprint.rules;
  all.push_back(node);
  if (!blueprint.id.empty()) {
    tree.byId[blueprint.id] = node;
    out.elements[blueprint.id] = view;
  }
  for (const auto& childSpec : blueprint.children) {
    auto child = build(ui, childSpec, tree, out, all, views);
    if (!child) return nullptr;
    view->addSubview(child->view.lock());
    tree.parents[child.get()] = node;
    node->children.push_back(std::move(child));
  }
  return node;
}

void relayout(const Node& node) {
  placeChildren(node);
  for (const auto& child : node.children) relayout(*child);
  if (auto after = node.afterLayout) after();
}

// The axis of one dimension: position rules, a size, the parent's extent.
struct Axis {
  std::optional<double> lead, trail, center, size, fraction;
};

// Origin and length along an axis; `length` when given overrides the size rules.
std::pair<double, double> place(const Axis& a, double parent, std::optional<double> length) {
  std::optional<double> size = length;
  if (!size && a.fraction) size = *a.fraction * parent;
  if (!size && a.size) size = *a.size;
  if (a.lead && a.trail && !size) return {*a.lead, std::max(0.0, parent - *a.lead - *a.trail)};
  if (a.lead) return {*a.lead, size.value_or(std::max(0.0, parent - *a.lead))};
  if (a.trail) {
    const double s = size.value_or(std::max(0.0, parent - *a.trail));
    return {parent - *a.trail - s, s};
  }
  if (!size && !a.center) return {0, parent};
  const double s = size.value_or(parent);
  return {(parent - s) / 2 + a.center.value_or(0), s};
}

}  // namespace

Rect layoutFrame(const LayoutRules& r, Size parent) {
  const auto [x, w] =
      place({r.left, r.right, r.centerX, r.width, r.widthFraction}, parent.width, std::nullopt);
  std::optional<double> height;
  if (r.aspect && !r.height && !r.heightFraction) height = w / *r.aspect;
  const auto [y, h] =
      place({r.top, r.bottom, r.centerY, r.height, r.heightFraction}, parent.height, height);
  return Rect(x, y, w, h);
}

std::optional<LayoutRules> BuiltLayout::rules(const std::string& id) const {
  if (!tree) return std::nullopt;
  auto it = tree->byId.find(id);
  if (it == tree->byId.end()) return std::nullopt;
  return it->second->rules;
}

bool BuiltLayout::setRules(const std::string& id, const LayoutRules& rules) const {
  if (!tree) return false;
  auto it = tree->byId.find(id);
  if (it == tree->byId.end() || it->second == tree->root) return false;
  Node& node = *it->second;
  node.rules = rules;
  auto p = tree->parents.find(&node);
  auto parent = p == tree->parents.end() ? nullptr : p->second.lock();
  auto parentView = parent ? parent->view.lock() : nullptr;
  auto view = node.view.lock();
  if (!parentView || !view) return true;
  const Rect before = view->frame();
  view->setFrame(layoutFrame(rules, parentView->bounds().size));
  // A resize has already laid the element out through its handler.
  if (view->frame().size == before.size) relayout(node);
  return true;
}

bool BuiltLayout::setLayoutHandler(const std::string& id, std::function<void()> handler) const {
  if (!tree) return false;
  auto it = tree->byId.find(id);
  if (it == tree->byId.end()) return false;
  it->second->afterLayout = std::move(handler);
  return true;
}

void BuiltLayout::layout() const {
  if (tree && tree->root) relayout(*tree->root);
}

std::optional<BuiltLayout> buildLayoutFromJson(UserInterface& ui, std::string_view text,
                                               std::string* error) {
  auto fail = [&](std::string why) -> std::optional<BuiltLayout> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (text.size() > kMaxFileBytes) return fail("too large");
  std::string parseError;
  auto value = json::parse(text, &parseError, kMaxDepth);
  if (!value) return fail(parseError);
  const ValueDict* top = value->asDict();
  const Value* rootValue = value->find("root");
  if (!top || !rootValue || top->size() != 1) return fail("not {\"root\": element}");
  Reader reader;
  std::set<std::string> ids;
  auto blueprint = reader.element(*rootValue, ids);
  if (!blueprint) return fail(reader.error);

  BuiltLayout out;
  out.tree = std::make_shared<Tree>();
  std::vector<std::shared_ptr<Node>> all;
  std::vector<std::shared_ptr<View>> views;
  auto root = build(ui, *blueprint, *out.tree, out, all, views);
  if (!root) return fail("the platform made no view");
  out.tree->root = root;
  out.root = root->view.lock();
  for (const auto& node : all) installHandler(node);
  out.layout();
  return out;
}

std::optional<BuiltLayout> buildLayout(UserInterface& ui, const OrvexPlatform& platform,
                                       std::string_view name) {
  static SimpleLogger logger("LayoutResource");
  auto fail = [&](std::string_view why) -> std::optional<BuiltLayout> {
    logger.log("layout " + std::string(name) + ": " + std::string(why));
    return std::nullopt;
  };
  // A name, never a path.
  if (name.empty() || name.size() > 64 ||
      name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") !=
          std::string_view::npos) {
    return fail("not a layout name");
  }
  if (!platform.bundle || !platform.files) return fail("no resources");
  const auto dir = platform.bundle->sdkResourceDirectory();
  if (!dir) return fail("no resources");
  auto text =
      platform.files->readFile(*dir / "layouts" / (std::string(name) + ".json"), kMaxFileBytes);
  if (!text) return fail("not found");
  std::string error;
  auto built = buildLayoutFromJson(ui, *text, &error);
  if (!built) return fail(error);
  return built;
}

std::optional<BuiltLayout> buildLayout(UserInterface& ui, std::string_view name) {
  return buildLayout(ui, Orvex::shared().platform(), name);
}

}  // namespace orvex
