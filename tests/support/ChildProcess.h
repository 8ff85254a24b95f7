// A child process of a test, with its standard input and output on pipes:
// a program run on the scripted desktop, or a command of the player stand-in.
#pragma once

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/kernel/UniqueFd.h"

extern char** environ;

namespace zorva_test {

// A child process with its standard input and output on pipes.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0) return;
    platform::UniqueFd inRead(in[0]);
    platform::UniqueFd inWrite(in[1]);
    if (::pipe(out) != 0) return;
    platform::UniqueFd outRead(out[0]);
    platform::UniqueFd outWrite(out[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    toChild_ = std::move(inWrite);
    fromChild_ = std::move(outRead);
  }
  ~ChildProcess() {
    toChild_.Reset();
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    // fromChild_ closes after: the child may write until it is gone.
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }
  bool Send(const std::string& text) {
    return ::write(toChild_.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  bool SendLine(const std::string& line) { return Send(line + "\n"); }
  // Reads output until a line for which `wanted` holds, for at most
  // `seconds`; every line read is kept in Lines().
  bool WaitFor(const std::function<bool(const std::string&)>& wanted, int seconds = 60) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (std::size_t checked = lines_.size();;) {
      for (; checked < lines_.size(); ++checked) {
        if (wanted(lines_[checked])) return true;
      }
      if (std::chrono::steady_clock::now() >= deadline || !ReadSome(200)) return false;
    }
  }
  bool WaitForLine(const std::string& line, int seconds = 60) {
    return WaitFor([&](const std::string& read) { return read == line; }, seconds);
  }
  // Sends `commands` (lines) and a sync; the lines the program wrote before
  // the sync's answer.
  std::vector<std::string> Ask(const std::string& commands = "") {
    const std::string token = "sync " + std::to_string(++syncs_);
    const std::size_t from = lines_.size();
    if (!Send(commands + token + "\n") || !WaitForLine(token)) {
      ADD_FAILURE() << "no answer to " << commands;
      return {};
    }
    std::vector<std::string> answer(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end());
    answer.pop_back();
    return answer;
  }
  // Waits for the process to end, sending `input` now and then (a program
  // on the scripted desktop needs its clock moved to get on); its exit code,
  // -1 when it was killed or did not end within `seconds`.
  int Wait(const std::string& input = "", int seconds = 60) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      if (!input.empty()) Send(input);
      ReadSome(100);  // keeps the pipe drained while it ends
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Sends a sync and waits until the program has handled everything before it.
  bool Sync() {
    const std::string token = "sync " + std::to_string(++syncs_);
    return SendLine(token) && WaitForLine(token);
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Every line read so far, each ending in a line feed.
  std::string Output() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  // False at the end of the output.
  bool ReadSome(int timeoutMs) {
    pollfd fd{fromChild_.Get(), POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(fromChild_.Get(), buffer, sizeof buffer);
    if (got <= 0) return got != 0;
    pending_.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
      lines_.push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    return true;
  }

  pid_t pid_ = -1;
  platform::UniqueFd toChild_;
  platform::UniqueFd fromChild_;
  bool exited_ = false;
  int syncs_ = 0;
  std::string pending_;
  std::vector<std::string> lines_;
};

// Everything a program writes on standard output, once it has ended ("" when
// it cannot be run).
inline std::string RunToEnd(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  if (!child.Started()) return "";
  child.WaitFor([](const std::string&) { return false; }, 20);  // reads until the output ends
  child.Wait();
  return child.Output();
}

// Waits for `done`, up to `seconds` of real time: other processes at work
// (a desktop, a program starting) that no clock of the test's can move.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // polling other processes
  }
  return true;
}

}  // namespace zorva_test
