// The last status text of the library scan (theScanStatus). The scan worker
// writes it through the main window's SetScanStatus; the windows read it on
// the user-interface thread when WM_APP_SCAN_STATUS arrives.
#pragma once

#include <mutex>
#include <string>

class ScanStatus {
 public:
  void Set(const std::string& text);
  std::string Get() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// Built on first use; the main program builds it in its order of globals.
ScanStatus& TheScanStatus();
#define theScanStatus (::TheScanStatus())
