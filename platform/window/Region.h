// Regions of GDI, in place of the desktop API's HRGN calls: rectangles and
// rounded rectangles as sets of pixels, the membership test, and window
// regions (SetWindowRgn/GetWindowRgn in Window.h). A region is a list of
// horizontal bands of pixel spans; a pixel (x, y) covers [x, x+1) x [y, y+1),
// and right and bottom edges are exclusive as in GDI.
//
// Handles are never reused. A region given to a window with SetWindowRgn
// belongs to the window from then on: DeleteObject of it fails, and the
// window frees it when it gets another region or dies.
#pragma once

#include "platform/window/WinUser.h"

HRGN CreateRectRgn(int left, int top, int right, int bottom);
// A rectangle whose corners are quarter ellipses of ellipseWidth x
// ellipseHeight (each at most the rectangle's size). A pixel belongs to it
// when its centre lies inside the rounded outline.
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
BOOL DeleteObject(HRGN region);
BOOL PtInRegion(HRGN region, int x, int y);
// The smallest rectangle around the region; the region's type (ERROR for a
// bad handle).
int GetRgnBox(HRGN region, RECT* box);
int OffsetRgn(HRGN region, int dx, int dy);
// Makes `destination` hold what `source` holds; the region's type.
int CopyRgn(HRGN destination, HRGN source);
BOOL EqualRgn(HRGN a, HRGN b);

// Owns a region handle and deletes it (the class library's CRgn).
class CRgn {
 public:
  CRgn() = default;
  ~CRgn() { DeleteObject(); }
  CRgn(const CRgn&) = delete;
  CRgn& operator=(const CRgn&) = delete;

  BOOL CreateRectRgn(int left, int top, int right, int bottom);
  BOOL CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
  // Deletes the region and lets go of the handle, even when a window owns it
  // by now (then only the handle is let go).
  BOOL DeleteObject();
  BOOL Attach(HRGN region);
  HRGN Detach();

  HRGN GetSafeHandle() const { return m_hObject; }
  operator HRGN() const { return m_hObject; }
  BOOL PtInRegion(int x, int y) const { return ::PtInRegion(m_hObject, x, y); }
  int GetRgnBox(RECT* box) const { return ::GetRgnBox(m_hObject, box); }

 private:
  HRGN m_hObject = nullptr;
};
