#include "platform/window/Region.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "platform/kernel/LastError.h"
#include "platform/window/RegionInternal.h"

namespace platform::region {

namespace {

struct Entry {
  std::shared_ptr<const Shape> shape;
  bool adopted = false;  // a window owns it
};

struct Table {
  std::mutex mutex;
  std::uintptr_t next = 0x40000;
  std::unordered_map<std::uintptr_t, Entry> regions;
};

Table& Regions() {
  static Table* const table = new Table;  // lives to the end of the process
  return *table;
}

std::uintptr_t Key(HRGN region) { return reinterpret_cast<std::uintptr_t>(region); }

HRGN Add(std::shared_ptr<const Shape> shape) {
  Table& table = Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  const std::uintptr_t id = table.next++;
  table.regions.emplace(id, Entry{std::move(shape), false});
  return reinterpret_cast<HRGN>(id);
}

// Builds bands from one span per row, starting at row `top`; rows whose span
// is empty leave a gap.
std::shared_ptr<const Shape> FromRows(LONG top, const std::vector<std::pair<LONG, LONG>>& rows) {
  auto shape = std::make_shared<Shape>();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [start, end] = rows[i];
    if (start >= end) continue;
    const LONG y = top + static_cast<LONG>(i);
    if (!shape->bands.empty()) {
      Band& last = shape->bands.back();
      if (last.bottom == y && last.spans.size() == 1 && last.spans[0] == rows[i]) {
        last.bottom = y + 1;
        continue;
      }
    }
    shape->bands.push_back(Band{y, y + 1, {rows[i]}});
  }
  return shape;
}

std::shared_ptr<const Shape> RectShape(int left, int top, int right, int bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  auto shape = std::make_shared<Shape>();
  if (left < right && top < bottom) shape->bands.push_back(Band{top, bottom, {{left, right}}});
  return shape;
}

bool Contains(const Shape& shape, LONG x, LONG y) {
  auto band = std::upper_bound(shape.bands.begin(), shape.bands.end(), y,
                               [](LONG row, const Band& b) { return row < b.bottom; });
  if (band == shape.bands.end() || y < band->top) return false;
  return std::any_of(band->spans.begin(), band->spans.end(),
                     [x](const std::pair<LONG, LONG>& s) { return x >= s.first && x < s.second; });
}

RECT Box(const Shape& shape) {
  if (shape.bands.empty()) return RECT{0, 0, 0, 0};
  RECT box{shape.bands.front().spans.front().first, shape.bands.front().top, shape.bands.front().spans.back().second,
           shape.bands.back().bottom};
  for (const Band& band : shape.bands) {
    box.left = std::min(box.left, band.spans.front().first);
    box.right = std::max(box.right, band.spans.back().second);
  }
  return box;
}

}  // namespace

std::shared_ptr<const Shape> ShapeOf(HRGN region) {
  Table& table = Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.regions.find(Key(region));
  return it == table.regions.end() ? nullptr : it->second.shape;
}

bool Assign(HRGN region, std::shared_ptr<const Shape> shape) {
  Table& table = Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.regions.find(Key(region));
  if (it == table.regions.end()) return false;
  it->second.shape = std::move(shape);
  return true;
}

bool Adopt(HRGN region) {
  Table& table = Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.regions.find(Key(region));
  if (it == table.regions.end() || it->second.adopted) return false;
  it->second.adopted = true;
  return true;
}

void ReleaseAdopted(HRGN region) {
  Table& table = Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.regions.erase(Key(region));
}

int TypeOf(const Shape& shape) {
  if (shape.bands.empty()) return NULLREGION;
  if (shape.bands.size() == 1 && shape.bands[0].spans.size() == 1) return SIMPLEREGION;
  return COMPLEXREGION;
}

}  // namespace platform::region

using platform::region::ShapeOf;

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  return platform::region::Add(platform::region::RectShape(left, top, right, bottom));
}

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  const int width = right - left;
  const int height = bottom - top;
  const int ew = std::min(std::abs(ellipseWidth), width);
  const int eh = std::min(std::abs(ellipseHeight), height);
  if (ew < 2 || eh < 2) return CreateRectRgn(left, top, right, bottom);

  const double a = ew / 2.0;
  const double b = eh / 2.0;
  std::vector<std::pair<LONG, LONG>> rows;
  rows.reserve(static_cast<std::size_t>(height));
  for (int y = top; y < bottom; ++y) {
    const double centre = y + 0.5;
    double dy = 0.0;
    if (centre < top + b) {
      dy = top + b - centre;
    } else if (centre > bottom - b) {
      dy = centre - (bottom - b);
    }
    double dx = a;
    if (dy > 0.0) {
      const double t = 1.0 - (dy / b) * (dy / b);
      dx = t > 0.0 ? a * std::sqrt(t) : 0.0;
    }
    // Pixel x is inside when its centre x + 0.5 lies within the outline; the
    // two ends mirror each other exactly.
    const double inset = a - dx - 0.5;
    const LONG start = std::max<LONG>(left, left + static_cast<LONG>(std::ceil(inset)));
    const LONG end = std::min<LONG>(right, right - static_cast<LONG>(std::ceil(inset)));
    rows.emplace_back(start, end);
  }
  return platform::region::Add(platform::region::FromRows(top, rows));
}

BOOL DeleteObject(HRGN region) {
  auto& table = platform::region::Regions();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.regions.find(platform::region::Key(region));
  if (it == table.regions.end() || it->second.adopted) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  table.regions.erase(it);
  return TRUE;
}

BOOL PtInRegion(HRGN region, int x, int y) {
  auto shape = ShapeOf(region);
  return shape && platform::region::Contains(*shape, x, y) ? TRUE : FALSE;
}

int GetRgnBox(HRGN region, RECT* box) {
  auto shape = ShapeOf(region);
  if (!shape) return ERROR;
  if (box) *box = platform::region::Box(*shape);
  return platform::region::TypeOf(*shape);
}

int OffsetRgn(HRGN region, int dx, int dy) {
  auto shape = ShapeOf(region);
  if (!shape) return ERROR;
  auto moved = std::make_shared<platform::region::Shape>(*shape);
  for (auto& band : moved->bands) {
    band.top += dy;
    band.bottom += dy;
    for (auto& span : band.spans) {
      span.first += dx;
      span.second += dx;
    }
  }
  const int type = platform::region::TypeOf(*moved);
  platform::region::Assign(region, std::move(moved));
  return type;
}

int CopyRgn(HRGN destination, HRGN source) {
  auto shape = ShapeOf(source);
  if (!shape || !platform::region::Assign(destination, shape)) return ERROR;
  return platform::region::TypeOf(*shape);
}

BOOL EqualRgn(HRGN a, HRGN b) {
  auto first = ShapeOf(a);
  auto second = ShapeOf(b);
  if (!first || !second) return FALSE;
  if (first->bands.size() != second->bands.size()) return FALSE;
  for (std::size_t i = 0; i < first->bands.size(); ++i) {
    const auto& x = first->bands[i];
    const auto& y = second->bands[i];
    if (x.top != y.top || x.bottom != y.bottom || x.spans != y.spans) return FALSE;
  }
  return TRUE;
}

BOOL CRgn::CreateRectRgn(int left, int top, int right, int bottom) {
  if (m_hObject) return FALSE;
  m_hObject = ::CreateRectRgn(left, top, right, bottom);
  return m_hObject ? TRUE : FALSE;
}

BOOL CRgn::CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  if (m_hObject) return FALSE;
  m_hObject = ::CreateRoundRectRgn(left, top, right, bottom, ellipseWidth, ellipseHeight);
  return m_hObject ? TRUE : FALSE;
}

BOOL CRgn::DeleteObject() {
  if (!m_hObject) return FALSE;
  return ::DeleteObject(Detach());
}

BOOL CRgn::Attach(HRGN region) {
  if (m_hObject || !region) return FALSE;
  m_hObject = region;
  return TRUE;
}

HRGN CRgn::Detach() {
  HRGN region = m_hObject;
  m_hObject = nullptr;
  return region;
}
