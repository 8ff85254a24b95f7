#include "core/MusicPlayer.h"

#include "core/PlayerListener.h"

std::atomic<bool> iTunesAvailable{true};
std::atomic<bool> libraryChanged{true};

// Only players with an owner subscribe to events, but a player built without
// one must not crash on an event either.
void MusicPlayer::OnPlayerStopped() {
  if (owner_) owner_->PlayNext();
}

void MusicPlayer::OnPlayerPaused(bool paused) {
  if (owner_) owner_->OnPlayerPaused(paused);
}

void MusicPlayer::OnPlayerQuit() {
  if (owner_) owner_->OnPlayerQuit();
}

void MusicPlayer::OnPlayerLost() {
  if (owner_) owner_->OnPlayerLost();
}

void MusicPlayer::SetITunesAvailable() { iTunesAvailable = true; }

void MusicPlayer::SetITunesUnavailable() { iTunesAvailable = false; }
