// The Lab's back and forward list: every view the user opens by a link is
// appended; the back and forward buttons walk the list. Kept in memory only,
// for as long as the Lab window lives.
#pragma once

#include <deque>
#include <optional>

// One view: its kind (a LabView value: 0 track, 1 tag, 2 mix, 3 home) and the
// id of its object (0 for home).
struct LabHistoryEntry {
  int view = 0;
  int id = 0;
  bool operator==(const LabHistoryEntry& other) const = default;
};

class LabHistory {
 public:
  LabHistory() = default;

  // Entries after the current one are dropped first, except while the first
  // entry is the current one (then every entry stays reachable by back). The
  // new entry becomes the current one; returns its index.
  int Add(const LabHistoryEntry& entry);
  int Add(int view, int id) { return Add(LabHistoryEntry{view, id}); }

  // The entry before (after) the current one, or the current one at the start
  // (end) of the list. Nothing, and no change, while the list is empty.
  std::optional<LabHistoryEntry> Back();
  std::optional<LabHistoryEntry> Forward();
  // Nothing for an index outside the list.
  std::optional<LabHistoryEntry> At(int index) const;

  bool CanBack() const { return !entries_.empty() && current_ > 0; }
  bool CanForward() const { return current_ >= 0 && current_ < static_cast<int>(entries_.size()) - 1; }

  int GetCurrentIndex() const { return current_; }
  int GetCount() const { return static_cast<int>(entries_.size()); }

 private:
  std::deque<LabHistoryEntry> entries_;
  int current_ = -1;
};
