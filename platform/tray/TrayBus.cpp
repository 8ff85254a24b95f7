// Each icon is a StatusNotifierItem on a session-bus connection of its own,
// served by a thread of its own, so a busy program never keeps the desktop's
// host waiting. What the host does with the item comes back to the program's
// thread as the icon's callback messages, the same ones a click posts.
#include "platform/tray/TrayBus.h"
#include "platform/tray/TrayXEmbed.h"
#include "platform/kernel/UniqueFd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform::tray::bus {
namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr UINT kMiddleButtonUp = 0x0208;
// dbusmenu ids of separators and submenus, clear of the command ids.
constexpr std::int32_t kInnerIdBase = 0x40000000;

enum Change : unsigned { kIconChanged = 1, kTipChanged = 2, kStatusChanged = 4 };

struct Command {
  enum Kind { Changed, ShowBalloon, Stop } kind;
  unsigned changes = 0;
  Balloon balloon;
};

std::string ProgramName() { return program_invocation_short_name; }

// The desktop's menu texts mark the access key with "&"; dbusmenu with "_".
std::string MenuLabel(const std::string& text) {
  std::string label;
  const std::string shown = text.substr(0, text.find('\t'));  // no accelerator column
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == '&') {
      if (i + 1 < shown.size() && shown[i + 1] == '&') {
        label += '&';
        ++i;
      } else {
        label += '_';
      }
    } else if (shown[i] == '_') {
      label += "__";
    } else {
      label += shown[i];
    }
  }
  return label;
}

struct MenuNode {
  std::int32_t id = 0;
  std::string label;
  bool separator = false;
  UINT command = 0;
  std::vector<std::int32_t> children;
};

// The menu the item offers: the popup the program shows from the icon's menu
// resource (its first popup, or the resource itself when it holds none).
std::map<std::int32_t, MenuNode> LayMenu(const std::vector<MenuResourceItem>& resource) {
  std::map<std::int32_t, MenuNode> nodes;
  std::int32_t next = kInnerIdBase;
  auto add = [&](auto& self, const std::vector<MenuResourceItem>& items, std::int32_t parent) -> void {
    for (const MenuResourceItem& item : items) {
      MenuNode node;
      // A command keeps its id, which is what a click on it reports; the rest
      // (and a command whose id is taken) get inner ones.
      const bool command = item.popup.empty() && !item.IsSeparator() && item.id != 0 &&
                           item.id < static_cast<UINT>(kInnerIdBase) &&
                           !nodes.contains(static_cast<std::int32_t>(item.id));
      node.id = command ? static_cast<std::int32_t>(item.id) : next++;
      node.label = MenuLabel(item.text);
      node.separator = item.IsSeparator();
      node.command = item.popup.empty() ? item.id : 0;
      nodes[parent].children.push_back(node.id);
      nodes[node.id] = node;
      if (!item.popup.empty()) self(self, item.popup, node.id);
    }
  };
  nodes[0] = MenuNode{};
  const bool wrapped = !resource.empty() && !resource[0].popup.empty();
  add(add, wrapped ? resource[0].popup : resource, 0);
  return nodes;
}

int AppendDictString(sd_bus_message* m, const char* key, const std::string& value) {
  return sd_bus_message_append(m, "{sv}", key, "s", value.c_str());
}

int AppendMenuProperties(sd_bus_message* m, const MenuNode& node) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r < 0) return r;
  if (node.id != 0) {
    if (node.separator) {
      r = AppendDictString(m, "type", "separator");
    } else {
      r = AppendDictString(m, "label", node.label);
      if (r >= 0 && !node.children.empty()) r = AppendDictString(m, "children-display", "submenu");
    }
    if (r < 0) return r;
  } else if (!node.children.empty()) {
    r = AppendDictString(m, "children-display", "submenu");
    if (r < 0) return r;
  }
  return sd_bus_message_close_container(m);
}

class Item {
 public:
  explicit Item(const TrayIcon& icon) : icon_(icon) {
    wake_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake_.IsDefined()) thread_ = std::thread([this] { Run(); });
  }
  ~Item() {
    if (thread_.joinable()) {
      Queue({Command::Stop, 0, {}});
      thread_.join();
    }
    wake_.Reset();
  }
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;

  void Update(const TrayIcon& icon) {
    unsigned changes = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (icon.iconName != icon_.iconName) changes |= kIconChanged;
      if (icon.tip != icon_.tip) changes |= kTipChanged;
      if (icon.hidden != icon_.hidden) changes |= kStatusChanged;
      icon_ = icon;
    }
    if (changes != 0) Queue({Command::Changed, changes, {}});
  }
  void ShowBalloon(const Balloon& balloon) { Queue({Command::ShowBalloon, 0, balloon}); }
  bool Registered() const { return registered_; }

 private:
  TrayIcon Icon() {
    std::lock_guard<std::mutex> lock(mutex_);
    return icon_;
  }
  std::string Title() {
    const TrayIcon icon = Icon();
    return icon.tip.empty() ? ProgramName() : icon.tip;
  }

  void Queue(Command command) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(std::move(command));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
  }

  // The user at the item: the icon's callback message, as a click posts it.
  void PostEvent(UINT event) {
    const TrayIcon icon = Icon();
    if (icon.callbackMessage != 0) ::PostMessage(icon.hwnd, icon.callbackMessage, icon.id, static_cast<LPARAM>(event));
  }
  // A menu item chosen at the host: the program shows its popup as for a
  // right click, and that popup is answered with the item.
  void ChooseFromMenu(UINT command) {
    const TrayIcon icon = Icon();
    if (icon.callbackMessage == 0) return;
    AnswerNextMenu(command);
    ::PostMessage(icon.hwnd, icon.callbackMessage, icon.id, static_cast<LPARAM>(WM_RBUTTONUP));
    // A program that showed no popup leaves no answer behind for a later one.
    if (!platform::PostThreadCall(GetWindowThreadId(icon.hwnd), [] { AnswerNextMenu(0); })) AnswerNextMenu(0);
  }

  void Run() {
    if (sd_bus_open_user(&bus_) < 0) return;
    const bool served = sd_bus_add_object_vtable(bus_, nullptr, kItemPath, kItemInterface, kItemVtable, this) >= 0 &&
                        sd_bus_add_object_vtable(bus_, nullptr, kMenuPath, kMenuInterface, kMenuVtable, this) >= 0 &&
                        sd_bus_add_match(bus_, nullptr,
                                         "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                                         "member='NameOwnerChanged',arg0='org.kde.StatusNotifierWatcher'",
                                         OnWatcherChanged, this) >= 0 &&
                        sd_bus_add_match(bus_, nullptr,
                                         "type='signal',sender='org.freedesktop.Notifications',"
                                         "interface='org.freedesktop.Notifications',member='ActionInvoked'",
                                         OnNotificationAction, this) >= 0;
    if (served) {
      sd_bus_error error = SD_BUS_ERROR_NULL;
      sd_bus_message* reply = nullptr;
      int watched = 0;
      if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameHasOwner", &error, &reply, "s", kWatcher) >= 0 &&
          sd_bus_message_read(reply, "b", &watched) >= 0 && watched) {
        Register();
      }
      sd_bus_message_unref(reply);
      sd_bus_error_free(&error);
      Serve();
    }
    registered_ = false;
    bus_ = sd_bus_flush_close_unref(bus_);
  }

  void Serve() {
    for (;;) {
      int r = 0;
      while ((r = sd_bus_process(bus_, nullptr)) > 0) {}
      if (r < 0) return;  // the bus went away
      pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0}, {wake_.Get(), POLLIN, 0}};
      int timeoutMs = -1;
      std::uint64_t until = 0;
      if (sd_bus_get_timeout(bus_, &until) > 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t nowUs =
            static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
        timeoutMs = until <= nowUs ? 0 : static_cast<int>(std::min<std::uint64_t>((until - nowUs + 999) / 1000, 60000));
      }
      if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &count, sizeof count);
        std::deque<Command> commands;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          commands.swap(commands_);
        }
        for (const Command& command : commands) {
          if (command.kind == Command::Stop) return;
          if (command.kind == Command::Changed) Announce(command.changes);
          if (command.kind == Command::ShowBalloon) Notify(command.balloon);
        }
      }
    }
  }

  void Register() {
    if (service_.empty()) {
      static std::atomic<unsigned> serial{0};
      std::string name = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
      if (sd_bus_request_name(bus_, name.c_str(), 0) < 0) return;
      service_ = std::move(name);
    }
    registered_ = true;
    sd_bus_call_method_async(bus_, nullptr, kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisterStatusNotifierItem",
                             OnRegistered, this, "s", service_.c_str());
  }

  void Announce(unsigned changes) {
    if (changes & kIconChanged) sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewIcon", "");
    if (changes & kTipChanged) {
      sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewTitle", "");
      sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewToolTip", "");
    }
    if (changes & kStatusChanged) {
      sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewStatus", "s", Icon().hidden ? "Passive" : "Active");
    }
  }

  // A balloon where the session offers notifications; never starts a service.
  void Notify(const Balloon& balloon) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, kNotifications, "/org/freedesktop/Notifications", kNotifications,
                                       "Notify") < 0) {
      return;
    }
    const TrayIcon icon = Icon();
    const std::string summary = balloon.title.empty() ? ProgramName() : balloon.title;
    const std::uint8_t urgency = balloon.infoFlags == NIIF_ERROR ? 2 : 1;
    const std::int32_t timeout = balloon.timeoutMs != 0 ? static_cast<std::int32_t>(balloon.timeoutMs) : -1;
    if (sd_bus_message_set_auto_start(call, 0) >= 0 &&
        sd_bus_message_append(call, "susssasa{sv}i", ProgramName().c_str(), lastNotification_, icon.iconName.c_str(),
                              summary.c_str(), balloon.text.c_str(), 2u, "default", "", 1u, "urgency", "y", urgency,
                              timeout) >= 0) {
      sd_bus_call_async(bus_, nullptr, call, OnNotified, this, 0);
    }
    sd_bus_message_unref(call);
  }

  static int OnNotified(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    std::uint32_t id = 0;
    if (!sd_bus_message_is_method_error(reply, nullptr) && sd_bus_message_read(reply, "u", &id) >= 0) {
      static_cast<Item*>(userdata)->lastNotification_ = id;  // the next balloon replaces it
    }
    return 0;
  }
  // The balloon clicked.
  static int OnNotificationAction(sd_bus_message* m, void* userdata, sd_bus_error*) {
    std::uint32_t id = 0;
    const char* action = nullptr;
    auto* self = static_cast<Item*>(userdata);
    if (sd_bus_message_read(m, "us", &id, &action) >= 0 && id != 0 && id == self->lastNotification_ &&
        std::string(action) == "default") {
      self->PostEvent(NIN_BALLOONUSERCLICK);
    }
    return 0;
  }
  static int OnRegistered(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    if (sd_bus_message_is_method_error(reply, nullptr)) static_cast<Item*>(userdata)->registered_ = false;
    return 0;
  }
  // A watcher that starts (again) learns of the item.
  static int OnWatcherChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    auto* self = static_cast<Item*>(userdata);
    const bool running = newOwner != nullptr && newOwner[0] != '\0';
    if (running) {
      self->Register();
    } else {
      self->registered_ = false;
    }
    xembed::WatcherChanged(running);
    return 0;
  }

  static int GetItemProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                             void* userdata, sd_bus_error*) {
    auto* self = static_cast<Item*>(userdata);
    const std::string name = property;
    const TrayIcon icon = self->Icon();
    if (name == "Category") return sd_bus_message_append(reply, "s", "ApplicationStatus");
    if (name == "Id") return sd_bus_message_append(reply, "s", ProgramName().c_str());
    if (name == "Title") return sd_bus_message_append(reply, "s", self->Title().c_str());
    if (name == "Status") return sd_bus_message_append(reply, "s", icon.hidden ? "Passive" : "Active");
    if (name == "IconName") return sd_bus_message_append(reply, "s", icon.iconName.c_str());
    if (name == "IconPixmap") return sd_bus_message_append(reply, "a(iiay)", 0u);
    if (name == "ToolTip") {
      return sd_bus_message_append(reply, "(sa(iiay)ss)", icon.iconName.c_str(), 0u, self->Title().c_str(), "");
    }
    if (name == "ItemIsMenu") return sd_bus_message_append(reply, "b", 0);
    if (name == "Menu") return sd_bus_message_append(reply, "o", kMenuPath);
    return sd_bus_message_append(reply, "s", "");  // the attention and overlay icons: none
  }

  static int OnActivate(sd_bus_message* m, void* userdata, sd_bus_error*) {
    static_cast<Item*>(userdata)->PostEvent(WM_LBUTTONDBLCLK);
    return sd_bus_reply_method_return(m, "");
  }
  static int OnSecondaryActivate(sd_bus_message* m, void* userdata, sd_bus_error*) {
    static_cast<Item*>(userdata)->PostEvent(kMiddleButtonUp);
    return sd_bus_reply_method_return(m, "");
  }
  static int OnContextMenu(sd_bus_message* m, void* userdata, sd_bus_error*) {
    static_cast<Item*>(userdata)->PostEvent(WM_RBUTTONUP);
    return sd_bus_reply_method_return(m, "");
  }
  static int OnScroll(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, ""); }

  // The menu as the resource holds it now; a changed one gets a new revision.
  bool RefreshMenu() {
    std::vector<MenuResourceItem> resource = MenuResource(Icon().id);
    const bool changed = menuNodes_.empty() || !SameMenu(resource, menuResource_);
    if (changed) {
      menuResource_ = std::move(resource);
      menuNodes_ = LayMenu(menuResource_);
      if (!firstLayout_) {
        ++menuRevision_;
        sd_bus_emit_signal(bus_, kMenuPath, kMenuInterface, "LayoutUpdated", "ui", menuRevision_, 0);
      }
    }
    firstLayout_ = false;
    return changed;
  }
  static bool SameMenu(const std::vector<MenuResourceItem>& a, const std::vector<MenuResourceItem>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].text != b[i].text || a[i].id != b[i].id || !SameMenu(a[i].popup, b[i].popup)) return false;
    }
    return true;
  }

  int AppendLayout(sd_bus_message* m, std::int32_t id, int depth) {
    const MenuNode& node = menuNodes_.at(id);
    int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
    if (r >= 0) r = sd_bus_message_append(m, "i", node.id);
    if (r >= 0) r = AppendMenuProperties(m, node);
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
    if (depth != 0) {
      for (std::int32_t child : node.children) {
        if (r >= 0) r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
        if (r >= 0) r = AppendLayout(m, child, depth < 0 ? depth : depth - 1);
        if (r >= 0) r = sd_bus_message_close_container(m);
      }
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
  }

  static int OnGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<Item*>(userdata);
    std::int32_t parent = 0;
    std::int32_t depth = -1;
    int r = sd_bus_message_read(m, "ii", &parent, &depth);
    if (r < 0) return r;
    self->RefreshMenu();
    if (!self->menuNodes_.contains(parent)) {
      return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "No such menu item");
    }
    sd_bus_message* reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0) r = sd_bus_message_append(reply, "u", self->menuRevision_);
    if (r >= 0) r = self->AppendLayout(reply, parent, depth);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }

  static int OnGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Item*>(userdata);
    const void* ids = nullptr;
    std::size_t size = 0;
    int r = sd_bus_message_read_array(m, 'i', &ids, &size);
    if (r < 0) return r;
    if (self->menuNodes_.empty()) self->RefreshMenu();
    std::vector<std::int32_t> wanted(static_cast<const std::int32_t*>(ids),
                                     static_cast<const std::int32_t*>(ids) + size / sizeof(std::int32_t));
    if (wanted.empty()) {
      for (const auto& [id, node] : self->menuNodes_) wanted.push_back(id);
    }
    sd_bus_message* reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "(ia{sv})");
    for (std::int32_t id : wanted) {
      auto found = self->menuNodes_.find(id);
      if (found == self->menuNodes_.end()) continue;
      if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "ia{sv}");
      if (r >= 0) r = sd_bus_message_append(reply, "i", id);
      if (r >= 0) r = AppendMenuProperties(reply, found->second);
      if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }

  static int OnGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<Item*>(userdata);
    std::int32_t id = 0;
    const char* name = nullptr;
    int r = sd_bus_message_read(m, "is", &id, &name);
    if (r < 0) return r;
    if (self->menuNodes_.empty()) self->RefreshMenu();
    auto found = self->menuNodes_.find(id);
    const std::string property = name;
    if (found != self->menuNodes_.end()) {
      if (property == "label" && !found->second.separator)
        return sd_bus_reply_method_return(m, "v", "s", found->second.label.c_str());
      if (property == "type" && found->second.separator) return sd_bus_reply_method_return(m, "v", "s", "separator");
    }
    return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "No such property");
  }

  void MenuEvent(std::int32_t id, const std::string& event) {
    if (event != "clicked") return;
    if (menuNodes_.empty()) RefreshMenu();
    auto found = menuNodes_.find(id);
    if (found != menuNodes_.end() && found->second.command != 0 && !found->second.separator) {
      ChooseFromMenu(found->second.command);
    }
  }

  static int OnEvent(sd_bus_message* m, void* userdata, sd_bus_error*) {
    std::int32_t id = 0;
    const char* event = nullptr;
    int r = sd_bus_message_read(m, "is", &id, &event);
    if (r < 0) return r;
    static_cast<Item*>(userdata)->MenuEvent(id, event);
    return sd_bus_reply_method_return(m, "");
  }

  static int OnEventGroup(sd_bus_message* m, void* userdata, sd_bus_error*) {
    int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'r', "isvu")) > 0) {
      std::int32_t id = 0;
      const char* event = nullptr;
      r = sd_bus_message_read(m, "is", &id, &event);
      if (r < 0) return r;
      const std::string eventId = event;
      r = sd_bus_message_skip(m, "vu");
      if (r < 0) return r;
      r = sd_bus_message_exit_container(m);
      if (r < 0) return r;
      static_cast<Item*>(userdata)->MenuEvent(id, eventId);
    }
    if (r < 0) return r;
    return sd_bus_reply_method_return(m, "ai", 0u);
  }

  static int OnAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error*) {
    std::int32_t id = 0;
    int r = sd_bus_message_read(m, "i", &id);
    if (r < 0) return r;
    const bool wasLaid = !static_cast<Item*>(userdata)->menuNodes_.empty();
    const bool changed = static_cast<Item*>(userdata)->RefreshMenu() && wasLaid;
    return sd_bus_reply_method_return(m, "b", changed ? 1 : 0);
  }

  static int OnAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error*) {
    static_cast<Item*>(userdata)->RefreshMenu();
    return sd_bus_reply_method_return(m, "aiai", 0u, 0u);
  }

  static int GetMenuProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*,
                             sd_bus_error*) {
    const std::string name = property;
    if (name == "Version") return sd_bus_message_append(reply, "u", 3u);
    if (name == "TextDirection") return sd_bus_message_append(reply, "s", "ltr");
    if (name == "Status") return sd_bus_message_append(reply, "s", "normal");
    return sd_bus_message_append(reply, "as", 0u);  // IconThemePath
  }

  static const sd_bus_vtable kItemVtable[];
  static const sd_bus_vtable kMenuVtable[];

  std::mutex mutex_;
  TrayIcon icon_;
  std::deque<Command> commands_;
  platform::UniqueFd wake_;
  std::atomic<bool> registered_{false};
  // The serving thread's own.
  sd_bus* bus_ = nullptr;
  std::string service_;
  std::uint32_t lastNotification_ = 0;
  std::vector<MenuResourceItem> menuResource_;
  std::map<std::int32_t, MenuNode> menuNodes_;
  std::uint32_t menuRevision_ = 1;
  bool firstLayout_ = true;
  std::thread thread_;
};

const sd_bus_vtable Item::kItemVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("Id", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("Title", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("Status", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("IconName", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconName", "s", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", GetItemProperty, 0, 0),
    SD_BUS_PROPERTY("Menu", "o", GetItemProperty, 0, 0),
    SD_BUS_METHOD("Activate", "ii", "", OnActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", OnSecondaryActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnContextMenu, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", OnScroll, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END};

const sd_bus_vtable Item::kMenuVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", GetMenuProperty, 0, 0),
    SD_BUS_PROPERTY("TextDirection", "s", GetMenuProperty, 0, 0),
    SD_BUS_PROPERTY("Status", "s", GetMenuProperty, 0, 0),
    SD_BUS_PROPERTY("IconThemePath", "as", GetMenuProperty, 0, 0),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", OnGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", OnGetGroupProperties, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetProperty", "is", "v", OnGetProperty, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", OnEvent, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", OnEventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", OnAboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", OnAboutToShowGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END};

struct Items {
  std::mutex mutex;
  std::map<std::pair<HWND, UINT>, std::unique_ptr<Item>> items;
};

Items& TheItems() {
  static Items* const items = new Items;
  return *items;
}

}  // namespace

void IconChanged(const TrayIcon& icon) {
  Items& all = TheItems();
  std::lock_guard<std::mutex> lock(all.mutex);
  auto& item = all.items[{icon.hwnd, icon.id}];
  if (item) {
    item->Update(icon);
  } else {
    item = std::make_unique<Item>(icon);
  }
}

void IconRemoved(HWND hwnd, UINT id) {
  std::unique_ptr<Item> gone;
  {
    Items& all = TheItems();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto it = all.items.find({hwnd, id});
    if (it == all.items.end()) return;
    gone = std::move(it->second);
    all.items.erase(it);
  }
  // Closing its connection takes the item's names off the bus.
}

void AllRemoved() {
  std::map<std::pair<HWND, UINT>, std::unique_ptr<Item>> gone;
  Items& all = TheItems();
  std::lock_guard<std::mutex> lock(all.mutex);
  gone.swap(all.items);
}

void BalloonShown(const TrayIcon& icon, const Balloon& balloon) {
  Items& all = TheItems();
  std::lock_guard<std::mutex> lock(all.mutex);
  auto it = all.items.find({icon.hwnd, icon.id});
  if (it != all.items.end()) it->second->ShowBalloon(balloon);
}

bool WatcherPresent() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int watched = 0;
  const bool asked = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                        "NameHasOwner", &error, &reply, "s", kWatcher) >= 0 &&
                     sd_bus_message_read(reply, "b", &watched) >= 0;
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return asked && watched;
}

bool Active() {
  Items& all = TheItems();
  std::lock_guard<std::mutex> lock(all.mutex);
  for (const auto& [key, item] : all.items) {
    if (item->Registered()) return true;
  }
  return false;
}

}  // namespace platform::tray::bus
