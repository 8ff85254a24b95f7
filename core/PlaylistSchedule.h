// Generator documents: a timed sequence of mixes (a schedule of type 5 whose
// item times count minutes from the playlist's start) that Generate fills with
// random tracks of each slot's mix and writes into the player as one playlist.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "core/Mix.h"
#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "core/Track.h"

class SQLiteRow;
namespace platform {
class HtmlElement;
}

// The tracks chosen for one slot of a generated playlist, in playing order.
class ItemTrackQueue {
 public:
  // Takes the next queue id, copies the slot and fills it.
  explicit ItemTrackQueue(const ScheduleItem& slot);

  // Random tracks of the slot's mix whose lengths add up as close to the
  // slot's length as whole tracks allow. Ends early, keeping what it has,
  // when the mix gives no more tracks that take up time.
  void Fill();

  const std::deque<Track>& GetTracks() const { return tracks; }
  int GetId() const { return id; }
  const ScheduleItem& GetItem() const { return item; }

 private:
  std::deque<Track> tracks;
  int id;
  ScheduleItem item;
};

using ItemTrackQueueList = std::vector<ItemTrackQueue>;

class PlaylistSchedule {
 public:
  static constexpr const char* kDefaultName = "untitled playlist";
  static constexpr int kDefaultDuration = 120;

  PlaylistSchedule();
  // From a list entry whose id starts with the schedule id ("<id>_:_...");
  // an id above 0 is loaded from theMusicDB.
  explicit PlaylistSchedule(const platform::HtmlElement& element);
  // Columns "id", "name", "duration" of table "schedule"; the items are loaded.
  explicit PlaylistSchedule(const SQLiteRow& row);

  int GetId() const { return id; }
  void SetId(int scheduleId) { id = scheduleId; }
  std::string GetName() const { return name; }
  void SetName(const std::string& newName) { name = newName; }
  int GetDuration() const { return duration; }
  void SetDuration(int minutes) { duration = minutes; }
  static int GetType() { return SchedulePlaylist; }
  const ScheduleItemList& GetItems() const { return items; }
  // The tracks of the last Generate, one queue per slot in playing order.
  const ItemTrackQueueList& GetQueues() const { return queues; }

  void LoadItems();
  void AppendItemsHtml(std::string& html) const;
  // Adds the item; a stored schedule stores it at once.
  void InsertItem(ScheduleItem item);
  void UpdateItem(const ScheduleItem& item);
  void DeleteItem(const ScheduleItem& item);
  Mix GetItemMix(int itemId) const;
  // Nothing for an item id the document does not hold.
  void SetItemMix(int itemId, const Mix& mix);
  void AddItemMixTag(int itemId, const Tag& tag);
  void RemoveItemMixTag(int itemId, const Tag& tag);

  // Writes name and duration; an unsaved schedule is stored with its items.
  void Save();
  // Deletes the stored row and its items.
  void Delete();
  // Saves, lays the slots out from minute 0 to the end, fills them and writes
  // the playlist into the player. False, with nothing stored or written, when
  // the player cannot be reached.
  bool Generate();
  // Has the player show the generated playlist, generating it first (when
  // the user agrees) if the schedule was never stored.
  void ShowInITunes();

 private:
  // The items in playing order, without gap or overlap from minute 0 to the end.
  ScheduleItemList OrderedSlots() const;
  ScheduleItem* FindItem(int itemId);

  int id = 0;
  std::string name = kDefaultName;
  int duration = kDefaultDuration;
  ScheduleItemList items;
  ItemTrackQueueList queues;
};
