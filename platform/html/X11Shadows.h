// The drop shadows of the shown pages' windows. A shadow is a window of its
// own with an alpha channel (a 32-bit visual), kept just below its owner in
// the stacking order and moved, hidden and shown with it. Only a compositing
// manager (one that owns _NET_WM_CM_S0) draws such a window see-through;
// without one no shadow window exists, and one appears or goes when a
// compositing manager starts or ends.
//
// One connection of its own to the display of $DISPLAY, opened on first use;
// every call answers false when there is no X display.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/html/X11Windows.h"

namespace platform::x11 {

struct ShadowImage {
  int x = 0, y = 0;  // from the owner's top-left corner
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // premultiplied ARGB, rows from the top
};

// `owner` gets the shadow `image`, or its new image. False without a display
// or for an image whose pixels do not fill it.
bool SetShadow(WindowId owner, ShadowImage image);
// `owner` has no shadow any more.
void RemoveShadow(WindowId owner);

}  // namespace platform::x11
