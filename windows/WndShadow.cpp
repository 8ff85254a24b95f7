#include "windows/WndShadow.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/window/Region.h"

std::map<HWND, CWndShadow*>& TheShadowMap() {
  static std::map<HWND, CWndShadow*> shadows;
  return shadows;
}

namespace {

// What Initialize found of the desktop.
struct ShadowSystem {
  bool initialised = false;
  UpdateLayeredWindowProc updateLayeredWindow = nullptr;
  bool hasDwm = false;
  DwmIsCompositionEnabledProc dwmIsCompositionEnabled = nullptr;
  HINSTANCE instance = nullptr;
};

ShadowSystem& System() {
  static ShadowSystem system;
  return system;
}

const char kShadowClass[] = "DorixShadowWnd";

using Span = std::pair<int, int>;  // [start, end)

}  // namespace

bool CWndShadow::Initialize(HINSTANCE instance) {
  ShadowSystem& system = System();
  if (system.initialised) return false;
  system.updateLayeredWindow = platform::FindUpdateLayeredWindow();
  if (!system.updateLayeredWindow) return false;
  system.dwmIsCompositionEnabled = platform::FindDwmIsCompositionEnabled();
  system.hasDwm = system.dwmIsCompositionEnabled != nullptr;
  system.instance = instance;

  WNDCLASS windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &::DefWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<std::intptr_t>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kShadowClass;
  RegisterClass(&windowClass);
  system.initialised = true;
  return true;
}

void CWndShadow::Uninitialize() {
  ShadowSystem& system = System();
  if (system.initialised) UnregisterClass(kShadowClass, system.instance);
  system = ShadowSystem{};
}

CWndShadow::~CWndShadow() {
  if (m_parent && ::IsWindow(m_parent)) platform::SubclassWindow(m_parent, m_OriginParentProc);
  std::erase_if(theShadowMap, [this](const auto& entry) { return entry.second == this; });
  if (m_hWnd && ::IsWindow(m_hWnd) && GetWindowThreadId(m_hWnd) == GetCurrentThreadId()) ::DestroyWindow(m_hWnd);
}

void CWndShadow::Create(HWND parent) {
  ShadowSystem& system = System();
  if (!system.updateLayeredWindow || m_parent || !::IsWindow(parent)) return;

  theShadowMap[parent] = this;
  m_hWnd = CreateWindowEx(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClass, "", WS_POPUPWINDOW, CW_USEDEFAULT, 0, 0, 0,
                          parent, nullptr, system.instance, nullptr);
  if (!m_hWnd) {
    theShadowMap.erase(parent);
    return;
  }
  SetWindowPos(m_hWnd, parent, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  m_Status = ShadowEnabled;
  const DWORD style = static_cast<DWORD>(GetWindowLong(parent, GWL_STYLE));
  if (system.hasDwm && (style & WS_CAPTION) && system.dwmIsCompositionEnabled) {
    BOOL composition = FALSE;
    system.dwmIsCompositionEnabled(&composition);
    if (composition) m_Status |= DisabledByComposition;
  }

  if (IsWindowVisible(parent)) {
    Show(parent);
  } else {
    ShowWindow(m_hWnd, SW_HIDE);
  }

  const WNDPROC original = platform::GetWindowProc(parent);
  platform::SubclassWindow(parent, [original](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ParentProc(hwnd, message, wParam, lParam, original);
  });
  m_OriginParentProc = original;
  m_parent = parent;
}

LRESULT CWndShadow::ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const WNDPROC& original) {
  auto found = theShadowMap.find(hwnd);
  if (found != theShadowMap.end()) {
    CWndShadow& shadow = *found->second;
    const bool active = (shadow.m_Status & ShadowEnabled) && !(shadow.m_Status & DisabledByComposition);
    switch (message) {
      case WM_MOVE:
        if (shadow.m_Status & ShadowVisible) {
          RECT rect{};
          GetWindowRect(hwnd, &rect);
          SetWindowPos(shadow.m_hWnd, nullptr, rect.left + shadow.m_nxOffset - shadow.m_nSize,
                       rect.top + shadow.m_nyOffset - shadow.m_nSize, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
        }
        break;

      case WM_SIZE:
        if (active) {
          if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
            ShowWindow(shadow.m_hWnd, SW_HIDE);
            shadow.m_Status &= ~ShadowVisible;
          } else if (static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & WS_VISIBLE) {
            shadow.m_Status |= ParentVisible;
            if (!(shadow.m_Status & ShadowVisible)) {
              shadow.m_Status |= ShadowVisible;
              shadow.Update(hwnd);
              ShowWindow(shadow.m_hWnd, SW_SHOWNA);
              shadow.m_bUpdate = true;
            } else if (LOWORD(static_cast<std::uintptr_t>(lParam)) >
                           LOWORD(static_cast<std::uintptr_t>(shadow.m_WndSize)) ||
                       HIWORD(static_cast<std::uintptr_t>(lParam)) >
                           HIWORD(static_cast<std::uintptr_t>(shadow.m_WndSize))) {
              // A window that grew is redrawn at its next paint, once it has its new size.
              shadow.m_bUpdate = true;
            } else {
              shadow.Update(hwnd);
            }
          }
          shadow.m_WndSize = lParam;
        }
        break;

      case WM_PAINT:
        if (shadow.m_bUpdate) {
          shadow.Update(hwnd);
          shadow.m_bUpdate = false;
        }
        break;

      case WM_EXITSIZEMOVE:
        if (shadow.m_Status & ShadowVisible) shadow.Update(hwnd);
        break;

      case WM_SHOWWINDOW:
        if (active) {
          if (!wParam) {
            ShowWindow(shadow.m_hWnd, SW_HIDE);
            shadow.m_Status &= ~(ShadowVisible | ParentVisible);
          } else {
            shadow.m_bUpdate = true;
            shadow.Show(hwnd);
          }
        }
        break;

      case WM_STYLECHANGED:
        if (static_cast<int>(static_cast<LPARAM>(wParam)) == GWL_STYLE) {
          const auto* change = reinterpret_cast<const STYLESTRUCT*>(lParam);
          if (change && (change->styleNew & WS_VISIBLE)) {
            shadow.Show(hwnd);
          } else {
            shadow.Hide();
          }
        }
        break;

      case WM_DESTROY:
        // The window goes: so does its shadow. (A WM_CLOSE alone leaves both:
        // a dialog only hides on it.)
        if (shadow.m_hWnd && ::IsWindow(shadow.m_hWnd)) ::DestroyWindow(shadow.m_hWnd);
        break;

      case WM_NCDESTROY:
        theShadowMap.erase(found);
        shadow.m_parent = nullptr;
        // Nothing is shown any more: a later setter must not redraw a dead window.
        shadow.m_hWnd = nullptr;
        shadow.m_Status &= ~(ShadowVisible | ParentVisible);
        shadow.m_bUpdate = false;
        break;

      case WM_DWMCOMPOSITIONCHANGED: {
        BOOL composition = FALSE;
        if (System().dwmIsCompositionEnabled) System().dwmIsCompositionEnabled(&composition);
        if (composition) {
          shadow.m_Status |= DisabledByComposition;
        } else {
          shadow.m_Status &= ~DisabledByComposition;
        }
        // A hidden window's shadow stays hidden until the window is shown.
        if (IsWindowVisible(hwnd)) {
          shadow.Show(hwnd);
        } else {
          shadow.Hide();
        }
        break;
      }

      default:
        break;
    }
  }
  return CallWindowProc(original, hwnd, message, wParam, lParam);
}

void CWndShadow::Hide() {
  ShowWindow(m_hWnd, SW_HIDE);
  m_Status &= ~(ShadowVisible | ParentVisible);
}

void CWndShadow::Show(HWND parent) {
  m_Status &= ShadowEnabled | DisabledByComposition;
  if ((m_Status & ShadowEnabled) && !(m_Status & DisabledByComposition)) {
    const DWORD style = static_cast<DWORD>(GetWindowLong(parent, GWL_STYLE));
    m_Status |= ParentVisible;
    if (!(style & (WS_MAXIMIZE | WS_MINIMIZE))) m_Status |= ShadowVisible;
  }
  if (m_Status & ShadowVisible) {
    ShowWindow(m_hWnd, SW_SHOWNA);
    Update(parent);
  } else {
    ShowWindow(m_hWnd, SW_HIDE);
  }
}

void CWndShadow::Update(HWND parent) {
  ShadowSystem& system = System();
  if (!system.updateLayeredWindow) return;
  RECT rect{};
  GetWindowRect(parent, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int shadowWidth = width + 2 * m_nSize;
  const int shadowHeight = height + 2 * m_nSize;
  if (shadowWidth <= 0 || shadowHeight <= 0) return;  // no image of no size

  std::vector<std::uint32_t> bits(static_cast<std::size_t>(shadowWidth) * static_cast<std::size_t>(shadowHeight), 0);
  MakeShadow(bits.data(), parent, rect);

  POINT position{rect.left + m_nxOffset - m_nSize, rect.top + m_nyOffset - m_nSize};
  SIZE size{shadowWidth, shadowHeight};
  POINT source{0, 0};
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const LayeredBitmap bitmap{shadowWidth, shadowHeight, bits.data()};
  MoveWindow(m_hWnd, position.x, position.y, shadowWidth, shadowHeight, FALSE);
  system.updateLayeredWindow(m_hWnd, &position, &size, &bitmap, &source, 0, &blend, ULW_ALPHA);
}

void CWndShadow::MakeShadow(std::uint32_t* bits, HWND parent, const RECT& parentRect) const {
  const int width = parentRect.right - parentRect.left;
  const int height = parentRect.bottom - parentRect.top;
  HRGN region = CreateRectRgn(0, 0, width, height);
  GetWindowRgn(parent, region);  // a window without a region keeps the whole rectangle
  MakeShadow(bits, region, width, height, GetParameters());
  DeleteObject(region);
}

CWndShadow::Parameters CWndShadow::GetParameters() const {
  return Parameters{m_nSize, m_nSharpness, m_nDarkness, m_nxOffset, m_nyOffset, m_Color};
}

std::uint32_t CWndShadow::PreMultiply(COLORREF color, unsigned alpha) {
  const std::uint32_t red = GetRValue(color) * alpha / 255;
  const std::uint32_t green = GetGValue(color) * alpha / 255;
  const std::uint32_t blue = GetBValue(color) * alpha / 255;
  return (red << 16) | (green << 8) | blue;
}

void CWndShadow::MakeShadow(std::uint32_t* bits, HRGN region, int width, int height, const Parameters& p) {
  const int s = p.size;
  const int sharpness = p.sharpness;
  const int darkness = p.darkness;
  const int shadowWidth = width + 2 * s;
  const int shadowHeight = height + 2 * s;
  if (!bits || width <= 0 || height <= 0 || shadowWidth <= 0 || shadowHeight <= 0) return;

  auto pixel = [&](int row, int x) -> std::uint32_t& {
    return bits[static_cast<std::size_t>(shadowHeight - 1 - row) * static_cast<std::size_t>(shadowWidth) +
                static_cast<std::size_t>(x)];
  };

  // The window's span on each of its rows.
  std::vector<Span> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    int start = 0;
    while (start < width && !PtInRegion(region, start, y)) ++start;
    int last = width - 1;
    while (last >= start && !PtInRegion(region, last, y)) --last;
    rows[static_cast<std::size_t>(y)] = Span{start, last + 1};
  }

  // The spans placed in the shadow's rows, with an empty row above and below.
  const int entries = std::max(height, shadowHeight);
  const Span empty{width, 0};
  std::vector<Span> table(static_cast<std::size_t>(entries) + 2, empty);
  for (int y = 0; y < height; ++y) {
    const int entry = s > 0 ? y + s + 1 : y + 1;
    table[static_cast<std::size_t>(entry)] =
        Span{rows[static_cast<std::size_t>(y)].first + s, rows[static_cast<std::size_t>(y)].second + s};
  }

  // Erosion: each pass shrinks the shape by one pixel on every side.
  std::vector<Span> next(table.size(), empty);
  for (int pass = 0; pass < sharpness - s; ++pass) {
    for (int j = 1; j <= entries; ++j) {
      const Span& above = table[static_cast<std::size_t>(j - 1)];
      const Span& here = table[static_cast<std::size_t>(j)];
      const Span& below = table[static_cast<std::size_t>(j + 1)];
      next[static_cast<std::size_t>(j)] = Span{1 + std::max({above.first, here.first, below.first}),
                                               std::min({above.second, here.second, below.second}) - 1};
    }
    std::swap(table, next);
  }
  const int shift = std::max(-s, 0);
  auto span = [&](int i) -> const Span& { return table[static_cast<std::size_t>(i + 1 + shift)]; };

  // The kernel stamped along the edges.
  const int k = std::max(s, sharpness);
  const int core = s > sharpness ? s - sharpness : 0;
  const int side = 2 * k + 1;
  std::vector<std::uint32_t> kernel(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0);
  for (int dy = -k; dy <= k; ++dy) {
    for (int dx = -k; dx <= k; ++dx) {
      const double d = std::sqrt(static_cast<double>(dy * dy + dx * dx));
      unsigned alpha = 0;
      if (core > d) {
        alpha = static_cast<unsigned>(darkness);
      } else if (k >= d) {
        alpha = static_cast<unsigned>(static_cast<int>((1 - (d - core) / (sharpness + 1)) * darkness));
      }
      if (alpha) {
        kernel[static_cast<std::size_t>(dy + k) * static_cast<std::size_t>(side) + static_cast<std::size_t>(dx + k)] =
            (alpha << 24) | PreMultiply(p.color, alpha);
      }
    }
  }
  auto stamp = [&](int i, int x) {
    for (int row = 0; row < side; ++row) {
      for (int column = 0; column < side; ++column) {
        const int y = i - k + row;
        const int xx = x - k + column;
        if (y < 0 || y >= shadowHeight || xx < 0 || xx >= shadowWidth) continue;
        const std::uint32_t cell =
            kernel[static_cast<std::size_t>(row) * static_cast<std::size_t>(side) + static_cast<std::size_t>(column)];
        std::uint32_t& target = pixel(y, xx);
        if (cell > target) target = cell;
      }
    }
  };

  // Soft edges: the left and right ends of each row, and whole rows where the
  // rows next to them are shorter.
  for (int i = k; i < shadowHeight - k; ++i) {
    const auto [x0, x1] = span(i);
    if (x0 >= x1) continue;
    int x = x0;
    const int leftEnd = std::min(std::max(span(i - 1).first, span(i + 1).first) + 1, x1);
    for (; x < leftEnd; ++x) stamp(i, x);
    x = std::max(x, std::min(span(i - 1).second, span(i + 1).second) - 1);
    for (; x < x1; ++x) stamp(i, x);
  }

  // The solid core, left transparent where the window itself lies over it.
  const std::uint32_t solid = (static_cast<std::uint32_t>(darkness) << 24) | PreMultiply(p.color, darkness);
  auto fill = [&](int i, int from, int to, std::uint32_t value) {
    for (int x = std::max(from, 0); x < std::min(to, shadowWidth); ++x) pixel(i, x) = value;
  };
  const int first = std::min(k, std::max(s - p.yOffset, 0));
  const int end = std::max(shadowHeight - k, std::min(height + s - p.yOffset, shadowHeight));
  for (int i = first; i < end; ++i) {
    const auto [x0, x1] = span(i);
    const int r = i - s + p.yOffset;
    if (r < 0 || r >= height) {
      fill(i, x0, x1, solid);
    } else {
      const int c0 = rows[static_cast<std::size_t>(r)].first + s - p.xOffset;
      const int c1 = rows[static_cast<std::size_t>(r)].second + s - p.xOffset;
      fill(i, x0, std::min(c0, x1), solid);
      fill(i, std::max(c0, 0), std::min(c1, shadowWidth), 0);
      fill(i, std::max(c1, x0), x1, solid);
    }
  }
}

HWND CWndShadow::Owner() const {
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  return owner ? owner : m_parent;
}

bool CWndShadow::SetSize(int size) {
  if (size < -20 || size > 20) return false;
  m_nSize = static_cast<signed char>(size);
  if (m_Status & ShadowVisible) Update(Owner());
  return true;
}

bool CWndShadow::SetSharpness(unsigned sharpness) {
  if (sharpness > 20) return false;
  m_nSharpness = static_cast<unsigned char>(sharpness);
  if (m_Status & ShadowVisible) Update(Owner());
  return true;
}

bool CWndShadow::SetDarkness(unsigned darkness) {
  if (darkness > 255) return false;
  m_nDarkness = static_cast<unsigned char>(darkness);
  if (m_Status & ShadowVisible) Update(Owner());
  return true;
}

bool CWndShadow::SetPosition(int x, int y) {
  if (x < -20 || x > 20 || y < -20 || y > 20) return false;
  m_nxOffset = static_cast<signed char>(x);
  m_nyOffset = static_cast<signed char>(y);
  if (m_Status & ShadowVisible) Update(Owner());
  return true;
}

bool CWndShadow::SetColor(COLORREF color) {
  m_Color = color;
  if (m_Status & ShadowVisible) Update(Owner());
  return true;
}
