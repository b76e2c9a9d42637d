#include "orvex/core/view_animator.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(CubicTiming, ProgressFollowsTheCurveAndIsExactAtTheEnds) {
  const CubicTiming linear{0, 0, 1, 1}, ease{}, easeInOut{0.42, 0, 0.58, 1}, steepStart{0, 1, 0, 1};
  // Values of the curves at these points, solved independently by bisection.
  const struct {
    CubicTiming curve;
    double t, progress;
  } rows[] = {
      {linear, 0.3, 0.3},         {ease, 0.25, 0.4085},      {ease, 0.5, 0.8024},
      {easeInOut, 0.5, 0.5},      {easeInOut, 0.25, 0.1292}, {steepStart, 0.5, 0.9912},
      {steepStart, 0.01, 0.5171},
  };
  for (const auto& r : rows) {
    EXPECT_NEAR(r.curve.progressAt(r.t), r.progress, 1e-3) << r.t;
  }
  for (const auto& c : {linear, ease, easeInOut, steepStart}) {
    EXPECT_EQ(c.progressAt(0), 0);
    EXPECT_EQ(c.progressAt(-1), 0);
    EXPECT_EQ(c.progressAt(1), 1);
    EXPECT_EQ(c.progressAt(2), 1);
  }
}

}  // namespace
}  // namespace orvex
