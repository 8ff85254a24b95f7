// A private session bus daemon (dbus-daemon) for a test suite.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace zorva_test {

class BusDaemon {
 public:
  BusDaemon() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
    close(out[0]);
  }
  ~BusDaemon() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace zorva_test
