// One running copy of a program per user, in place of the data section that
// the copies of a program share on the desktop. The copy that holds an
// exclusive lock (flock) on "<name>.lock" in the user's runtime folder is the
// running one; the lock goes with its process, however that ends, so two
// copies started at the same instant can never both hold it. Once its main
// window is up the running copy listens on the local socket "<name>.sock"
// beside the lock, and later copies hand it one short line there ("show",
// "lab"...) before they end.
//
// The runtime folder is $XDG_RUNTIME_DIR, else the private folder
// $TMPDIR/zorva-<uid> (/tmp without TMPDIR), made with mode 0700. Only a
// peer of the same user is heard, and a copy talks only to a running copy
// of its own user.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/kernel/Clock.h"
#include "platform/kernel/WinTypes.h"
#include "platform/kernel/UniqueFd.h"

namespace platform {

// The folder of the lock and the socket, ending in "/" ("" when none can be
// had: no runtime folder and the private one is not private).
std::string InstanceFolder();

class SingleInstance {
 public:
  // `name` names the lock and the socket ("zorva", "vantrel").
  explicit SingleInstance(std::string name);
  // Stops listening and lets the lock go.
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this copy holds the lock now (at once, never waiting). A copy
  // that cannot make its lock file at all counts as the only one (false
  // would leave the user with no program at all).
  bool TryLock();
  bool IsLocked() const { return lockFd_.IsDefined(); }

  // The running copy: listens on the socket. Each line a later copy sends is
  // given to `onMessage`, which runs on the calling thread when its messages
  // are pumped (platform::PostThreadCall). False when the socket cannot be
  // made; nothing is heard then.
  using MessageHandler = std::function<void(const std::string& message)>;
  bool Listen(MessageHandler onMessage);

  // A later copy: hands `message` (one line, at most 64 bytes, no line
  // feed) to the running copy. While the running copy does not listen yet it
  // tries again every `intervalMs`, at most `attempts` times, on the clock;
  // it gives up at once when the lock is free (no copy runs any more). True
  // when the running copy took the message.
  bool SendToRunning(const std::string& message, int attempts, Millis intervalMs);

  std::string LockPath() const;
  std::string SocketPath() const;

 private:
  class Listener;
  bool SendOnce(const std::string& message);
  bool LockIsFree() const;

  std::string name_;
  std::string folder_;
  platform::UniqueFd lockFd_;
  std::unique_ptr<Listener> listener_;
};

}  // namespace platform
