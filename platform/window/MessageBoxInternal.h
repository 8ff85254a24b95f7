// Between the message box and the presenters of the window layer.
#pragma once

#include "platform/window/MessageBox.h"

namespace platform {

// The presenter for a desktop with a display: used when no presenter is
// installed; null goes back to the console.
void SetDesktopMessageBoxPresenter(MessageBoxPresenter* presenter);
// Asks on standard error and the terminal (no terminal: the refusal).
MessageBoxPresenter& ConsoleMessageBoxPresenter();
// The label of an answer's button ("Yes").
const char* MessageBoxButtonName(int answer);

// Counts a question as waiting, for QuestionWaits, while it lives.
class WaitingQuestion {
 public:
  WaitingQuestion();
  ~WaitingQuestion();
  WaitingQuestion(const WaitingQuestion&) = delete;
  WaitingQuestion& operator=(const WaitingQuestion&) = delete;
};

}  // namespace platform
