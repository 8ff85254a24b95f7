// The choice of player behind CoCreateITunesApp: a model bound in this
// process (unit tests), MPD, or the stand-in server.
#include <mutex>

#include "platform/player/ITunes.h"
#include "platform/player/mpd/MpdPlayer.h"
#include "platform/player/standin/StandInClient.h"

namespace platform::player {

namespace {

std::mutex activatorMutex;
PlayerActivator& Activator() {
  static PlayerActivator activator;
  return activator;
}

bool Activate() { return Activator() && Activator()(); }

}  // namespace

void RegisterPlayerActivator(PlayerActivator activator) {
  std::lock_guard lock(activatorMutex);
  Activator() = std::move(activator);
}

HRESULT CoCreateITunesApp(std::shared_ptr<IiTunes>* app) {
  if (!app) return E_POINTER;
  app->reset();
  if (BoundApp(app)) return S_OK;
  if (ChosenPlayer() == PlayerKind::Mpd) {
    return CoCreateMpdApp(app, [] {
      std::lock_guard lock(activatorMutex);
      return Activate();
    });
  }
  return CoCreateStandInApp(app, activatorMutex, Activate);
}

bool IsPlayerRunning() {
  if (const auto running = BoundPlayerRunning()) return *running;
  if (bool answers = false; ChosenPlayer(&answers) == PlayerKind::Mpd) return answers;
  return IsStandInRunning();
}

}  // namespace platform::player
