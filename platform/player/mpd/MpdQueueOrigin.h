// What MPD's queue was loaded from: the queue-origin file beside the ids,
// and the load of a stored playlist that fills it.
#pragma once

#include <mpd/client.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::player::mpd {

// What the queue was loaded from, kept beside the ids so every program of the
// user sees it: MPD's queue version then, the stored playlist, and which
// queue song (by MPD's song id, which other clients' edits leave alone) came
// from which entry of it.
struct QueueOrigin {
  unsigned version = 0;
  bool shuffled = false;
  std::string playlist;
  std::vector<std::pair<unsigned, long>> entries;  // song id, 1-based entry

  long EntryOf(unsigned songId) const {
    for (const auto& [id, entry] : entries)
      if (id == songId) return entry;
    return 0;
  }
  std::optional<unsigned> SongIdOf(long entry) const {
    for (const auto& [id, at] : entries)
      if (at == entry) return id;
    return std::nullopt;
  }
};

// The user's data folder, without its final "/" (in MpdPlayer.cpp).
std::string DataFolder();

QueueOrigin ReadOrigin();
void WriteOrigin(const QueueOrigin& origin);

// Clears the queue and loads the stored playlist into it. MPD's load leaves
// out the entries whose song is gone, so `origin` gets which queue song came
// from which entry.
bool LoadQueue(mpd_connection* c, const std::string& playlist, QueueOrigin* origin);

}  // namespace platform::player::mpd
