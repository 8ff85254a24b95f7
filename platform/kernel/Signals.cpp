#include "platform/kernel/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/kernel/Messages.h"
#include "platform/kernel/Log.h"

namespace platform {

namespace {

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

std::atomic<bool> theStarted{false};
std::atomic<bool> theEndingAsked{false};

}  // namespace

bool EndOnSignals(DWORD threadId, std::function<void(int signal)> onSignal) {
  if (theStarted.exchange(true)) return false;
  const sigset_t set = EndingSignals();
  if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
  try {
    std::thread waiter([set, threadId, onSignal = std::move(onSignal)] {
      bool asked = false;
      for (;;) {
        int signal = 0;
        if (::sigwait(&set, &signal) != 0) continue;
        theEndingAsked = true;
        if (asked || !PostThreadCall(threadId, [onSignal, signal] { onSignal(signal); })) {
          // Asked twice, or nobody is left to ask: the signal's own end.
          ::_exit(128 + signal);
        }
        asked = true;
      }
    });
    // It lives as long as the process: nothing joins it.
    waiter.detach();
  } catch (...) {
    platform::LogFailure("Signals::EndOnSignals");
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    theStarted = false;
    return false;
  }
  return true;
}

bool EndingAsked() { return theEndingAsked; }

}  // namespace platform
