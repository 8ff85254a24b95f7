// A window's page in unit tests, where every window shows its page in a
// platform::MemoryHtmlDocument: events fired on its elements and the page
// functions the program asked it to run.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"

namespace zorva_test {

inline platform::MemoryHtmlDocument& MemoryPageOf(const CDHtmlDialog& window) {
  return *static_cast<platform::MemoryHtmlDocument*>(window.GetDocument());
}

// A click (or another event) on the element; true when its default action went ahead.
inline bool FireOn(const CDHtmlDialog& window, const platform::HtmlElementPtr& element,
                   const std::string& type = "click") {
  EXPECT_TRUE(element) << type;
  return element && window.GetDocument()->FireEvent(platform::HtmlEvent{type, element});
}

enum class CallShown { NameOnly, WithFirstArgument };

// The page functions called since the last look, as "name" or "name(first
// argument)"; the page then forgets them.
inline std::vector<std::string> TakeScriptCalls(platform::MemoryHtmlDocument& page,
                                                CallShown shown = CallShown::WithFirstArgument) {
  std::vector<std::string> names;
  for (const auto& call : page.ScriptCalls()) {
    const bool argument = shown == CallShown::WithFirstArgument && !call.args.empty();
    names.push_back(call.name + (argument ? "(" + call.args.front().ToText() + ")" : ""));
  }
  page.ClearScriptCalls();
  return names;
}

}  // namespace zorva_test
