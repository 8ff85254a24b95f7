#include "windows/WndShadow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/window/Region.h"

namespace {

using Proc = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// A frameless parent that, like a dialog, does not go on WM_CLOSE.
LRESULT ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;
  return DefWindowProc(hwnd, message, wParam, lParam);
}

std::uint32_t Alpha(std::uint32_t pixel) { return pixel >> 24; }

// The image of a shadow, read by rows from the top.
struct Image {
  Image(int w, int h) : width(w), height(h), bits(static_cast<std::size_t>(w * h), 0) {}
  std::uint32_t At(int row, int x) const { return bits[static_cast<std::size_t>((height - 1 - row) * width + x)]; }
  int width;
  int height;
  std::vector<std::uint32_t> bits;
};

Image ShadowOfRectangle(int width, int height, const CWndShadow::Parameters& parameters) {
  CRgn region;
  region.CreateRectRgn(0, 0, width, height);
  Image image(width + 2 * parameters.size, height + 2 * parameters.size);
  CWndShadow::MakeShadow(image.bits.data(), region, width, height, parameters);
  return image;
}

TEST(CWndShadowImageTest, DefaultShadowFadesOutWithTheKernelValuesFromTheEdge) {
  const Image image = ShadowOfRectangle(100, 80, CWndShadow::Parameters{});
  // Below the window: 125, 100, 75, 50, 24 going away from it (24: the
  // double-precision product is 24.999999999999993).
  const std::vector<std::uint32_t> fade = {125, 100, 75, 50, 24};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(image.At(75 + i, 50), fade[static_cast<std::size_t>(i)] << 24) << i;  // black: no colour bits
    EXPECT_EQ(image.At(40, 95 + i), fade[static_cast<std::size_t>(i)] << 24) << i;
  }
  // Under the window itself the shadow is transparent.
  EXPECT_EQ(image.At(74, 50), 0u);
  EXPECT_EQ(image.At(40, 94), 0u);
  EXPECT_EQ(image.At(0, 0), 0u);
  // The corner is rounded by the kernel: distance sqrt(18) from the core's corner.
  EXPECT_EQ(Alpha(image.At(77, 97)), 43u);
  EXPECT_EQ(image.At(79, 99), 0u);
  EXPECT_EQ(image.At(79, 4), 0u);  // left of the shadow's soft edge
}

TEST(CWndShadowImageTest, CoreHasTheFullDarknessBesideItsSoftEdge) {
  CWndShadow::Parameters parameters;
  parameters.xOffset = 20;
  parameters.yOffset = 20;
  const Image image = ShadowOfRectangle(100, 80, parameters);
  EXPECT_EQ(image.At(30, 79), 0u);  // the window covers shadow columns below 80
  for (int x = 80; x < 95; ++x) EXPECT_EQ(image.At(30, x), 150u << 24) << x;
  const std::vector<std::uint32_t> fade = {125, 100, 75, 50, 24};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Alpha(image.At(30, 95 + i)), fade[static_cast<std::size_t>(i)]);
}

TEST(CWndShadowImageTest, ColourIsPremultiplied) {
  EXPECT_EQ(CWndShadow::PreMultiply(RGB(255, 128, 0), 150), 0x964B00u);
  EXPECT_EQ(CWndShadow::PreMultiply(RGB(10, 20, 30), 0), 0u);
  CWndShadow::Parameters parameters;
  parameters.color = RGB(255, 128, 0);
  const Image image = ShadowOfRectangle(100, 80, parameters);
  EXPECT_EQ(image.At(75, 50), (125u << 24) | CWndShadow::PreMultiply(RGB(255, 128, 0), 125));
}

TEST(CWndShadowImageTest, SizeBeyondTheSharpnessGivesAKernelWithASolidCentre) {
  // 40 x 30, size 8, sharpness 3, darkness 200, no offset: 56 x 46 pixels,
  // kernel 17 x 17 whose cells nearer than 5 are solid and fade
  // (1 - (d - 5) / 4) * 200 beyond; the window covers columns and rows 8..47/37.
  CWndShadow::Parameters parameters{8, 3, 200, 0, 0, RGB(0, 0, 0)};
  const Image image = ShadowOfRectangle(40, 30, parameters);
  ASSERT_EQ(image.width, 56);
  ASSERT_EQ(image.height, 46);
  const std::vector<std::uint32_t> left = {50, 100, 150, 200, 200, 200, 200, 200};  // columns 0..7
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Alpha(image.At(20, x)), left[static_cast<std::size_t>(x)]) << x;
  for (int x = 48; x < 56; ++x) EXPECT_EQ(Alpha(image.At(20, x)), left[static_cast<std::size_t>(55 - x)]) << x;
  EXPECT_EQ(image.At(20, 8), 0u);  // under the window
  EXPECT_EQ(image.At(20, 30), 0u);
  EXPECT_EQ(Alpha(image.At(4, 20)), 200u);
  EXPECT_EQ(Alpha(image.At(0, 20)), 50u);
  EXPECT_EQ(Alpha(image.At(3, 3)), 96u);  // distance sqrt(50) from the corner (8, 8): 96.45
  EXPECT_EQ(image.At(2, 2), 0u);          // sqrt(72) lies beyond the kernel
}

TEST(CWndShadowImageTest, NegativeSizeShrinksTheShadowUnderAnOffsetWindow) {
  // 40 x 30, size -3, sharpness 2, darkness 200, offset 10, 10: 34 x 24
  // pixels; the core spans columns 2..31 of rows 2..21, the window covers
  // shadow columns up to 26 and rows up to 16; kernel 200, 133, 66 at 0, 1, 2.
  CWndShadow::Parameters parameters{-3, 2, 200, 10, 10, RGB(0, 0, 0)};
  const Image image = ShadowOfRectangle(40, 30, parameters);
  ASSERT_EQ(image.width, 34);
  ASSERT_EQ(image.height, 24);
  EXPECT_EQ(image.At(10, 26), 0u);
  for (int x = 27; x < 32; ++x) EXPECT_EQ(image.At(10, x), 200u << 24) << x;
  EXPECT_EQ(Alpha(image.At(10, 32)), 133u);
  EXPECT_EQ(Alpha(image.At(10, 33)), 66u);
  EXPECT_EQ(image.At(19, 10), 200u << 24);  // below the window: solid
  EXPECT_EQ(Alpha(image.At(22, 10)), 133u);
  EXPECT_EQ(Alpha(image.At(23, 10)), 66u);
  EXPECT_EQ(image.At(0, 10), 0u);  // the window lies over it
  EXPECT_EQ(Alpha(image.At(0, 30)), 66u);
}

TEST(CWndShadowImageTest, EveryParameterGivesAnImageInsideItsBuffer) {
  CRgn region;
  region.CreateRoundRectRgn(0, -30, 60, 50, 20, 20);
  for (int size : {-20, -5, 0, 3, 20}) {
    for (int sharpness : {0, 1, 5, 20}) {
      for (int offset : {-20, 0, 20}) {
        CWndShadow::Parameters parameters{size, sharpness, 200, offset, -offset, RGB(40, 80, 120)};
        const int w = 60 + 2 * size;
        const int h = 50 + 2 * size;
        std::vector<std::uint32_t> bits(static_cast<std::size_t>(w * h) + 64, 0xDEADBEEF);
        std::fill(bits.begin(), bits.begin() + w * h, 0u);
        CWndShadow::MakeShadow(bits.data(), region, 60, 50, parameters);
        for (std::size_t i = static_cast<std::size_t>(w * h); i < bits.size(); ++i) {
          ASSERT_EQ(bits[i], 0xDEADBEEFu) << size << " " << sharpness << " " << offset;
        }
        for (int i = 0; i < w * h; ++i) {
          const std::uint32_t pixel = bits[static_cast<std::size_t>(i)];
          const std::uint32_t alpha = Alpha(pixel);
          ASSERT_LE(alpha, 200u);
          ASSERT_LE((pixel >> 16) & 0xFF, alpha);
          ASSERT_LE(pixel & 0xFF, alpha);
        }
      }
    }
  }
}

class CWndShadowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLayeredWindowsAvailable(true);
    platform::SetCompositionApiAvailable(true);
    platform::SetDesktopComposition(false);
    CWndShadow::Uninitialize();
    ASSERT_TRUE(CWndShadow::Initialize(GetModuleHandle(nullptr)));
    EXPECT_FALSE(CWndShadow::Initialize(GetModuleHandle(nullptr)));  // once only
    WNDCLASS windowClass{};
    windowClass.lpfnWndProc = &ParentProc;
    windowClass.lpszClassName = "ShadowTestParent";
    RegisterClass(&windowClass);
    platform::PumpMessages();
  }
  void TearDown() override {
    for (HWND hwnd : made_) {
      if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
    UnregisterClass("ShadowTestParent", nullptr);
    platform::SetDesktopComposition(false);
    platform::PumpMessages();
  }

  HWND MakeParent(DWORD style = WS_POPUP | WS_VISIBLE) {
    HWND hwnd =
        CreateWindowEx(0, "ShadowTestParent", "", style, 100, 100, 300, 200, nullptr, nullptr, nullptr, nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }

  static RECT Rect(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    return rect;
  }
  static platform::LayeredSurface Surface(const CWndShadow& shadow) {
    auto surface = platform::GetLayeredSurface(shadow.GetShadowWindow());
    return surface ? *surface : platform::LayeredSurface{};
  }

  std::vector<HWND> made_;
};

TEST_F(CWndShadowTest, ShadowLiesBehindItsWindowOffsetByFivePixels) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  ASSERT_TRUE(IsWindow(shadow.GetShadowWindow()));
  EXPECT_EQ(GetWindow(parent, GW_HWNDNEXT), shadow.GetShadowWindow());
  EXPECT_EQ(GetWindow(shadow.GetShadowWindow(), GW_OWNER), parent);
  EXPECT_NE(static_cast<DWORD>(GetWindowLong(shadow.GetShadowWindow(), GWL_EXSTYLE)) & WS_EX_TRANSPARENT, 0u);
  EXPECT_TRUE(IsWindowVisible(shadow.GetShadowWindow()));
  EXPECT_EQ(shadow.GetStatus(), CWndShadow::ShadowEnabled | CWndShadow::ShadowVisible | CWndShadow::ParentVisible);
  const platform::LayeredSurface surface = Surface(shadow);
  EXPECT_EQ(surface.position.x, 105);
  EXPECT_EQ(surface.position.y, 105);
  EXPECT_EQ(surface.size.cx, 300);
  EXPECT_EQ(surface.size.cy, 200);
  EXPECT_EQ(surface.blend.AlphaFormat, AC_SRC_ALPHA);
  EXPECT_EQ(surface.flags, ULW_ALPHA);
  EXPECT_EQ(theShadowMap.at(parent), &shadow);
}

TEST_F(CWndShadowTest, ShadowFollowsMoveSizeHideAndShow) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  const HWND window = shadow.GetShadowWindow();
  const int drawn = Surface(shadow).updates;

  // A move only repositions the shadow.
  MoveWindow(parent, 200, 150, 300, 200, TRUE);
  EXPECT_EQ(Rect(window).left, 205);
  EXPECT_EQ(Rect(window).top, 155);
  EXPECT_EQ(Surface(shadow).updates, drawn);

  // Growing redraws at the next paint, once the window has its new size.
  MoveWindow(parent, 200, 150, 400, 300, TRUE);
  EXPECT_EQ(Surface(shadow).size.cx, 300);
  platform::PumpMessages();
  EXPECT_EQ(Surface(shadow).size.cx, 400);
  EXPECT_EQ(Surface(shadow).size.cy, 300);

  // Shrinking redraws at once.
  const int grown = Surface(shadow).updates;
  MoveWindow(parent, 200, 150, 250, 180, TRUE);
  EXPECT_EQ(Surface(shadow).updates, grown + 1);
  EXPECT_EQ(Surface(shadow).size.cx, 250);
  EXPECT_EQ(Surface(shadow).size.cy, 180);

  ShowWindow(parent, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(shadow.GetStatus(), CWndShadow::ShadowEnabled);
  MoveWindow(parent, 10, 20, 250, 180, TRUE);
  EXPECT_EQ(Rect(window).left, 205);  // a hidden shadow stays put

  ShowWindow(parent, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(Surface(shadow).position.x, 15);
  EXPECT_EQ(Surface(shadow).position.y, 25);
}

TEST_F(CWndShadowTest, EndOfAMoveOrResizeRedrawsAndStyleVisibilityIsFollowed) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  const HWND window = shadow.GetShadowWindow();
  const int drawn = Surface(shadow).updates;
  SendMessage(parent, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(Surface(shadow).updates, drawn + 1);

  // WS_VISIBLE taken away or given back through the style alone.
  SetWindowLong(parent, GWL_STYLE, static_cast<LONG>(WS_POPUP));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(shadow.GetStatus(), CWndShadow::ShadowEnabled);
  SendMessage(parent, WM_EXITSIZEMOVE, 0, 0);  // hidden: nothing to redraw
  EXPECT_EQ(Surface(shadow).updates, drawn + 1);
  SetWindowLong(parent, GWL_STYLE, static_cast<LONG>(WS_POPUP | WS_VISIBLE));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(Surface(shadow).updates, drawn + 2);
  SetWindowLong(parent, GWL_EXSTYLE, 0);  // another index: no change
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(CWndShadowTest, SettersAfterTheWindowWentDrawNothing) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  DestroyWindow(parent);
  EXPECT_EQ(shadow.GetShadowWindow(), nullptr);
  EXPECT_EQ(shadow.GetStatus() & (CWndShadow::ShadowVisible | CWndShadow::ParentVisible), 0);
  EXPECT_TRUE(shadow.SetSize(10));
  EXPECT_EQ(shadow.GetParameters().size, 10);
}

TEST_F(CWndShadowTest, MinimisingOrMaximisingHidesTheShadowAndRestoringShowsIt) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  const HWND window = shadow.GetShadowWindow();
  for (int command : {SW_MINIMIZE, SW_SHOWMAXIMIZED}) {
    ShowWindow(parent, command);
    EXPECT_FALSE(IsWindowVisible(window)) << command;
    ShowWindow(parent, SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(window)) << command;
    EXPECT_EQ(Surface(shadow).position.x, 105);
  }
}

TEST_F(CWndShadowTest, HiddenWindowGetsAHiddenShadowUntilShown) {
  HWND parent = MakeParent(WS_POPUP);
  CWndShadow shadow;
  shadow.Create(parent);
  EXPECT_FALSE(IsWindowVisible(shadow.GetShadowWindow()));
  EXPECT_FALSE(platform::GetLayeredSurface(shadow.GetShadowWindow()).has_value());
  ShowWindow(parent, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(shadow.GetShadowWindow()));
  EXPECT_EQ(Surface(shadow).size.cx, 300);
}

TEST_F(CWndShadowTest, WithoutLayeredWindowsThereIsNoShadowAndNoSubclassing) {
  CWndShadow::Uninitialize();
  platform::SetLayeredWindowsAvailable(false);
  EXPECT_FALSE(CWndShadow::Initialize(GetModuleHandle(nullptr)));
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  EXPECT_EQ(shadow.GetShadowWindow(), nullptr);
  EXPECT_TRUE(theShadowMap.empty());
  const WNDPROC proc = platform::GetWindowProc(parent);
  ASSERT_NE(proc.target<Proc>(), nullptr);
  EXPECT_EQ(*proc.target<Proc>(), &ParentProc);
  platform::SetLayeredWindowsAvailable(true);
}

TEST_F(CWndShadowTest, CompositionTakesTheShadowAwayAndGivesItBack) {
  HWND parent = MakeParent();
  HWND hidden = MakeParent(WS_POPUP);
  CWndShadow shadow;
  shadow.Create(parent);
  CWndShadow hiddenShadow;
  hiddenShadow.Create(hidden);

  platform::SetDesktopComposition(true);
  platform::PumpMessages();
  EXPECT_FALSE(IsWindowVisible(shadow.GetShadowWindow()));
  EXPECT_NE(shadow.GetStatus() & CWndShadow::DisabledByComposition, 0);
  // Disabled, it ignores the window's resizing.
  const int drawn = Surface(shadow).updates;
  MoveWindow(parent, 100, 100, 200, 100, TRUE);
  EXPECT_EQ(Surface(shadow).updates, drawn);

  platform::SetDesktopComposition(false);
  platform::PumpMessages();
  EXPECT_TRUE(IsWindowVisible(shadow.GetShadowWindow()));
  EXPECT_EQ(Surface(shadow).size.cx, 200);
  EXPECT_FALSE(IsWindowVisible(hiddenShadow.GetShadowWindow()));  // its window is still hidden
}

TEST_F(CWndShadowTest, CaptionedWindowUnderCompositionStartsWithoutShadow) {
  platform::SetDesktopComposition(true);
  platform::PumpMessages();
  HWND captioned = MakeParent(WS_POPUP | WS_VISIBLE | WS_DLGFRAME);
  HWND frameless = MakeParent();
  CWndShadow first;
  first.Create(captioned);
  CWndShadow second;
  second.Create(frameless);
  EXPECT_NE(first.GetStatus() & CWndShadow::DisabledByComposition, 0);
  EXPECT_FALSE(IsWindowVisible(first.GetShadowWindow()));
  EXPECT_TRUE(IsWindowVisible(second.GetShadowWindow()));
}

TEST_F(CWndShadowTest, SettersRefuseValuesOutOfRange) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  EXPECT_FALSE(shadow.SetSize(21));
  EXPECT_FALSE(shadow.SetSize(-21));
  EXPECT_FALSE(shadow.SetSharpness(21));
  EXPECT_FALSE(shadow.SetDarkness(256));
  EXPECT_FALSE(shadow.SetPosition(0, -21));
  const CWndShadow::Parameters unchanged = shadow.GetParameters();
  EXPECT_EQ(unchanged.size, 0);
  EXPECT_EQ(unchanged.sharpness, 5);
  EXPECT_EQ(unchanged.darkness, 150);
  EXPECT_EQ(unchanged.yOffset, 5);

  ASSERT_TRUE(shadow.SetSize(10));
  EXPECT_EQ(Surface(shadow).size.cx, 320);
  EXPECT_EQ(Surface(shadow).position.x, 100 + 5 - 10);
  ASSERT_TRUE(shadow.SetPosition(-20, 20));
  EXPECT_EQ(Surface(shadow).position.x, 100 - 20 - 10);
  EXPECT_EQ(Surface(shadow).position.y, 100 + 20 - 10);
  ASSERT_TRUE(shadow.SetDarkness(255));
  ASSERT_TRUE(shadow.SetSharpness(0));
  EXPECT_EQ(shadow.GetParameters().darkness, 255);
}

TEST_F(CWndShadowTest, ShadowGoesWithItsWindow) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  const HWND window = shadow.GetShadowWindow();
  DestroyWindow(parent);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(theShadowMap.empty());
}

TEST_F(CWndShadowTest, ShadowObjectGoingFirstLetsGoOfTheWindow) {
  HWND parent = MakeParent();
  HWND window = nullptr;
  {
    CWndShadow shadow;
    shadow.Create(parent);
    window = shadow.GetShadowWindow();
  }
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(theShadowMap.empty());
  const WNDPROC proc = platform::GetWindowProc(parent);
  ASSERT_NE(proc.target<Proc>(), nullptr);
  MoveWindow(parent, 0, 0, 10, 10, TRUE);  // nothing left to reach
  EXPECT_TRUE(IsWindow(parent));
}

TEST_F(CWndShadowTest, CloseAloneKeepsTheShadowOfAWindowThatStays) {
  HWND parent = MakeParent();
  CWndShadow shadow;
  shadow.Create(parent);
  SendMessage(parent, WM_CLOSE, 0, 0);
  ASSERT_TRUE(IsWindow(parent));
  EXPECT_TRUE(IsWindow(shadow.GetShadowWindow()));
  ShowWindow(parent, SW_HIDE);
  ShowWindow(parent, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(shadow.GetShadowWindow()));
}

}  // namespace
