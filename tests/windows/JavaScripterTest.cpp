#include "windows/JavaScripter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"

namespace {

using platform::MemoryHtmlDocument;
using platform::ScriptArgs;
using platform::ScriptValue;

class CJavaScripterTest : public ::testing::Test {
 protected:
  CJavaScripterTest() {
    page.DefineScriptFunction(
        "twice", [](const ScriptArgs& args) { return ScriptValue(args.at(0).ToText() + args.at(0).ToText()); });
    page.DefineScriptFunction("broken", [](const ScriptArgs&) -> ScriptValue { throw std::runtime_error("error"); });
    page.MarkScriptFunctionMissing("nosuch");
  }

  MemoryHtmlDocument page;
  CJavaScripter scripter;
};

TEST_F(CJavaScripterTest, CallsReachThePageFunctionWithTheirTextsInOrder) {
  ASSERT_TRUE(scripter.SetDocument(&page));
  EXPECT_TRUE(scripter.CallFunction("fadeList"));
  EXPECT_TRUE(scripter.CallFunction("setthetimer", "42"));
  EXPECT_TRUE(scripter.CallScript("join", {"first", "second", "third"}));
  ScriptValue result;
  EXPECT_TRUE(scripter.CallFunction("twice", "ab", &result));
  EXPECT_EQ(result, ScriptValue("abab"));

  const auto& calls = page.ScriptCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].name, "fadeList");
  EXPECT_TRUE(calls[0].args.empty());
  EXPECT_EQ(calls[1].args, ScriptArgs{ScriptValue("42")});
  EXPECT_EQ(calls[2].args, (ScriptArgs{ScriptValue("first"), ScriptValue("second"), ScriptValue("third")}));
  EXPECT_TRUE(scripter.GetLastError().empty());
}

TEST_F(CJavaScripterTest, FailedCallsReturnFalseAndKeepTheReason) {
  ASSERT_TRUE(scripter.SetDocument(&page));
  struct Case {
    const char* function;
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {"nosuch", {}, "JSCall Error:\nUnknown name.\r\n"},
      {"broken", {"1"}, "JSCall Error:\nException occurred.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    ScriptValue result("untouched");
    EXPECT_FALSE(scripter.CallScript(c.function, c.args, &result));
    EXPECT_EQ(scripter.GetLastError(), c.error);
    EXPECT_EQ(result, ScriptValue("untouched"));
    // A later call that works leaves the reason of the last failure.
    EXPECT_TRUE(scripter.CallFunction("fadeList"));
    EXPECT_EQ(scripter.GetLastError(), c.error);
  }
}

TEST_F(CJavaScripterTest, WithoutADocumentNothingIsCalled) {
  EXPECT_FALSE(scripter.CallFunction("fadeList"));
  EXPECT_FALSE(scripter.CallFunction("setthetimer", "42"));
  EXPECT_TRUE(scripter.GetLastError().empty());
  EXPECT_FALSE(scripter.CallScript("fadeList", {}));
  EXPECT_EQ(scripter.GetLastError(), "JSCall Error:\nCannot GetScript");
  platform::HtmlDocument* script = &page;
  EXPECT_FALSE(scripter.GetScript(&script));
  EXPECT_EQ(scripter.GetLastError(), "JSCall Error:\nNULL pointer");

  ASSERT_TRUE(scripter.SetDocument(&page));
  EXPECT_FALSE(scripter.SetDocument(nullptr));
  EXPECT_EQ(scripter.GetLastError(), "JSCall Error:\nNULL pointer");
  // The page handed over before stays.
  EXPECT_TRUE(scripter.CallFunction("fadeList"));
  EXPECT_EQ(page.ScriptCalls().size(), 1u);
}

}  // namespace
