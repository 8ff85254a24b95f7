// The automation objects of tracks and playlists on MPD, and what every
// object of the layer shares.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/player/ITunes.h"
#include "platform/player/mpd/MpdSession.h"

namespace platform::player::mpd {

template <class Base>
class Object : public Base {
 public:
  explicit Object(std::shared_ptr<Session> session) : session_(std::move(session)) {}

 protected:
  std::shared_ptr<Session> session_;
};

template <class T>
HRESULT Out(T* out, T value) {
  if (!out) return E_POINTER;
  *out = std::move(value);
  return S_OK;
}

template <class T, class U>
HRESULT OutObject(std::shared_ptr<T>* out, std::shared_ptr<U> value) {
  if (!out) return E_POINTER;
  *out = std::move(value);
  return *out ? S_OK : S_FALSE;
}

std::shared_ptr<IITTrack> MakeTrack(const std::shared_ptr<Session>& session, Song song, Place place);
std::shared_ptr<IITPlaylist> MakePlaylist(const std::shared_ptr<Session>& session, long id, const std::string& name);

}  // namespace platform::player::mpd
