#include "platform/window/MessageBox.h"
#include "platform/window/MessageBoxInternal.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <iostream>

namespace platform {
namespace {

// The console presenter: the question on stderr, the answer from the terminal.
class ConsolePresenter final : public MessageBoxPresenter {
 public:
  int Present(HWND, const std::string& text, const std::string& caption, UINT type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<int> buttons = MessageBoxButtons(type);
    const int fallback = DefaultMessageBoxAnswer(type);
    std::string choices;
    for (int b : buttons) {
      if (!choices.empty()) choices += '/';
      choices += MessageBoxButtonName(b);
    }
    std::cerr << "[" << caption << "] " << text << "\n";
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) {
      // Nobody can be asked: take the answer that sets nothing in motion
      // (No, Cancel), never a Yes that would act on the user's behalf.
      const int refusal = buttons.back();
      std::cerr << "(" << choices << ") -> " << MessageBoxButtonName(refusal) << "\n" << std::flush;
      return refusal;
    }
    for (;;) {
      std::cerr << "(" << choices << ", Enter for " << MessageBoxButtonName(fallback) << ") " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line) || line.empty()) return fallback;
      const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
      for (int b : buttons) {
        if (std::tolower(static_cast<unsigned char>(MessageBoxButtonName(b)[0])) == first) return b;
      }
    }
  }

 private:
  std::mutex mutex_;
};

ConsolePresenter& Console() {
  static ConsolePresenter console;
  return console;
}

std::atomic<MessageBoxPresenter*> installed{nullptr};
std::atomic<MessageBoxPresenter*> desktop{nullptr};
std::atomic<int> waitingQuestions{0};

}  // namespace

WaitingQuestion::WaitingQuestion() { ++waitingQuestions; }

WaitingQuestion::~WaitingQuestion() { --waitingQuestions; }

bool QuestionWaits() { return waitingQuestions > 0; }

MessageBoxPresenter& ConsoleMessageBoxPresenter() { return Console(); }

const char* MessageBoxButtonName(int answer) {
  switch (answer) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDABORT:
      return "Abort";
    case IDRETRY:
      return "Retry";
    case IDIGNORE:
      return "Ignore";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    default:
      return "?";
  }
}

void InstallMessageBoxPresenter(MessageBoxPresenter* presenter) { installed.store(presenter); }

void SetDesktopMessageBoxPresenter(MessageBoxPresenter* presenter) { desktop.store(presenter); }

std::vector<int> MessageBoxButtons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

int DefaultMessageBoxAnswer(UINT type) {
  const std::vector<int> buttons = MessageBoxButtons(type);
  const std::size_t index = (type & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

void ScriptedMessageBoxPresenter::QueueAnswer(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(answer);
}

std::vector<ScriptedMessageBoxPresenter::Question> ScriptedMessageBoxPresenter::Questions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return questions_;
}

int ScriptedMessageBoxPresenter::Present(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  std::lock_guard<std::mutex> lock(mutex_);
  questions_.push_back({owner, text, caption, type});
  if (answers_.empty()) return DefaultMessageBoxAnswer(type);
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

}  // namespace platform

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  platform::MessageBoxPresenter* presenter = platform::installed.load();
  if (presenter == nullptr) presenter = platform::desktop.load();
  if (presenter == nullptr) presenter = &platform::Console();
  return presenter->Present(owner, text ? text : "", caption ? caption : "Error", type);
}
