#pragma once
// Screens the SDK describes as data: a layout resource is a tree of elements (views, images,
// labels, buttons, scroll views) with simple placement rules relative to their parent, read from
// <SDK resources>/layouts/<name>.json and built into the platform's views. A port needs no layout
// engine of its own: the rules are applied here, on every layout pass of each parent.
//
// {"root": ELEMENT}; ELEMENT = {"id", "kind": "view"|"image"|"label"|"button"|"scroll", "rules",
// "background": "#RRGGBBAA", "cornerRadius", "hidden", "alpha", "text", "textColor", "fontSize",
// "bold", "align": "leading"|"center"|"trailing", "title", "paging", "children": [ELEMENT...]}.
// Every member is optional but "kind"; ids are unique. Labels and images take no input (taps go
// to what lies beneath them), as the phone platform's do. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orvex/platform/platform.h"
#include "orvex/platform/view.h"

namespace orvex {

// Where an element sits in its parent's bounds. Per axis: an inset from either edge, both (the
// size follows the parent), or an offset from the centre; a size in points or as a fraction of the
// parent's. A size without a position is centred; an axis with no rule fills the parent. `aspect`
// (width / height) sets the height from the width when no height is given.
struct LayoutRules {
  std::optional<double> left, right, top, bottom;
  std::optional<double> width, height, widthFraction, heightFraction;
  std::optional<double> centerX, centerY;
  std::optional<double> aspect;
  friend bool operator==(const LayoutRules&, const LayoutRules&) = default;
};

// The frame `rules` give in a parent whose bounds have `parent` size.
Rect layoutFrame(const LayoutRules& rules, Size parent);

namespace layout_detail {
struct Tree;
}

struct BuiltLayout {
  std::shared_ptr<View> root;
  std::map<std::string, std::shared_ptr<View>> elements;  // by "id"

  // The element `id` as a T; none when absent or of another kind.
  template <typename T>
  std::shared_ptr<T> element(const std::string& id) const {
    auto it = elements.find(id);
    return it == elements.end() ? nullptr : std::dynamic_pointer_cast<T>(it->second);
  }

  // The rules element `id` is placed by; none for an unknown id.
  std::optional<LayoutRules> rules(const std::string& id) const;
  // Replaces them and places the element (and what it holds) again at once; false for an
  // unknown id or the root, which its owner places.
  bool setRules(const std::string& id, const LayoutRules& rules) const;
  // Runs `handler` on each layout pass of element `id` (its size changed, or layout() ran), after
  // its children have been placed. The element's own layout handler belongs to the layout: set
  // this instead; it must hold the views it touches weakly. False for an unknown id.
  bool setLayoutHandler(const std::string& id, std::function<void()> handler) const;
  // Applies every rule again from the root down.
  void layout() const;

  std::shared_ptr<layout_detail::Tree> tree;
};

// Reads <sdk resources>/layouts/<name>.json from the SDK's platform and builds it; none when it is
// missing or malformed (logged).
std::optional<BuiltLayout> buildLayout(UserInterface& ui, std::string_view name);
std::optional<BuiltLayout> buildLayout(UserInterface& ui, const OrvexPlatform& platform,
                                       std::string_view name);
// Builds a layout from its JSON text; none when malformed (`error` then says why).
std::optional<BuiltLayout> buildLayoutFromJson(UserInterface& ui, std::string_view text,
                                               std::string* error = nullptr);

}  // namespace orvex
