#include "core/ScanStatus.h"

ScanStatus& TheScanStatus() {
  static ScanStatus status;
  return status;
}

void ScanStatus::Set(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = text;
}

std::string ScanStatus::Get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}
