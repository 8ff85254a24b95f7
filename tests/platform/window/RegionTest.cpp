#include "platform/window/Region.h"

#include <gtest/gtest.h>

#include "platform/window/Window.h"

namespace {

TEST(RegionTest, RectangleExcludesItsRightAndBottomEdges) {
  CRgn region;
  ASSERT_TRUE(region.CreateRectRgn(10, 20, 30, 40));
  EXPECT_TRUE(region.PtInRegion(10, 20));
  EXPECT_TRUE(region.PtInRegion(29, 39));
  EXPECT_FALSE(region.PtInRegion(30, 39));
  EXPECT_FALSE(region.PtInRegion(29, 40));
  EXPECT_FALSE(region.PtInRegion(9, 20));
  RECT box{};
  EXPECT_EQ(region.GetRgnBox(&box), SIMPLEREGION);
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.bottom, 40);
}

TEST(RegionTest, RoundedCornersAreCutAlikeOnAllFourSides) {
  CRgn region;
  ASSERT_TRUE(region.CreateRoundRectRgn(0, 0, 100, 60, 20, 20));
  // Corner pixels are out, the middle of every edge is in.
  EXPECT_FALSE(region.PtInRegion(0, 0));
  EXPECT_FALSE(region.PtInRegion(99, 59));
  EXPECT_TRUE(region.PtInRegion(50, 0));
  EXPECT_TRUE(region.PtInRegion(0, 30));
  EXPECT_TRUE(region.PtInRegion(99, 30));
  EXPECT_FALSE(region.PtInRegion(100, 30));
  // The top row starts where the ellipse of radius 10 reaches the row's centre line.
  EXPECT_FALSE(region.PtInRegion(6, 0));
  EXPECT_TRUE(region.PtInRegion(7, 0));
  EXPECT_TRUE(region.PtInRegion(0, 10));
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 100; ++x) {
      ASSERT_EQ(region.PtInRegion(x, y), region.PtInRegion(99 - x, y)) << x << "," << y;
      ASSERT_EQ(region.PtInRegion(x, y), region.PtInRegion(x, 59 - y)) << x << "," << y;
    }
  }
  RECT box{};
  EXPECT_EQ(region.GetRgnBox(&box), COMPLEXREGION);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.top, 0);
  EXPECT_EQ(box.right, 100);
  EXPECT_EQ(box.bottom, 60);
}

TEST(RegionTest, WindowShapeRoundsOnlyTheBottomCorners) {
  CRgn region;
  ASSERT_TRUE(region.CreateRoundRectRgn(0, -30, 300, 200, 20, 20));
  EXPECT_TRUE(region.PtInRegion(0, 0));
  EXPECT_TRUE(region.PtInRegion(299, 0));
  EXPECT_FALSE(region.PtInRegion(0, 199));
  EXPECT_FALSE(region.PtInRegion(299, 199));
  EXPECT_TRUE(region.PtInRegion(7, 199));
  EXPECT_TRUE(region.PtInRegion(0, 190));
}

TEST(RegionTest, EllipseLargerThanTheRectangleIsCutToIt) {
  CRgn region;
  ASSERT_TRUE(region.CreateRoundRectRgn(0, 0, 10, 10, 50, 50));
  EXPECT_TRUE(region.PtInRegion(5, 5));
  EXPECT_FALSE(region.PtInRegion(0, 0));
  CRgn plain;
  ASSERT_TRUE(plain.CreateRoundRectRgn(0, 0, 10, 10, 0, 0));
  EXPECT_TRUE(plain.PtInRegion(0, 0));
}

TEST(RegionTest, OffsetCopyAndCompare) {
  CRgn a;
  CRgn b;
  ASSERT_TRUE(a.CreateRoundRectRgn(0, 0, 40, 40, 10, 10));
  ASSERT_TRUE(b.CreateRectRgn(0, 0, 1, 1));
  EXPECT_EQ(CopyRgn(b, a), COMPLEXREGION);
  EXPECT_TRUE(EqualRgn(a, b));
  OffsetRgn(b, 5, -5);
  EXPECT_FALSE(EqualRgn(a, b));
  EXPECT_EQ(PtInRegion(a, 20, 0), PtInRegion(b, 25, -5));
}

TEST(RegionTest, CRgnDeletesItsRegion) {
  HRGN handle = nullptr;
  {
    CRgn region;
    ASSERT_TRUE(region.CreateRectRgn(0, 0, 5, 5));
    handle = region;
    EXPECT_TRUE(PtInRegion(handle, 1, 1));
  }
  EXPECT_FALSE(PtInRegion(handle, 1, 1));
  EXPECT_FALSE(DeleteObject(handle));
}

TEST(RegionTest, WindowOwnsTheRegionItIsGiven) {
  WNDCLASS windowClass{};
  windowClass.lpfnWndProc = &DefWindowProc;
  windowClass.lpszClassName = "RegionTestClass";
  RegisterClass(&windowClass);
  HWND hwnd = CreateWindowEx(0, "RegionTestClass", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);

  CRgn copy;
  ASSERT_TRUE(copy.CreateRectRgn(0, 0, 100, 100));
  EXPECT_EQ(GetWindowRgn(hwnd, copy), ERROR);  // none yet: the copy keeps the rectangle
  EXPECT_TRUE(copy.PtInRegion(0, 99));

  CRgn first;
  first.CreateRoundRectRgn(0, -30, 100, 100, 20, 20);
  ASSERT_NE(SetWindowRgn(hwnd, first, TRUE), 0);
  EXPECT_FALSE(DeleteObject(first.GetSafeHandle()));  // the window's now
  EXPECT_EQ(GetWindowRgn(hwnd, copy), COMPLEXREGION);
  EXPECT_FALSE(copy.PtInRegion(0, 99));

  const HRGN firstHandle = first;
  CRgn second;
  second.CreateRectRgn(0, 0, 10, 10);
  ASSERT_NE(SetWindowRgn(hwnd, second, TRUE), 0);
  EXPECT_FALSE(PtInRegion(firstHandle, 50, 50));  // the window freed the one it had

  const HRGN secondHandle = second;
  DestroyWindow(hwnd);
  EXPECT_FALSE(PtInRegion(secondHandle, 1, 1));
  UnregisterClass("RegionTestClass", nullptr);
}

}  // namespace
