// The sink of the media player's events for one ITunesPlayer: it lives inside
// that player and turns each event into a call on it, which passes it on to
// the owner window.
#pragma once

#include <vector>

#include "platform/player/ITunes.h"

class ITunesPlayer;

class ITunesEventHandler final : public platform::player::IiTunesEvents {
 public:
  explicit ITunesEventHandler(ITunesPlayer* player) : player_(player) {}
  ITunesEventHandler(const ITunesEventHandler&) = delete;
  ITunesEventHandler& operator=(const ITunesEventHandler&) = delete;

  // Runs the handler of the event's dispatch id (1..10) with its arguments.
  HRESULT Invoke(platform::player::DISPID dispId, const std::vector<platform::player::EventArg>& args) override;

  void OnDatabaseChangedEvent(const platform::player::EventArg& deletedObjects,
                              const platform::player::EventArg& changedObjects);
  void OnPlayerPlayEvent(const platform::player::EventArg& track);
  void OnPlayerStopEvent(const platform::player::EventArg& track);
  void OnPlayerPlayingTrackChangedEv(const platform::player::EventArg& track);
  void OnUserInterfaceEnabledEvent();
  void OnCOMCallsDisabledEvent(long reason);
  void OnCOMCallsEnabled();
  void OnQuittingEvent();
  void OnAboutToPromptUserToQuitEvent();
  void OnSoundVolumeChangedEvent(long volume);

  // Set by the player's own transport commands while it plays: the stop
  // event that the command causes is not an end of track.
  bool ignoreNextStop = false;

 private:
  ITunesPlayer* const player_;
};
