// A page driven for a long time (label browser): every call the program makes
// into a page is a script of its own, and what the page's debugger keeps of
// the scripts that are gone must not grow with the number of calls.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::chromium::Json;
using zorva::test::CompletionCounter;
using zorva::test::PumpMessagesUntil;
using zorva::test::TestBrowser;
using zorva::test::WritePage;

TEST(ChromiumLongPlayTest, TheDebuggerKeepsNoScriptOfAPageCallThatIsGone) {
  zorva_test::TempFolder folder;
  const std::string file = WritePage(folder.Path(), "player.htm", "<body><div id=trackname></div></body>");
  std::string error;
  auto page = platform::ChromiumHtmlDocument::Create(TestBrowser(), &error);
  ASSERT_TRUE(page) << error;
  CompletionCounter host;
  page->SetHost(&host);
  ASSERT_TRUE(page->Navigate(platform::FileUrl(file)));
  ASSERT_TRUE(PumpMessagesUntil([&] { return host.completions == 1; }));

  // Scripts run in the page and left behind, as the program's calls are; a
  // thrown number names its script and keeps nothing of it alive.
  std::vector<std::string> gone;
  for (int i = 0; i < 20; ++i) {
    page->SetElementHtml("trackname", "Track " + std::to_string(i));
    const std::string thrower = "(function () { throw " + std::to_string(i) + "; })()";
    auto reply =
        TestBrowser()->Call("Runtime.evaluate", {{"expression", thrower}, {"silent", true}}, page->SessionId());
    ASSERT_TRUE(reply.ok) << reply.error;
    gone.push_back(reply.result["exceptionDetails"].value("scriptId", ""));
    ASSERT_FALSE(gone.back().empty());
  }
  ASSERT_TRUE(TestBrowser()->Call("HeapProfiler.collectGarbage", Json::object(), page->SessionId()).ok);
  int kept = 0;
  for (const std::string& id : gone) {
    if (TestBrowser()->Call("Debugger.getScriptSource", {{"scriptId", id}}, page->SessionId()).ok) ++kept;
  }
  EXPECT_EQ(kept, 0) << "of " << gone.size() << " scripts that are gone";
  EXPECT_EQ(page->GetElementById("trackname")->GetInnerText(), "Track 19");
}

}  // namespace
