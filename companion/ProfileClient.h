// The companion's client of the profile service and of the status service:
// the handshake that logs in with the account file's user name and password,
// one XML record per played track, and the "Listening to" status. Each
// request answers true or false; no failure leaves it.
#pragma once

#include <string>

#include "platform/kernel/WinTypes.h"

class Mix;
class Track;

// The machine is online (the desktop's connected state).
bool IsInternetConnected();

class ProfileClient {
 public:
  // Reads the account file (a missing or unreadable one gives empty texts).
  ProfileClient();
  ~ProfileClient();
  ProfileClient(const ProfileClient&) = delete;
  ProfileClient& operator=(const ProfileClient&) = delete;

  // After a new login: the account file again, and the next submission
  // shakes hands anew (logged out, no submit address, as at start).
  void ReloadCredentials();

  bool IsOnline() const;
  bool IsLoggedIn() const { return LoggedIn; }
  // Logged in, but the service named no web address to send tracks to.
  bool LacksSubmitUrl() const { return LoggedIn && SubmitUrl.empty(); }

  bool Handshake();
  // Stores the track in the music database, marks it uploaded and posts its
  // record to the profile. Offline nothing happens and the track stays
  // unmarked, so the next poll tries again. Logged in without a submit
  // address, the handshake is repeated at most once a minute and the track
  // stays unmarked until an address comes.
  bool SubmitTrack(const Mix& playing, Track& track);
  bool PostToTwitter(const Track& track);

  const std::string& GetUserName() const { return UserName; }
  const std::string& GetSubmitUrl() const { return SubmitUrl; }

 private:
  void LoadCredentials();

  bool LoggedIn = false;
  DWORD LastHandshake = 0;  // tick of the last handshake tried
  std::string SubmitUrl;
  std::string UserName;
  std::string Password;
};

extern ProfileClient theProfileClient;
