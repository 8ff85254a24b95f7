// The keyboard: system-wide hot keys (grabbed on the display too) and the
// state of keys held down.
#include "platform/window/Window.h"

#include <algorithm>
#include <mutex>

#include "platform/kernel/LastError.h"
#include "platform/window/WindowInternal.h"
#include "platform/window/X11HotKeys.h"

namespace platform::wm {

bool Released(const HotKey& key) {
  platform::x11::UngrabHotKey(key.modifiers, key.key);
  return true;
}

}  // namespace platform::wm

using namespace platform::wm;

BOOL RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT virtualKey) {
  if (!FindOrFail(hwnd)) return FALSE;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  std::erase_if(m.hotKeys, [&m](const HotKey& k) { return !FindLocked(m, k.hwnd) && Released(k); });
  for (const HotKey& key : m.hotKeys) {
    if ((key.modifiers == modifiers && key.key == virtualKey) || (key.hwnd == hwnd && key.id == id)) {
      SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
      return FALSE;
    }
  }
  // Grabbed on the display too, so the key comes whichever window has the focus.
  if (!platform::x11::GrabHotKey(modifiers, virtualKey)) {
    SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
    return FALSE;
  }
  m.hotKeys.push_back(HotKey{hwnd, id, modifiers, virtualKey});
  return TRUE;
}

BOOL UnregisterHotKey(HWND hwnd, int id) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  const auto removed = std::erase_if(m.hotKeys, [&](const HotKey& k) {
    if (k.hwnd != hwnd || k.id != id) return false;
    platform::x11::UngrabHotKey(k.modifiers, k.key);
    return true;
  });
  return removed ? TRUE : FALSE;
}

SHORT GetKeyState(int virtualKey) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.keysDown.count(virtualKey) ? static_cast<SHORT>(0x8000 | 1) : static_cast<SHORT>(0);
}

namespace platform {

bool PressHotKey(UINT modifiers, UINT virtualKey) {
  HotKey found{};
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = std::find_if(m.hotKeys.begin(), m.hotKeys.end(), [&](const HotKey& k) {
      return k.modifiers == modifiers && k.key == virtualKey && FindLocked(m, k.hwnd);
    });
    if (it == m.hotKeys.end()) return false;
    found = *it;
  }
  return ::PostMessage(found.hwnd, WM_HOTKEY, static_cast<WPARAM>(found.id),
                       MAKELPARAM(static_cast<int>(modifiers), static_cast<int>(virtualKey))) != FALSE;
}

void SetKeyDown(int virtualKey, bool down) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (down) {
    m.keysDown.insert(virtualKey);
  } else {
    m.keysDown.erase(virtualKey);
  }
}

}  // namespace platform
