// The drop shadow of a page's window on the X display: the image this layer
// keeps for a layered window owned by the dialog (its shadow) is drawn below
// the page's X window where a compositing manager runs.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace platform {

// What was last given to the display, so an unchanged shadow is not sent again.
struct PageShadowState {
  unsigned long window = 0;  // the owner's X window
  int updates = -1;          // the image's count of updates
  int offsetX = 0, offsetY = 0;
  bool shown = false;
};

// Gives the page's X window `window` of `dialog` the shadow the dialog has now
// (none when the dialog or its shadow is hidden).
void FollowPageShadow(HWND dialog, unsigned long window, PageShadowState& state);

}  // namespace platform
