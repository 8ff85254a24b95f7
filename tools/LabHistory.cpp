#include "tools/LabHistory.h"

#include <algorithm>

int LabHistory::Add(const LabHistoryEntry& entry) {
  // Back at the very first entry the later ones are kept: the new view goes
  // after all of them.
  if (current_ > 0) entries_.resize(static_cast<std::size_t>(current_) + 1);
  entries_.push_back(entry);
  current_ = static_cast<int>(entries_.size()) - 1;
  return current_;
}

std::optional<LabHistoryEntry> LabHistory::Back() {
  if (entries_.empty()) return std::nullopt;
  current_ = std::max(current_ - 1, 0);
  return entries_[static_cast<std::size_t>(current_)];
}

std::optional<LabHistoryEntry> LabHistory::Forward() {
  if (entries_.empty()) return std::nullopt;
  current_ = std::min(current_ + 1, static_cast<int>(entries_.size()) - 1);
  return entries_[static_cast<std::size_t>(current_)];
}

std::optional<LabHistoryEntry> LabHistory::At(int index) const {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return std::nullopt;
  return entries_[static_cast<std::size_t>(index)];
}
