// Brings the stored playlist mixes in line with the user playlists that the
// player has now: a mix whose playlist is still there stays (and follows a
// rename), a mix whose playlist is gone is deleted (only while the player
// shows a library that a scan would sweep), and every new playlist gets a
// mix. Stored ids survive, so schedules keep their playlist mixes.
#pragma once

class MusicPlayer;

class PlaylistSync {
 public:
  // The player to read the playlists from (not owned).
  PlaylistSync& SetPlayer(MusicPlayer* player);
  // Works on theMusicDB. Any failure ends it silently; what was written
  // before stays written. Without a player nothing changes.
  void SyncPlaylistMixes();

 private:
  MusicPlayer* player_ = nullptr;
};
