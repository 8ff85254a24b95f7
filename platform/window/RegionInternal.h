// What the window half of this layer needs to know of regions. Internal to
// the window layer.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "platform/window/WinUser.h"

namespace platform::region {

struct Band {
  LONG top;
  LONG bottom;
  std::vector<std::pair<LONG, LONG>> spans;  // sorted, disjoint, [start, end)
};

struct Shape {
  std::vector<Band> bands;  // sorted, disjoint, none empty
};

std::shared_ptr<const Shape> ShapeOf(HRGN region);
// Puts `shape` in the region; false for a bad handle.
bool Assign(HRGN region, std::shared_ptr<const Shape> shape);
// Hands the region to a window: false when it is no region or a window has it.
bool Adopt(HRGN region);
// Frees a region that a window had.
void ReleaseAdopted(HRGN region);
int TypeOf(const Shape& shape);

}  // namespace platform::region
