// The desktop API's modal message box. This platform shows no dialog of its
// own: a presenter answers each question. The default presenter writes the
// question to stderr, reads the answer from the terminal when there is one and
// otherwise answers at once with the button that acts on nothing (No,
// Cancel; OK alone), so it never blocks a run
// without a user. Tests install a ScriptedMessageBoxPresenter.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/WinTypes.h"

// Buttons.
constexpr UINT MB_OK = 0x00000000u;
constexpr UINT MB_OKCANCEL = 0x00000001u;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002u;
constexpr UINT MB_YESNOCANCEL = 0x00000003u;
constexpr UINT MB_YESNO = 0x00000004u;
constexpr UINT MB_RETRYCANCEL = 0x00000005u;
constexpr UINT MB_TYPEMASK = 0x0000000Fu;
// Icons.
constexpr UINT MB_ICONHAND = 0x00000010u;
constexpr UINT MB_ICONQUESTION = 0x00000020u;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030u;
constexpr UINT MB_ICONASTERISK = 0x00000040u;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0u;
// Default button.
constexpr UINT MB_DEFBUTTON1 = 0x00000000u;
constexpr UINT MB_DEFBUTTON2 = 0x00000100u;
constexpr UINT MB_DEFBUTTON3 = 0x00000200u;
constexpr UINT MB_DEFMASK = 0x00000F00u;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Asks the question through the installed presenter and returns its answer
// (one of the buttons that `type` offers). Callable from any thread.
int MessageBox(HWND owner, const char* text, const char* caption, UINT type);

namespace platform {

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  virtual int Present(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
};

// Installs `presenter`; nullptr puts the default presenter back.
void InstallMessageBoxPresenter(MessageBoxPresenter* presenter);

// True while a question waits for its answer in a message loop of its own,
// where the program's messages and posted calls go on.
bool QuestionWaits();

// The buttons that `type` offers, in their order on the box.
std::vector<int> MessageBoxButtons(UINT type);
// The answer of the default button of `type` (MB_DEFBUTTONn; the first button
// when n is beyond the buttons offered).
int DefaultMessageBoxAnswer(UINT type);

// Answers from a queue given in advance and records every question. With the
// queue empty it answers the default button. An answer that `type` does not
// offer is handed back as it is, so tests see what they scripted.
class ScriptedMessageBoxPresenter final : public MessageBoxPresenter {
 public:
  struct Question {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
  };

  void QueueAnswer(int answer);
  std::vector<Question> Questions();
  int Present(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

 private:
  std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<Question> questions_;
};

// Installs a presenter for the life of the guard (tests).
class ScopedMessageBoxPresenter {
 public:
  explicit ScopedMessageBoxPresenter(MessageBoxPresenter& presenter) { InstallMessageBoxPresenter(&presenter); }
  ~ScopedMessageBoxPresenter() { InstallMessageBoxPresenter(nullptr); }
  ScopedMessageBoxPresenter(const ScopedMessageBoxPresenter&) = delete;
  ScopedMessageBoxPresenter& operator=(const ScopedMessageBoxPresenter&) = delete;
};

}  // namespace platform
