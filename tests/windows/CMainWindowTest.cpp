#include "windows/MainWindow.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"
#include "platform/kernel/Clock.h"
#include "platform/profile/Profile.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::HtmlEvent;
using platform::MemoryHtmlDocument;

// 200 x 160 dialog units: 300 x 260 pixels.
const DialogTemplate kToolTemplate{106, 0, 0, 200, 160, WS_POPUP | WS_CAPTION | WS_THICKFRAME, 0};
// 256 x 266 dialog units: 384 x 432 pixels.
const DialogTemplate kMainTemplate{102, 0, 0, 256, 266, WS_POPUP | WS_VISIBLE, WS_EX_APPWINDOW};

const char kToolPage[] =
    "<html><body id='Automator'>"
    "<div class='top'><a id='ButtonOK' href='#'>X</a></div>"
    "<div id='grid'><span id='label'>label</span></div><img id='picture'>"
    "<input type='text' id='field'><textarea id='notes'></textarea>"
    "<p id='marker'>original</p>"
    "<a id='other' href='Other.htm'>other</a><a id='hash' href='#'>hash</a>"
    "<a id='remote' href='http://example.com/Tool.htm'>remote</a><a id='sub' href='sub/Tool.htm'>sub</a>"
    "<a id='ButtonCancel' href='#'>Close</a>"
    "</body></html>";

FramelessWindowConfig ToolConfig() {
  FramelessWindowConfig config;
  config.pageFile = "Tool.htm";
  config.placementValue = "Automator";
  config.defaultPosition = FramelessWindowConfig::BesideCentre(-3, -5, -50);
  return config;
}

class ToolWindow : public CFramelessHtmlWindow {
 public:
  explicit ToolWindow(FramelessWindowConfig config = ToolConfig(), CWnd* parent = nullptr)
      : CFramelessHtmlWindow(std::move(config), kToolTemplate, 107, parent) {}

  std::vector<int> keys;
  int documents = 0;
  platform::ScriptDispatch* dispatch = nullptr;

  MemoryHtmlDocument& Page() { return *dynamic_cast<MemoryHtmlDocument*>(GetDocument()); }
  bool Fire(const std::string& type, const std::string& id) {
    return Page().FireEvent(HtmlEvent{type, GetElement(id)});
  }
  void Press(int key) {
    ::PostMessage(GetBrowserWindow(), WM_KEYDOWN, static_cast<WPARAM>(key), 0);
    platform::PumpWindowMessages();
  }
  void OnDocumentComplete(const std::string&) override { ++documents; }

  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap() {
    static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                   {DHtmlEvent("keydown", "field", &ToolWindow::OnFieldKey)});
    return map;
  }

 protected:
  platform::ScriptDispatch* GetPageDispatch() override { return dispatch; }
  HRESULT OnFieldKey(platform::HtmlElement&) {
    keys.push_back(GetEvent()->keyCode);
    return S_OK;
  }
};

class TestMainWindow : public CMainWindow {
 public:
  TestMainWindow() : CMainWindow(MainConfig(), kMainTemplate, 104) {}

  static FramelessWindowConfig MainConfig() {
    FramelessWindowConfig config;
    config.pageFile = "Zorva.htm";
    config.placementValue = "Player";
    config.placement = FramelessWindowConfig::Placement::RestoreShown;
    return config;
  }

  void PlayNext() override {}
  void OnTrackPlaying(const Track&) override {}
  void SetScanStatus(const std::string&) override {}

  bool shownWhenRunning = false;
  bool minimisedWhenRunning = true;

  BOOL OnInitDialog() override {
    CMainWindow::OnInitDialog();
    SetTimer(1, 500);
    return TRUE;
  }

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap() {
    static const MessageMap map(&CMainWindow::ThisMessageMap(), {OnWmTimer(&TestMainWindow::OnTimer)});
    return map;
  }

 protected:
  void OnTimer(UINT_PTR id) {
    KillTimer(id);
    shownWhenRunning = IsWindowVisible();
    minimisedWhenRunning = IsIconic();
    OnPlayerQuit();
  }
};

class CMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldConfig_ = old;
    ::setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
    platform::SetDesktopSize(1920, 1080);
    CFramelessHtmlWindow::SetPageFolder(folder_.Path());
    CWndShadow::Initialize(GetModuleHandle(nullptr));
    std::ofstream(folder_.File("Tool.htm")) << kToolPage;
    std::ofstream(folder_.File("Other.htm")) << "<p id='elsewhere'></p>";
    std::ofstream(folder_.File("Zorva.htm")) << "<p id='albumname'></p>";
    std::filesystem::create_directories(std::filesystem::path(folder_.Path()) / "sub");
    std::ofstream(folder_.File("sub/Tool.htm")) << "<p id='elsewhere'></p>";
  }
  void TearDown() override {
    CFramelessHtmlWindow::SetPageFolder("");
    if (oldConfig_.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    }
    platform::ReloadProfile();
  }

  static void StorePlacement(const char* value, UINT showCmd, RECT normal, std::size_t bytes = 44) {
    WINDOWPLACEMENT placement{44, 0, showCmd, {-1, -1}, {-1, -1}, normal};
    std::vector<BYTE> data(bytes, 0);
    std::memcpy(data.data(), &placement, std::min(bytes, sizeof placement));
    WriteProfileBinary("Position", value, data.data(), static_cast<UINT>(data.size()));
  }

  static RECT Rect(const CWnd& window) {
    RECT rect{};
    window.GetWindowRect(&rect);
    return rect;
  }

  zorva_test::TempFolder folder_;
  std::string oldConfig_;
};

TEST_F(CMainWindowTest, StoredPlacementKeepsItsTopLeftCornerAndTakesTheCurrentSize) {
  for (RECT stored : {RECT{100, 120, 900, 1000}, RECT{100, 120, 150, 130}}) {
    StorePlacement("Automator", SW_SHOWNORMAL, stored);
    ToolWindow window;
    ASSERT_TRUE(window.Create(CWnd::GetDesktopWindow()));
    const RECT rect = Rect(window);
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 120);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_EQ(rect.bottom - rect.top, 260);
  }
}

TEST_F(CMainWindowTest, ToolWindowIsNeverShownAtStart) {
  for (UINT stored : {SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED}) {
    StorePlacement("Automator", stored, RECT{10, 10, 310, 270});
    ToolWindow window;
    ASSERT_TRUE(window.Create());
    EXPECT_FALSE(window.IsWindowVisible()) << stored;
    EXPECT_FALSE(window.IsZoomed()) << stored;
    EXPECT_FALSE(window.IsIconic()) << stored;
  }
}

TEST_F(CMainWindowTest, MissingOrWrongLengthPlacementGivesTheDefaultPosition) {
  for (std::size_t bytes : {std::size_t{0}, std::size_t{43}, std::size_t{45}}) {
    if (bytes) StorePlacement("Automator", SW_SHOWNORMAL, RECT{100, 120, 400, 380}, bytes);
    ToolWindow window;
    ASSERT_TRUE(window.Create());
    const RECT rect = Rect(window);
    // left = 1920 / 2 - (300 * 3) / 2 - 5, top = 1080 / 2 - 260 / 2 - 50.
    EXPECT_EQ(rect.left, 505) << bytes;
    EXPECT_EQ(rect.top, 360) << bytes;
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_FALSE(window.IsWindowVisible());
  }
}

TEST_F(CMainWindowTest, DefaultPositionsStayOnTheDesktop) {
  const auto left = FramelessWindowConfig::BesideCentre(-3, -5, -50);
  const POINT clamped = left(SIZE{800, 600}, SIZE{700, 700});
  EXPECT_EQ(clamped.x, 0);
  EXPECT_EQ(clamped.y, 0);
  const auto right = FramelessWindowConfig::BesideCentre(1, 5, -50, true);
  EXPECT_EQ(right(SIZE{1920, 1080}, SIZE{300, 260}).x, 960 + 150 + 5);
  EXPECT_EQ(right(SIZE{1000, 1080}, SIZE{600, 260}).x, 400);
}

TEST_F(CMainWindowTest, LargerStoredSizeStaysWhenTheWindowKeepsIt) {
  StorePlacement("Lab", SW_SHOWNORMAL, RECT{50, 60, 850, 160});
  FramelessWindowConfig config = ToolConfig();
  config.placementValue = "Lab";
  config.keepLargerStoredSize = true;
  config.resizable = true;
  ToolWindow window(config);
  ASSERT_TRUE(window.Create());
  const RECT rect = Rect(window);
  EXPECT_EQ(rect.right - rect.left, 800);  // stored width is larger
  EXPECT_EQ(rect.bottom - rect.top, 260);  // stored height is smaller
  EXPECT_EQ(window.GetStyle() & WS_CAPTION, 0u);
  EXPECT_NE(window.GetStyle() & WS_THICKFRAME, 0u);
}

TEST_F(CMainWindowTest, PlacementIsStoredWhenTheWindowGoes) {
  {
    ToolWindow window;
    ASSERT_TRUE(window.Create());
    window.MoveWindow(70, 80, 300, 260);
    window.ShowWindow(SW_SHOW);
  }
  std::vector<BYTE> data;
  ASSERT_TRUE(GetProfileBinary("Position", "Automator", data));
  ASSERT_EQ(data.size(), 44u);
  WINDOWPLACEMENT placement{};
  std::memcpy(&placement, data.data(), sizeof placement);
  EXPECT_EQ(placement.length, 44u);
  EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_EQ(placement.rcNormalPosition.left, 70);
  EXPECT_EQ(placement.rcNormalPosition.bottom, 340);
}

TEST_F(CMainWindowTest, FrameIsRemovedAndOnlyTheBottomCornersAreRound) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_EQ(window.GetStyle() & (WS_CAPTION | WS_THICKFRAME), 0u);
  CRgn region;
  region.CreateRectRgn(0, 0, 1, 1);
  ASSERT_EQ(window.GetWindowRgn(region), COMPLEXREGION);
  EXPECT_TRUE(region.PtInRegion(0, 0));
  EXPECT_TRUE(region.PtInRegion(299, 0));
  EXPECT_FALSE(region.PtInRegion(0, 259));
  EXPECT_FALSE(region.PtInRegion(299, 259));
  EXPECT_TRUE(region.PtInRegion(150, 259));
  EXPECT_TRUE(window.GetDocument()->IsSilent());
  ASSERT_EQ(theShadowMap.count(window.m_hWnd), 1u);
  EXPECT_EQ(GetWindow(window.GetShadow().GetShadowWindow(), GW_OWNER), window.m_hWnd);
}

TEST_F(CMainWindowTest, EnterReachesThePageWhileEscapeAndF5AreSwallowed) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  window.ShowWindow(SW_SHOW);
  window.Page().Focus(window.GetElement("field"));
  const int documents = window.documents;

  window.Press(VK_RETURN);
  EXPECT_EQ(window.keys, std::vector<int>{VK_RETURN});
  EXPECT_TRUE(window.IsWindowVisible());

  window.SetElementText("marker", "changed");
  window.Press(VK_ESCAPE);
  window.Press(VK_F5);
  EXPECT_TRUE(window.IsWindowVisible());
  EXPECT_EQ(window.GetElementText("marker"), "changed");
  EXPECT_EQ(window.documents, documents);
  EXPECT_EQ(window.keys.size(), 1u);
}

TEST_F(CMainWindowTest, WithoutTheKeyFilterEscapeClosesTheWindow) {
  FramelessWindowConfig config = ToolConfig();
  config.keyFilter = false;
  ToolWindow window(config);
  ASSERT_TRUE(window.Create());
  window.ShowWindow(SW_SHOW);
  window.Press(VK_ESCAPE);
  EXPECT_FALSE(window.IsWindowVisible());
}

TEST_F(CMainWindowTest, DragOnAnyNonTextElementStartsAWindowDrag) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(window.Fire("selectstart", "label"));
  // A drag is no news: standard error stays quiet.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(platform::WindowMoveRequests(window.m_hWnd), 1);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(window.Fire("dragstart", "picture"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(platform::WindowMoveRequests(window.m_hWnd), 2);

  EXPECT_TRUE(window.Fire("selectstart", "field"));
  EXPECT_TRUE(window.Fire("dragstart", "notes"));
  EXPECT_EQ(platform::WindowMoveRequests(window.m_hWnd), 2);
}

TEST_F(CMainWindowTest, RightClickShowsNoMenuExceptInTextFields) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(window.Fire("contextmenu", "grid"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(window.Fire("contextmenu", "picture"));
  EXPECT_EQ(window.Page().ContextMenusShown(), 0);
  EXPECT_TRUE(window.Fire("contextmenu", "notes"));
  EXPECT_EQ(window.Page().ContextMenusShown(), 1);
  EXPECT_EQ(platform::WindowMoveRequests(window.m_hWnd), 0);
}

TEST_F(CMainWindowTest, LinksToOtherPagesOrToAnAnchorLeaveThePageAsItWas) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  const std::string url = window.GetCurrentUrl();
  EXPECT_EQ(url, CFramelessHtmlWindow::PageUrl("Tool.htm"));
  window.SetElementText("marker", "changed");
  const int documents = window.documents;
  for (const char* link : {"other", "hash", "remote", "sub"}) {
    window.Fire("click", link);
    EXPECT_EQ(window.GetCurrentUrl(), url) << link;
    EXPECT_EQ(window.GetElementText("marker"), "changed") << link;
  }
  EXPECT_EQ(window.documents, documents);

  window.Navigate(CFramelessHtmlWindow::PageUrl("Tool.htm"));  // its own page loads
  EXPECT_EQ(window.documents, documents + 1);
  EXPECT_EQ(window.GetElementText("marker"), "original");
}

TEST_F(CMainWindowTest, OnlyThePageFileItselfPassesTheNavigationFilter) {
  const std::string folder = CFramelessHtmlWindow::GetPageFolder();
  EXPECT_TRUE(CFramelessHtmlWindow::IsPageNavigation("file://" + folder + "Tool.htm", "Tool.htm"));
  EXPECT_TRUE(CFramelessHtmlWindow::IsPageNavigation("file://" + folder + "sub/../Tool.htm", "Tool.htm"));
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("file://" + folder + "Tool.htm#", "Tool.htm"));
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("file://" + folder + "Other.htm", "Tool.htm"));
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("http://example.com/Tool.htm", "Tool.htm"));
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("file:///elsewhere/Tool.htm", "Tool.htm"));
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("Tool.htm", "Tool.htm"));
  // The same path on another machine is not the page.
  EXPECT_FALSE(CFramelessHtmlWindow::IsPageNavigation("file://server" + folder + "Tool.htm", "Tool.htm"));
  EXPECT_TRUE(CFramelessHtmlWindow::IsPageNavigation("file://localhost" + folder + "Tool.htm", "Tool.htm"));
}

TEST_F(CMainWindowTest, PageFolderWithAHashInItsNameStillShowsThePage) {
  const std::filesystem::path folder = std::filesystem::path(folder_.Path()) / "C# tools";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(folder_.File("Tool.htm"), folder / "Tool.htm");
  CFramelessHtmlWindow::SetPageFolder(folder.string());
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  ASSERT_NE(window.GetElement("marker"), nullptr);
  window.SetElementText("marker", "changed");
  window.Fire("click", "hash");  // a "#" link still leaves the page as it is
  EXPECT_EQ(window.GetElementText("marker"), "changed");
  EXPECT_EQ(window.GetCurrentUrl(), CFramelessHtmlWindow::PageUrl("Tool.htm"));
}

TEST_F(CMainWindowTest, StoredPlacementWithAStrayLengthFieldIsStillRestored) {
  WINDOWPLACEMENT placement{0, 0, SW_SHOWNORMAL, {-1, -1}, {-1, -1}, RECT{100, 120, 400, 380}};
  WriteProfileBinary("Position", "Automator", reinterpret_cast<const BYTE*>(&placement), sizeof placement);
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_EQ(Rect(window).left, 100);
  EXPECT_EQ(Rect(window).top, 120);
  EXPECT_FALSE(window.IsWindowVisible());
}

TEST_F(CMainWindowTest, FrameGoesBeforeTheShadowSoCompositionLeavesTheShadowOn) {
  // The template has a caption; the set-up takes it away before the shadow
  // is attached, so the shadow is not turned off by desktop composition.
  platform::SetDesktopComposition(true);
  platform::PumpWindowMessages();
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_EQ(window.GetShadow().GetStatus() & CWndShadow::DisabledByComposition, 0);
  EXPECT_NE(window.GetShadow().GetStatus() & CWndShadow::ShadowEnabled, 0);
  platform::SetDesktopComposition(false);
  platform::PumpWindowMessages();
}

TEST_F(CMainWindowTest, MainWindowShownAtSetUpDrawsItsShadowFromTheRoundedRegion) {
  StorePlacement("Player", SW_SHOWNORMAL, RECT{40, 50, 60, 70});
  TestMainWindow window;
  ASSERT_TRUE(window.Create());
  ASSERT_TRUE(window.IsWindowVisible());
  const auto surface = platform::GetLayeredSurface(window.GetShadow().GetShadowWindow());
  ASSERT_TRUE(surface.has_value());
  EXPECT_EQ(surface->position.x, 45);
  EXPECT_EQ(surface->position.y, 55);
  // The region is cut before the shadow is drawn: the shadow's image is that
  // of the rounded window, which differs from a square one's at the corners.
  CRgn square;
  square.CreateRectRgn(0, 0, 384, 432);
  std::vector<std::uint32_t> bits(384u * 432u, 0);
  CWndShadow::MakeShadow(bits.data(), square, 384, 432, CWndShadow::Parameters{});
  CRgn round;
  round.CreateRoundRectRgn(0, -30, 384, 432, 20, 20);
  std::vector<std::uint32_t> rounded(384u * 432u, 0);
  CWndShadow::MakeShadow(rounded.data(), round, 384, 432, CWndShadow::Parameters{});
  EXPECT_NE(bits, rounded);
  EXPECT_EQ(surface->pixels, rounded);
}

TEST_F(CMainWindowTest, CloseButtonsHideTheWindow) {
  ToolWindow window;
  ASSERT_TRUE(window.Create());
  for (const char* button : {"ButtonOK", "ButtonCancel"}) {
    window.ShowWindow(SW_SHOW);
    window.Fire("click", button);
    EXPECT_FALSE(window.IsWindowVisible()) << button;
    EXPECT_TRUE(IsWindow(window.m_hWnd));
  }
}

TEST_F(CMainWindowTest, PageScriptReachesTheWindowsDispatch) {
  platform::ScriptDispatch sink;
  sink.AddMethod("EditInPlaceUpdate", {platform::ScriptType::Text, platform::ScriptType::Text},
                 [](const platform::ScriptArgs& args) { return platform::ScriptValue(args[0].ToText() + "!"); });
  ToolWindow window;
  window.dispatch = &sink;
  ASSERT_TRUE(window.Create());
  platform::ScriptValue result;
  ASSERT_EQ(window.Page().CallExternal("EditInPlaceUpdate", {"currentmixname", "x"}, &result), S_OK);
  EXPECT_EQ(result.ToText(), "currentmixname!");
}

TEST_F(CMainWindowTest, PlayerQuitEndsTheModalMainWindowWithOk) {
  platform::ManualClock clock;
  platform::ScopedClock installed(clock);
  clock.SetAutoAdvance(true);
  StorePlacement("Player", SW_SHOWMINIMIZED, RECT{40, 50, 60, 70});
  TestMainWindow window;
  EXPECT_EQ(window.DoModal(), IDOK);
  EXPECT_TRUE(window.shownWhenRunning);
  EXPECT_FALSE(window.minimisedWhenRunning);

  std::vector<BYTE> data;
  ASSERT_TRUE(GetProfileBinary("Position", "Player", data));
  ASSERT_EQ(data.size(), 44u);
  WINDOWPLACEMENT placement{};
  std::memcpy(&placement, data.data(), sizeof placement);
  EXPECT_EQ(placement.rcNormalPosition.left, 40);
  EXPECT_EQ(placement.rcNormalPosition.top, 50);
  EXPECT_EQ(placement.rcNormalPosition.right, 40 + 384);
  EXPECT_EQ(placement.rcNormalPosition.bottom, 50 + 432);
}

TEST_F(CMainWindowTest, MainWindowComesBackMaximisedWhenStoredSo) {
  StorePlacement("Player", SW_SHOWMAXIMIZED, RECT{40, 50, 60, 70});
  TestMainWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_TRUE(window.IsWindowVisible());
  EXPECT_TRUE(window.IsZoomed());
  WINDOWPLACEMENT placement{};
  window.GetWindowPlacement(&placement);
  EXPECT_EQ(placement.rcNormalPosition.left, 40);
  EXPECT_EQ(placement.rcNormalPosition.right, 40 + 384);
}

TEST_F(CMainWindowTest, OwnedWindowsGoWithTheirOwner) {
  TestMainWindow main;
  ASSERT_TRUE(main.Create());
  FramelessWindowConfig statusConfig = ToolConfig();
  statusConfig.placementValue.clear();
  ToolWindow status(statusConfig, &main);
  ASSERT_TRUE(status.Create(&main));
  const HWND statusShadow = status.GetShadow().GetShadowWindow();
  ASSERT_TRUE(IsWindow(statusShadow));
  EXPECT_EQ(theShadowMap.size(), 2u);

  main.DestroyWindow();
  EXPECT_EQ(status.m_hWnd, nullptr);
  EXPECT_FALSE(IsWindow(statusShadow));
  EXPECT_TRUE(theShadowMap.empty());
}

}  // namespace
