#include "core/PlaylistSchedule.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/SQLiteDB.h"
#include "core/Token.h"
#include "platform/html/HtmlDocument.h"
#include "platform/window/MessageBox.h"

namespace {

// Counters of the whole run, shared by every playlist schedule.
std::atomic<int> nextTrackQueueId{1};
std::atomic<int> nextUnsavedItemId{1};

constexpr int kSecondsPerMinute = 60;
// A fetch asks for at most one track per this many seconds left.
constexpr int kSecondsPerFetchedTrack = 3;

}  // namespace

ItemTrackQueue::ItemTrackQueue(const ScheduleItem& slot) : id(nextTrackQueueId++), item(slot) { Fill(); }

void ItemTrackQueue::Fill() {
  tracks.clear();
  int remaining = (item.GetEnd() - item.GetStart()) * kSecondsPerMinute;
  const Mix mix = item.GetMix();
  while (remaining > 0) {
    const int before = remaining;
    TrackList fetched;
    theMusicDB.FetchRandomTracks(mix, fetched, remaining / kSecondsPerFetchedTrack);
    for (const Track& track : fetched) {
      if (remaining <= 0) break;
      remaining -= track.length;
      tracks.push_back(track);
    }
    // A mix that matches nothing, a fetch of no tracks (one or two seconds
    // left) or tracks without length: more fetches would not fill the slot.
    if (remaining >= before) break;
  }
  // End nearer to the slot's end: without the last track when that is closer.
  if (!tracks.empty() && remaining + tracks.back().length < std::abs(remaining)) {
    remaining += tracks.back().length;
    tracks.pop_back();
  }
}

PlaylistSchedule::PlaylistSchedule() = default;

PlaylistSchedule::PlaylistSchedule(const platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  id = std::atoi(tokens.GetNextToken().c_str());
  if (id > 0) theMusicDB.GetPlaylistSchedule(*this);
}

PlaylistSchedule::PlaylistSchedule(const SQLiteRow& row)
    : id(row.GetInt("id")), name(row.Get("name")), duration(row.GetInt("duration")) {
  LoadItems();
}

void PlaylistSchedule::LoadItems() {
  items.clear();
  theMusicDB.GetScheduleItems(id, items);
}

void PlaylistSchedule::AppendItemsHtml(std::string& html) const {
  for (const ScheduleItem& item : items) html += item.GetHtml();
}

void PlaylistSchedule::InsertItem(ScheduleItem item) {
  if (id > 0) {
    item.SetScheduleId(id);
    theMusicDB.AddScheduleItem(item);
  } else {
    item.SetId(nextUnsavedItemId++);
  }
  items.push_back(item);
}

void PlaylistSchedule::UpdateItem(const ScheduleItem& item) {
  if (id > 0) theMusicDB.UpdateScheduleItem(item);
  for (ScheduleItem& listed : items) {
    if (listed.GetId() == item.GetId()) listed = item;
  }
}

void PlaylistSchedule::DeleteItem(const ScheduleItem& item) {
  if (id > 0) theMusicDB.DeleteScheduleItem(item);
  auto found = std::find_if(items.begin(), items.end(),
                            [&item](const ScheduleItem& listed) { return listed.GetId() == item.GetId(); });
  if (found != items.end()) items.erase(found);
}

ScheduleItem* PlaylistSchedule::FindItem(int itemId) {
  for (ScheduleItem& item : items) {
    if (item.GetId() == itemId) return &item;
  }
  return nullptr;
}

Mix PlaylistSchedule::GetItemMix(int itemId) const {
  for (const ScheduleItem& item : items) {
    if (item.GetId() == itemId) return item.GetMix();
  }
  return Mix();
}

void PlaylistSchedule::SetItemMix(int itemId, const Mix& mix) {
  // Only a slot of this document: the id could name another schedule's row.
  if (!FindItem(itemId)) return;
  if (id > 0) theMusicDB.SetScheduleItemMix(itemId, mix.GetId());
  for (ScheduleItem& item : items) {
    if (item.GetId() == itemId) item.SetMix(mix);
  }
}

void PlaylistSchedule::AddItemMixTag(int itemId, const Tag& tag) {
  if (ScheduleItem* item = FindItem(itemId)) item->AddMixTag(tag);
}

void PlaylistSchedule::RemoveItemMixTag(int itemId, const Tag& tag) {
  if (ScheduleItem* item = FindItem(itemId)) item->RemoveMixTag(tag);
}

void PlaylistSchedule::Save() {
  if (id > 0) {
    // Every item operation has already written its change.
    theMusicDB.UpdatePlaylistSchedule(*this);
    return;
  }
  theMusicDB.AddPlaylistSchedule(*this);
  if (id < 1) return;  // not stored: the items stay in memory only
  for (ScheduleItem& item : items) {
    item.SetScheduleId(id);
    theMusicDB.AddScheduleItem(item);
  }
}

void PlaylistSchedule::Delete() { theMusicDB.DeletePlaylistSchedule(*this); }

ScheduleItemList PlaylistSchedule::OrderedSlots() const {
  ScheduleItemList ordered;
  for (const ScheduleItem& item : items) {
    auto place = ordered.end();
    if (item.GetStart() < duration) {
      place = std::find_if(ordered.begin(), ordered.end(),
                           [&item](const ScheduleItem& placed) { return placed.GetStart() > item.GetStart(); });
    }
    ordered.insert(place, item);
  }
  if (!ordered.empty() && ordered.front().GetStart() != 0) ordered.front().SetStart(0);
  // Each slot ends where the next begins, the last at the end of the
  // playlist. Items that start past the end are placed last and are cut to
  // nothing; the slot before them ends with the playlist, not at their start.
  int end = duration;
  for (auto slot = ordered.rbegin(); slot != ordered.rend(); ++slot) {
    slot->SetEnd(std::min(end, duration));
    end = slot->GetStart();
  }
  return ordered;
}

bool PlaylistSchedule::Generate() {
  // Without a player there is nothing to write into: the document stays as it is.
  ITunesPlayer player(nullptr);
  if (!player.Connect(false)) return false;
  Save();
  queues.clear();
  for (const ScheduleItem& slot : OrderedSlots()) queues.emplace_back(slot);
  player.WriteGeneratedPlaylist(name, queues);
  return true;
}

void PlaylistSchedule::ShowInITunes() {
  if (id < 1) {
    const int answer = MessageBox(nullptr,
                                  "A playlist has not been Generated in iTunes yet for this schedule.\n\n"
                                  "Would you like to Generate one now?",
                                  "Playlist not generated yet", MB_YESNO);
    if (answer != IDYES) return;
    Generate();
  }
  ITunesPlayer player(nullptr);
  player.Connect(false);
  player.FindGeneratedPlaylist(name);
}
