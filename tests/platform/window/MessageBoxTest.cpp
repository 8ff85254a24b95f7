#include "platform/window/MessageBox.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageBoxTest, DefaultAnswerFollowsButtonsAndDefaultFlag) {
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_OK), IDOK);
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_RETRYCANCEL | MB_ICONERROR), IDRETRY);
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_RETRYCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  // A default button beyond those offered falls back to the first.
  EXPECT_EQ(platform::DefaultMessageBoxAnswer(MB_OK | MB_DEFBUTTON3), IDOK);
  EXPECT_EQ(platform::MessageBoxButtons(MB_YESNO), (std::vector<int>{IDYES, IDNO}));
}

TEST(MessageBoxTest, ScriptedPresenterAnswersInOrderAndRecords) {
  platform::ScriptedMessageBoxPresenter presenter;
  platform::ScopedMessageBoxPresenter scope(presenter);
  presenter.QueueAnswer(IDNO);
  presenter.QueueAnswer(IDCANCEL);

  EXPECT_EQ(MessageBox(nullptr, "first?", "One", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBox(nullptr, "second", "Two", MB_RETRYCANCEL | MB_ICONERROR), IDCANCEL);
  // Queue used up: the default button.
  EXPECT_EQ(MessageBox(nullptr, "third", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO);

  const auto questions = presenter.Questions();
  ASSERT_EQ(questions.size(), 3u);
  EXPECT_EQ(questions[0].text, "first?");
  EXPECT_EQ(questions[0].caption, "One");
  EXPECT_EQ(questions[0].type, MB_YESNO);
  EXPECT_EQ(questions[1].type, MB_RETRYCANCEL | MB_ICONERROR);
  EXPECT_EQ(questions[2].caption, "Error");
}

}  // namespace
