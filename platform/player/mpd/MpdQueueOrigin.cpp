// The queue-origin file and the load of a stored playlist into MPD's queue.
#include "platform/player/mpd/MpdQueueOrigin.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/player/mpd/MpdClient.h"

namespace platform::player::mpd {

QueueOrigin ReadOrigin() {
  QueueOrigin origin;
  std::ifstream file(DataFolder() + "/mpd-queue");
  std::string line;
  if (!std::getline(file, line)) return origin;
  unsigned version = 0;
  int shuffled = 0;
  int used = 0;
  if (std::sscanf(line.c_str(), "%u %d %n", &version, &shuffled, &used) < 2) return origin;
  origin.version = version;
  origin.shuffled = shuffled != 0;
  origin.playlist = line.substr(static_cast<std::size_t>(used));
  if (std::getline(file, line)) {
    std::istringstream pairs(line);
    unsigned id = 0;
    char colon = 0;
    long entry = 0;
    while (pairs >> id >> colon >> entry && colon == ':') origin.entries.emplace_back(id, entry);
  }
  return origin;
}

void WriteOrigin(const QueueOrigin& origin) {
  const std::string path = DataFolder() + "/mpd-queue";
  {
    std::ofstream file(path + ".new", std::ios::trunc);
    file << origin.version << ' ' << (origin.shuffled ? 1 : 0) << ' ' << origin.playlist << '\n';
    for (const auto& [id, entry] : origin.entries) file << id << ':' << entry << ' ';
    file << '\n';
    if (!file) return;
  }
  std::rename((path + ".new").c_str(), path.c_str());
}

// Clears the queue and loads the stored playlist into it. MPD's load leaves
// out the entries whose song is gone, so `origin` gets which queue song came
// from which entry.
bool LoadQueue(mpd_connection* c, const std::string& playlist, QueueOrigin* origin) {
  origin->playlist = playlist;
  origin->entries.clear();
  if (!mpd_run_clear(c) || !mpd_run_load(c, playlist.c_str())) return false;
  std::vector<std::string> uris;
  if (!mpd_send_list_playlist(c, playlist.c_str())) return false;
  while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
    uris.emplace_back(pair->value);
    mpd_return_pair(c, pair);
  }
  if (!mpd_response_finish(c)) return false;
  // The queue by path and id alone (no tag to outgrow a line), then the tags
  // read again.
  const bool tagChoice = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
  if (tagChoice && !mpd_run_clear_tag_types(c)) return false;
  std::vector<std::pair<std::string, unsigned>> queue;
  if (!mpd_send_list_queue_meta(c)) return false;
  while (MpdSong songOwner{mpd_recv_song(c)}) {
    mpd_song* song = songOwner.get();
    queue.emplace_back(mpd_song_get_uri(song), mpd_song_get_id(song));
    songOwner.reset();
  }
  if (!mpd_response_finish(c)) return false;
  if (tagChoice && !mpd_run_enable_tag_types(c, kTagsRead, std::size(kTagsRead))) return false;
  std::size_t q = 0;
  for (std::size_t i = 0; i < uris.size() && q < queue.size(); ++i)
    if (queue[q].first == uris[i]) origin->entries.emplace_back(queue[q++].second, static_cast<long>(i) + 1);
  return true;
}

}  // namespace platform::player::mpd
