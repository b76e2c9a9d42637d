#include "tests/conformance/port_harness.h"

namespace orvex::conformance {

void PortTest::SetUp() {
  harness_ = GetParam().make();
  if (!harness_) GTEST_SKIP() << GetParam().name << " cannot run here (no display)";
}

std::shared_ptr<View> PortTest::addView(const Rect& frame, const std::shared_ptr<View>& parent) {
  auto view = port().ui().makeView();
  (parent ? parent : port().root()->view())->addSubview(view);
  view->setFrame(frame);
  return view;
}

std::string portName(const ::testing::TestParamInfo<PortParam>& info) {
  return info.param.name;
}

}  // namespace orvex::conformance
