// The soft drop shadow of a frameless window: a layered, click-through popup
// owned by the window, placed a few pixels down and right of it, whose
// per-pixel-alpha image is computed from the window's region. It follows the
// window by subclassing the window's procedure.
#pragma once

#include <cstdint>
#include <map>

#include "platform/window/Window.h"

class CWndShadow {
 public:
  enum Status : BYTE {
    ShadowEnabled = 1,
    ShadowVisible = 2,
    ParentVisible = 4,
    DisabledByComposition = 8,
  };

  // What the image is made of.
  struct Parameters {
    int size = 0;        // how far the shadow reaches beyond the window on each side
    int sharpness = 5;   // width of the soft edge
    int darkness = 150;  // alpha of the core
    int xOffset = 5;
    int yOffset = 5;
    COLORREF color = 0;
  };

  CWndShadow() = default;
  // Lets go of the window: its procedure is put back and the shadow window
  // destroyed.
  virtual ~CWndShadow();
  CWndShadow(const CWndShadow&) = delete;
  CWndShadow& operator=(const CWndShadow&) = delete;

  // Once per process, at start-up. False when already done, or when layered
  // windows are not offered (then no shadow is ever made).
  static bool Initialize(HINSTANCE instance);
  // Undoes Initialize: shadows made later stay off until it runs again.
  static void Uninitialize();

  // Gives `parent` its shadow (nothing without Initialize).
  void Create(HWND parent);

  // False and no change for a value out of its range; otherwise the shadow is
  // redrawn when shown.
  bool SetSize(int size);                 // -20..20
  bool SetSharpness(unsigned sharpness);  // 0..20
  bool SetDarkness(unsigned darkness);    // 0..255
  bool SetPosition(int x, int y);         // each -20..20
  bool SetColor(COLORREF color);

  HWND GetShadowWindow() const { return m_hWnd; }
  BYTE GetStatus() const { return m_Status; }
  Parameters GetParameters() const;

  // (R·alpha/255) << 16 | (G·alpha/255) << 8 | (B·alpha/255).
  static std::uint32_t PreMultiply(COLORREF color, unsigned alpha);
  // Fills `bits`, (width + 2·size) x (height + 2·size) pixels, bottom-up, all 0
  // on entry, with the shadow of a window of that size whose region (in window
  // coordinates) is `region`.
  static void MakeShadow(std::uint32_t* bits, HRGN region, int width, int height, const Parameters& parameters);

 private:
  static LRESULT ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const WNDPROC& original);

  void Show(HWND parent);
  void Update(HWND parent);
  void MakeShadow(std::uint32_t* bits, HWND parent, const RECT& parentRect) const;
  void Hide();
  HWND Owner() const;

  HWND m_hWnd = nullptr;
  WNDPROC m_OriginParentProc;
  HWND m_parent = nullptr;  // the window subclassed
  BYTE m_Status = 0;
  unsigned char m_nDarkness = 150;
  unsigned char m_nSharpness = 5;
  signed char m_nSize = 0;
  signed char m_nxOffset = 5;
  signed char m_nyOffset = 5;
  COLORREF m_Color = 0;
  bool m_bUpdate = false;
  LPARAM m_WndSize = 0;
};

// Every shadowed window and its shadow (the shadow belongs to its window; the
// map only refers to it). Used on the user-interface thread.
// Built on first use; the main program builds it in its order of globals.
std::map<HWND, CWndShadow*>& TheShadowMap();
#define theShadowMap (::TheShadowMap())
