#include "core/AppMainWindow.h"

#include <atomic>

#include "platform/kernel/Messages.h"

namespace {
// Read from worker threads too (the version check closes the program).
std::atomic<HWND> mainWindow{nullptr};
}  // namespace

HWND GetAppMainWindow() { return mainWindow.load(); }

void SetAppMainWindow(HWND window) { mainWindow.store(window); }

bool PostToAppMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = mainWindow.load();
  if (window == nullptr) return false;
  return PostMessage(window, message, wParam, lParam) != FALSE;
}
