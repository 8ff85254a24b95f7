// The notification area on a session bus of the test's own: a watcher and a
// notification service of the test's stand for the desktop's, and read the
// icon, its menu and its balloons as a desktop would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/tray/Tray.h"
#include "tests/platform/tray/BusDaemon.h"

namespace {

using zorva_test::BusDaemon;
namespace tray = platform::tray;
using Clock = std::chrono::steady_clock;

// The desktop's side: a StatusNotifierWatcher and, when asked, the
// notification service, on one connection.
class Desktop {
 public:
  Desktop(bool watcher, bool notifications) {
    if (sd_bus_open_user(&bus_) < 0) return;
    sd_bus_add_match(bus_, nullptr, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'",
                     OnNameOwnerChanged, this);
    sd_bus_add_match(bus_, nullptr, "type='signal',interface='org.kde.StatusNotifierItem',member='NewStatus'",
                     OnNewStatus, this);
    sd_bus_add_object_vtable(bus_, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", kWatcher, this);
    sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                             kNotifications, this);
    if (watcher) StartWatcher();
    if (notifications) sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0);
  }
  ~Desktop() { sd_bus_flush_close_unref(bus_); }

  void StartWatcher() { ASSERT_GE(sd_bus_request_name(bus_, "org.kde.StatusNotifierWatcher", 0), 0); }

  // Serves the bus until `done` holds, for at most ten seconds.
  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      while (sd_bus_process(bus_, nullptr) > 0) {}
      if (done()) return true;
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      sd_bus_wait(bus_,
                  static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(left).count()));
    }
  }

  // A text or object-path property of the item.
  std::string Property(const char* name) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    char type = 0;
    const char* value = nullptr;
    std::string result = "<none>";
    if (sd_bus_call_method(bus_, items_.at(0).c_str(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                           &error, &reply, "ss", "org.kde.StatusNotifierItem", name) >= 0 &&
        sd_bus_message_enter_container(reply, 'v', nullptr) >= 0 &&
        sd_bus_message_peek_type(reply, &type, nullptr) > 0 && (type == 's' || type == 'o') &&
        sd_bus_message_read_basic(reply, type, &value) > 0) {
      result = std::string(type == 'o' ? "path " : "") + value;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return result;
  }
  // The title the tooltip shows.
  std::string ToolTipTitle() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const char* icon = nullptr;
    const char* title = nullptr;
    const char* text = nullptr;
    std::string result = "<none>";
    if (sd_bus_get_property(bus_, items_.at(0).c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ToolTip",
                            &error, &reply, "(sa(iiay)ss)") >= 0 &&
        sd_bus_message_enter_container(reply, 'r', "sa(iiay)ss") >= 0 && sd_bus_message_read(reply, "s", &icon) >= 0 &&
        sd_bus_message_skip(reply, "a(iiay)") >= 0 && sd_bus_message_read(reply, "ss", &title, &text) >= 0) {
      result = title;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return result;
  }
  // The item's menu as "id:label" or "id:-" for a separator, root's children.
  std::vector<std::string> MenuLayout() {
    std::vector<std::string> items;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::uint32_t revision = 0;
    std::int32_t id = 0;
    if (sd_bus_call_method(bus_, items_.at(0).c_str(), "/MenuBar", "com.canonical.dbusmenu", "GetLayout", &error,
                           &reply, "iias", 0, -1, 0u) >= 0 &&
        sd_bus_message_read(reply, "u", &revision) >= 0 &&
        sd_bus_message_enter_container(reply, 'r', "ia{sv}av") >= 0 && sd_bus_message_read(reply, "i", &id) >= 0 &&
        sd_bus_message_skip(reply, "a{sv}") >= 0 && sd_bus_message_enter_container(reply, 'a', "v") >= 0) {
      while (sd_bus_message_enter_container(reply, 'v', "(ia{sv}av)") > 0) {
        sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
        sd_bus_message_read(reply, "i", &id);
        std::string shown = std::to_string(id) + ":";
        sd_bus_message_enter_container(reply, 'a', "{sv}");
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
          const char* key = nullptr;
          const char* value = nullptr;
          sd_bus_message_read(reply, "s", &key);
          sd_bus_message_read(reply, "v", "s", &value);
          if (std::strcmp(key, "label") == 0) shown += value;
          if (std::strcmp(key, "type") == 0 && std::strcmp(value, "separator") == 0) shown += "-";
          sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_skip(reply, "av");
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
        items.push_back(shown);
      }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return items;
  }
  // The user clicks the last notification shown.
  void ClickNotification() {
    sd_bus_emit_signal(bus_, "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked", "us",
                       1u, "default");
  }
  bool CallItem(const char* path, const char* interface, const char* method, const char* types, auto... args) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r =
        sd_bus_call_method(bus_, items_.at(0).c_str(), path, interface, method, &error, nullptr, types, args...);
    sd_bus_error_free(&error);
    return r >= 0;
  }

  std::vector<std::string> items_;          // as registered with the watcher
  std::vector<std::string> gone_;           // names that left the bus
  std::vector<std::string> statuses_;       // NewStatus signals
  std::vector<std::string> notifications_;  // "summary|body|timeout"

 private:
  static int OnRegister(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* service = nullptr;
    if (sd_bus_message_read(m, "s", &service) >= 0) static_cast<Desktop*>(userdata)->items_.push_back(service);
    return sd_bus_reply_method_return(m, "");
  }
  static int OnNotify(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* app = nullptr;
    std::uint32_t replaces = 0;
    const char* icon = nullptr;
    const char* summary = nullptr;
    const char* body = nullptr;
    std::int32_t timeout = 0;
    if (sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body) >= 0 &&
        sd_bus_message_skip(m, "asa{sv}") >= 0 && sd_bus_message_read(m, "i", &timeout) >= 0) {
      static_cast<Desktop*>(userdata)->notifications_.push_back(
          std::string(summary) + "|" + body + "|" + std::to_string(timeout) + "|" + std::to_string(replaces));
    }
    return sd_bus_reply_method_return(m, "u", 1u);
  }
  static int OnNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) >= 0 && newOwner[0] == '\0') {
      static_cast<Desktop*>(userdata)->gone_.push_back(name);
    }
    return 0;
  }
  static int OnNewStatus(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* status = nullptr;
    if (sd_bus_message_read(m, "s", &status) >= 0) static_cast<Desktop*>(userdata)->statuses_.push_back(status);
    return 0;
  }
  static constexpr sd_bus_vtable kWatcher[] = {
      SD_BUS_VTABLE_START(0), SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", OnRegister, 0), SD_BUS_VTABLE_END};
  static constexpr sd_bus_vtable kNotifications[] = {
      SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, 0), SD_BUS_VTABLE_END};

  sd_bus* bus_ = nullptr;
};

class TrayBusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new BusDaemon;
    setenv("DBUS_SESSION_BUS_ADDRESS", daemon_->Address().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
  }

  TrayBusTest() {
    // The program's side: a right click shows the icon's popup, as the
    // companion's tray icon does.
    hwnd_ = platform::CreateWindowWithProc(
        0, "TrayBusTest", "", WS_POPUP, 0, 0, 0, 0, nullptr,
        [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (message == kCallback) {
            events_.push_back(static_cast<UINT>(lParam));
            if (lParam == WM_RBUTTONUP) {
              HMENU menu = LoadMenu(nullptr, kId);
              TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTBUTTON, 0, 0, 0, hwnd, nullptr);
              DestroyMenu(menu);
            }
          }
          if (message == WM_COMMAND) commands_.push_back(static_cast<UINT>(wParam));
          return DefWindowProc(hwnd, message, wParam, lParam);
        },
        nullptr);
    tray::RegisterIconResource(3, "audio-x-generic");
    tray::RegisterMenuResource(kId, {{"Tray", 0, {{"&Options", 101, {}}, {}, {"E&xit", 102, {}}}}});
    tray::ClearShownMenus();
  }
  ~TrayBusTest() override {
    NOTIFYICONDATA data = Data(0);
    Shell_NotifyIcon(NIM_DELETE, &data);
    DestroyWindow(hwnd_);
  }

  NOTIFYICONDATA Data(UINT flags, const char* tip = "", const char* balloon = "", const char* title = "") {
    NOTIFYICONDATA data{};
    data.cbSize = NOTIFYICONDATA_V2_SIZE;
    data.hWnd = hwnd_;
    data.uID = kId;
    data.uFlags = flags;
    data.uCallbackMessage = kCallback;
    data.hIcon = LoadIconResource(3);
    std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
    std::strncpy(data.szInfo, balloon, sizeof data.szInfo - 1);
    std::strncpy(data.szInfoTitle, title, sizeof data.szInfoTitle - 1);
    data.uTimeout = 10000;
    return data;
  }
  bool Add(const char* tip) {
    NOTIFYICONDATA data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP, tip);
    return Shell_NotifyIcon(NIM_ADD, &data) != FALSE;
  }
  static void Pump() {
    while (platform::PumpMessages() > 0) {}
  }

  static constexpr UINT kId = 7;
  static constexpr UINT kCallback = WM_APP + 1;
  static BusDaemon* daemon_;
  HWND hwnd_ = nullptr;
  std::vector<UINT> events_;
  std::vector<UINT> commands_;
};

BusDaemon* TrayBusTest::daemon_ = nullptr;

TEST_F(TrayBusTest, RegistersTheIconShowsItsStateAndBalloonsAndLeavesTheBusWhenRemoved) {
  ASSERT_FALSE(daemon_->Address().empty());
  Desktop desktop(true, true);
  ASSERT_TRUE(Add("Vantrel: logged in"));
  ASSERT_TRUE(desktop.WaitFor([&] { return !desktop.items_.empty(); }));
  EXPECT_TRUE(tray::OnSessionBus());
  EXPECT_EQ(desktop.Property("Title"), "Vantrel: logged in");
  EXPECT_EQ(desktop.ToolTipTitle(), "Vantrel: logged in");
  EXPECT_EQ(desktop.Property("Status"), "Active");
  EXPECT_EQ(desktop.Property("IconName"), "audio-x-generic");
  EXPECT_EQ(desktop.Property("Category"), "ApplicationStatus");

  NOTIFYICONDATA data = Data(NIF_STATE | NIF_TIP, "Vantrel: away");
  data.dwState = data.dwStateMask = NIS_HIDDEN;
  ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  ASSERT_TRUE(desktop.WaitFor([&] { return !desktop.statuses_.empty(); }));
  EXPECT_EQ(desktop.statuses_[0], "Passive");
  EXPECT_EQ(desktop.Property("Status"), "Passive");
  EXPECT_EQ(desktop.Property("Title"), "Vantrel: away");

  data = Data(NIF_INFO, "", "Track submitted & saved", "Vantrel");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  ASSERT_TRUE(desktop.WaitFor([&] { return !desktop.notifications_.empty(); }));
  EXPECT_EQ(desktop.notifications_[0], "Vantrel|Track submitted & saved|10000|0");
  // A click on it reaches the program as a click on the balloon; the next
  // balloon takes its place.
  desktop.ClickNotification();
  EXPECT_EQ(desktop.Property("Status"), "Passive");  // the item has read the click before it answers
  Pump();
  EXPECT_EQ(events_, (std::vector<UINT>{NIN_BALLOONUSERCLICK}));
  data = Data(NIF_INFO, "", "Logged out");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  ASSERT_TRUE(desktop.WaitFor([&] { return desktop.notifications_.size() == 2; }));
  EXPECT_EQ(desktop.notifications_[1], std::string(program_invocation_short_name) + "|Logged out|10000|1");

  const std::string service = desktop.items_[0];
  data = Data(0);
  ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_TRUE(desktop.WaitFor(
      [&] { return std::find(desktop.gone_.begin(), desktop.gone_.end(), service) != desktop.gone_.end(); }));
  EXPECT_FALSE(tray::OnSessionBus());
}

TEST_F(TrayBusTest, MenuItemsAndActivationReachTheProgramAsItsOwnClicksDo) {
  Desktop desktop(true, false);
  ASSERT_TRUE(Add("Vantrel"));
  ASSERT_TRUE(desktop.WaitFor([&] { return !desktop.items_.empty(); }));
  EXPECT_EQ(desktop.Property("Menu"), "path /MenuBar");
  EXPECT_EQ(desktop.MenuLayout(), (std::vector<std::string>{"101:_Options", "1073741824:-", "102:E_xit"}));

  ASSERT_TRUE(desktop.CallItem("/MenuBar", "com.canonical.dbusmenu", "AboutToShow", "i", 0));
  ASSERT_TRUE(desktop.CallItem("/MenuBar", "com.canonical.dbusmenu", "Event", "isvu", 102, "clicked", "s", "", 0u));
  Pump();
  EXPECT_EQ(commands_, (std::vector<UINT>{102}));
  ASSERT_EQ(tray::ShownMenus().size(), 1u);

  // The answer is spent: a later popup of the program's own is not answered.
  HMENU menu = LoadMenu(nullptr, kId);
  EXPECT_EQ(TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD, 0, 0, 0, hwnd_, nullptr), 0);
  DestroyMenu(menu);

  ASSERT_TRUE(desktop.CallItem("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", "ii", 10, 20));
  Pump();
  EXPECT_EQ(events_, (std::vector<UINT>{WM_RBUTTONUP, WM_LBUTTONDBLCLK}));
}

TEST_F(TrayBusTest, WithoutAWatcherTheIconIsOnlyRecordedUntilOneStarts) {
  Desktop desktop(false, false);
  ASSERT_TRUE(Add("Vantrel"));
  EXPECT_TRUE(tray::FindIcon(hwnd_, kId));
  EXPECT_FALSE(tray::OnSessionBus());
  desktop.StartWatcher();
  ASSERT_TRUE(desktop.WaitFor([&] { return !desktop.items_.empty(); }));
  EXPECT_EQ(desktop.Property("Title"), "Vantrel");
}

}  // namespace
