#pragma once
// Plane geometry in points, with the platform's rules: a rectangle with a zero or negative side
// is empty, and intersecting rectangles must overlap with a positive area.

#include <algorithm>

namespace orvex {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(double x, double y, double width, double height)
      : origin{x, y}, size{width, height} {}
  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  // The common part; empty (and at the origin) when there is none.
  Rect intersection(const Rect& o) const {
    double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
    double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (!(x1 > x0) || !(y1 > y0)) return Rect();
    return Rect(x0, y0, x1 - x0, y1 - y0);
  }
  bool intersects(const Rect& o) const { return !intersection(o).isEmpty(); }
  Rect offsetBy(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace orvex
