// The stand-in player as the choice of player (Player.cpp) reaches it: the
// in-process model a ScopedInProcessPlayer binds, or the zorva-player server.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/player/ITunes.h"

namespace platform::player {

// The automation objects of the model a ScopedInProcessPlayer binds; false
// when none is bound.
bool BoundApp(std::shared_ptr<IiTunes>* app);
// Whether the bound model runs; nullopt when none is bound.
std::optional<bool> BoundPlayerRunning();
// The stand-in server's automation objects. When none runs, `activate` is
// called with `activation` held, so that one client starts it.
HRESULT CoCreateStandInApp(std::shared_ptr<IiTunes>* app, std::mutex& activation,
                           const std::function<bool()>& activate);
bool IsStandInRunning();

}  // namespace platform::player
