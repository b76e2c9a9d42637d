#pragma once
// A spinner that shows work in progress. It is hidden whenever it is not animating (the port's
// view is made stopped and hidden). Main thread only.

#include "orvex/platform/view.h"

namespace orvex {

class ORVEX_API ActivityIndicatorView : public virtual View {
 public:
  // Shows the spinner and animates it.
  virtual void startAnimating() = 0;
  // Stops it and hides it.
  virtual void stopAnimating() = 0;
  virtual bool isAnimating() const = 0;
};

}  // namespace orvex
