#include "core/ITunesEventHandler.h"

#include <variant>

#include "core/ITunesPlayer.h"
#include "core/Track.h"
#include "platform/kernel/Log.h"

using namespace platform::player;

namespace {

// Rows of one id array of a database-changed event; none for anything else.
std::size_t RowCount(const EventArg& arg) {
  if (const auto* rows = std::get_if<ObjectIDRows>(&arg)) return rows->size();
  return 0;
}

// More changed objects than this is a change of the library itself; a playing
// track alone changes a handful (play count, played date, rating).
constexpr std::size_t kIncidentalChanges = 6;

}  // namespace

HRESULT ITunesEventHandler::Invoke(DISPID dispId, const std::vector<EventArg>& args) {
  static const EventArg kNone;
  auto arg = [&args](std::size_t i) -> const EventArg& { return i < args.size() ? args[i] : kNone; };
  auto number = [&arg](std::size_t i) -> long {
    if (const long* value = std::get_if<long>(&arg(i))) return *value;
    return 0;
  };
  // Nothing may be thrown back into the player's event delivery: a failure
  // becomes the call's result, as a dispatch call reports an exception.
  try {
    switch (dispId) {
      case ITEventDatabaseChanged:
        OnDatabaseChangedEvent(arg(0), arg(1));
        break;
      case ITEventPlayerPlay:
        OnPlayerPlayEvent(arg(0));
        break;
      case ITEventPlayerStop:
        OnPlayerStopEvent(arg(0));
        break;
      case ITEventPlayerPlayingTrackChanged:
        OnPlayerPlayingTrackChangedEv(arg(0));
        break;
      case ITEventUserInterfaceEnabled:
        OnUserInterfaceEnabledEvent();
        break;
      case ITEventCOMCallsDisabled:
        OnCOMCallsDisabledEvent(number(0));
        break;
      case ITEventCOMCallsEnabled:
        OnCOMCallsEnabled();
        break;
      case ITEventQuitting:
        OnQuittingEvent();
        break;
      case ITEventAboutToPromptUserToQuit:
        // The connection says so when the player went without a word.
        if (number(0) == kPlayerLost) {
          player_->OnPlayerLost();
        } else {
          OnAboutToPromptUserToQuitEvent();
        }
        break;
      case ITEventSoundVolumeChanged:
        OnSoundVolumeChangedEvent(number(0));
        break;
      default:
        return E_INVALIDARG;
    }
  } catch (...) {
    platform::LogFailure("ITunesEventHandler::Invoke");
    return E_FAIL;
  }
  return S_OK;
}

void ITunesEventHandler::OnDatabaseChangedEvent(const EventArg& deletedObjects, const EventArg& changedObjects) {
  if (RowCount(deletedObjects) > 0 || RowCount(changedObjects) > kIncidentalChanges) player_->SetLibraryChanged();
}

void ITunesEventHandler::OnPlayerPlayEvent(const EventArg& track) {
  const auto* object = std::get_if<std::shared_ptr<IITObject>>(&track);
  if (!object) return;
  auto playing = QueryInterface<IITTrack>(*object);
  if (!playing) return;
  Track converted;
  ConvertITunesTrack(converted, playing);
  player_->OnPlayerPaused(false);
  player_->OnTrackPlaying(converted);
}

void ITunesEventHandler::OnPlayerStopEvent(const EventArg&) {
  if (ignoreNextStop) {
    // The stop of a track switch that the program itself ordered.
    ignoreNextStop = false;
    return;
  }
  bool stopped = true;
  try {
    stopped = player_->IsStopped();
  } catch (...) {
    platform::LogFailure("ITunesEventHandler::OnPlayerStopEvent");
    return;  // the player takes no calls now: nothing to play next with
  }
  int position = 0;
  try {
    if (stopped) position = player_->GetPlayerPosition();
  } catch (...) {
    platform::LogFailure("ITunesEventHandler::OnPlayerStopEvent");
    position = 0;  // no place kept that can be read: an end
  }
  // Held mid-track: someone paused it at the player; that stays.
  if (position > 0) {
    player_->OnPlayerPaused(true);
    return;
  }
  player_->OnPlayerStopped();
}

void ITunesEventHandler::OnPlayerPlayingTrackChangedEv(const EventArg&) {}

void ITunesEventHandler::OnUserInterfaceEnabledEvent() { player_->SetITunesAvailable(); }

void ITunesEventHandler::OnCOMCallsDisabledEvent(long) { player_->SetITunesUnavailable(); }

void ITunesEventHandler::OnCOMCallsEnabled() { player_->SetITunesAvailable(); }

void ITunesEventHandler::OnQuittingEvent() {}

void ITunesEventHandler::OnAboutToPromptUserToQuitEvent() { player_->OnPlayerQuit(); }

void ITunesEventHandler::OnSoundVolumeChangedEvent(long) {}
