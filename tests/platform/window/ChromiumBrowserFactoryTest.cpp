// The browser's windows on a display (Xvfb; label browser): windows place
// themselves on the screen the display has, not on a desktop of a size of
// its own, so a window placed beside the middle stays on a small screen.
#include "platform/window/ChromiumBrowserFactory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "platform/html/ChromiumBrowser.h"
#include "platform/window/Window.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::ScopedEnv;

TEST(ChromiumBrowserFactoryTest, TheDesktopIsTheDisplaysScreen) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0)
    GTEST_FAIL() << "Xvfb is not installed (build.sh installs Debian package xvfb)";
  ChildProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1000x700x24", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.WaitFor([](const std::string& line) { return !line.empty(); }, 30)) << "Xvfb did not start";
  const ScopedEnv display("DISPLAY", (":" + xvfb.Lines().front()).c_str());
  const ScopedEnv shown("ZORVA_HEADLESS", nullptr);
  ASSERT_TRUE(platform::InstallChromiumBrowser());
  EXPECT_FALSE(platform::chromium::Browser::Shared()->Headless());
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1000);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 700);
  platform::chromium::Browser::ReleaseShared();
}

}  // namespace
