// One X connection for the icons, read by a thread of its own; every Xlib call
// on it is made under the mutex, and the reader waits in poll() outside it.
// The popup menus use a connection of their own, on the thread that shows them.
#include "platform/tray/TrayXEmbed.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/html/X11Display.h"
#include "platform/kernel/Log.h"
#include "platform/tray/TrayBus.h"

namespace platform::tray::xembed {
namespace {

constexpr long kRequestDock = 0;
constexpr long kBeginMessage = 1;
constexpr long kXEmbedMapped = 1;
constexpr unsigned kMiddleButtonUp = 0x0208;
constexpr Time kDoubleClickMs = 500;
constexpr int kIconSize = 22;
constexpr auto kTipDelay = std::chrono::milliseconds(500);
constexpr std::uint32_t kTipPaper = 0xFFFFE1;
constexpr std::uint32_t kTipInk = 0x3A332D;
const char* const kFont = "-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso8859-1";

// A picture as rows of non-premultiplied ARGB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

// A netpbm PAM file of 8-bit RGB_ALPHA tuples; empty when it is not one.
Image ReadImage(const std::string& file) {
  Image image;
  if (file.empty()) return image;
  std::ifstream in(file[0] == '/' ? file : ProgramFolder() + file, std::ios::binary);
  std::string line;
  int depth = 0;
  int maxval = 0;
  if (!std::getline(in, line) || line != "P7") return image;
  while (std::getline(in, line) && line != "ENDHDR") {
    std::istringstream field(line);
    std::string key;
    field >> key;
    if (key == "WIDTH") field >> image.width;
    if (key == "HEIGHT") field >> image.height;
    if (key == "DEPTH") field >> depth;
    if (key == "MAXVAL") field >> maxval;
  }
  if (depth != 4 || maxval != 255 || image.width <= 0 || image.height <= 0 || image.width > 1024 ||
      image.height > 1024) {
    return Image{};
  }
  const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  std::vector<unsigned char> bytes(count * 4);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return Image{};
  image.pixels.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* p = &bytes[i * 4];
    image.pixels[i] = static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[0]) << 16 |
                      static_cast<std::uint32_t>(p[1]) << 8 | p[2];
  }
  return image;
}

// The pixel value of a colour in a true-colour visual.
unsigned long PixelOf(Visual* visual, std::uint32_t rgb) {
  auto channel = [](unsigned long mask, unsigned value) {
    if (mask == 0) return 0ul;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    int bits = 0;
    while ((mask >> (shift + bits)) & 1) ++bits;
    return (static_cast<unsigned long>(value) >> (8 - std::min(bits, 8))) << shift;
  };
  return channel(visual->red_mask, (rgb >> 16) & 0xFF) | channel(visual->green_mask, (rgb >> 8) & 0xFF) |
         channel(visual->blue_mask, rgb & 0xFF);
}

bool OnDisplay() {
  const char* display = std::getenv("DISPLAY");
  const char* headless = std::getenv("ZORVA_HEADLESS");
  return display && *display && !(headless && std::string(headless) == "1");
}

// A tray that goes away while it is told something is no reason to end the
// program.
int NoteError(Display*, XErrorEvent* error) {
  platform::LogLine("tray", "X error " + std::to_string(error->error_code));
  return 0;
}
int ReportLoss(Display*) { return 0; }

struct Icon {
  TrayIcon record;
  Image image;
  Window window = None;
  int width = kIconSize;
  int height = kIconSize;
  bool docked = false;
  Time lastLeftPress = 0;
};

struct Area {
  std::mutex mutex;
  bool tried = false;
  Display* display = nullptr;
  int wake[2] = {-1, -1};
  bool lost = false;
  Atom selection = None;
  Atom opcode = None;
  Atom messageData = None;
  Atom manager = None;
  Atom xembedInfo = None;
  Atom netWmName = None;
  Atom utf8 = None;
  Window tray = None;
  std::map<std::pair<HWND, UINT>, Icon> icons;
  // The icon's tip, which the tray does not draw: shown after the pointer
  // rests on the icon, gone when it leaves or clicks.
  Window tip = None;
  XFontStruct* font = nullptr;
  std::string tipText;
  Window hovered = None;
  bool tipShown = false;
  std::chrono::steady_clock::time_point tipAt;
};

Area& TheArea() {
  static Area* const area = new Area;  // its thread runs until the process ends
  return *area;
}

void DisplayLost(Display*, void* area) { static_cast<Area*>(area)->lost = true; }

void Wake(Area& a) {
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(a.wake[1], &byte, 1);
}

// Under the mutex from here on.

void FindTray(Area& a) {
  a.tray = XGetSelectionOwner(a.display, a.selection);
  // Told when it goes, so the icons wait for the next one.
  if (a.tray != None) XSelectInput(a.display, a.tray, StructureNotifyMask);
}

void SetInfo(Area& a, Icon& icon) {
  const long info[2] = {0, icon.record.hidden ? 0 : kXEmbedMapped};
  XChangeProperty(a.display, icon.window, a.xembedInfo, a.xembedInfo, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(info), 2);
}

void SetName(Area& a, Icon& icon) {
  const std::string& tip = icon.record.tip.empty() ? std::string(program_invocation_short_name) : icon.record.tip;
  XStoreName(a.display, icon.window, tip.c_str());
  XChangeProperty(a.display, icon.window, a.netWmName, a.utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(tip.data()), static_cast<int>(tip.size()));
}

void Draw(Area& a, Icon& icon) {
  if (icon.window == None) return;
  XClearWindow(a.display, icon.window);
  const Image& image = icon.image;
  if (image.pixels.empty()) return;
  const int screen = DefaultScreen(a.display);
  Visual* visual = DefaultVisual(a.display, screen);
  if (visual->c_class != TrueColor) return;
  // Scaled to the tray's size, whole and centred; the tray shows through
  // where the picture is clear.
  const int side = std::max(1, std::min(icon.width, icon.height));
  const int left = (icon.width - side) / 2;
  const int top = (icon.height - side) / 2;
  GC gc = XCreateGC(a.display, icon.window, 0, nullptr);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const int sx = x * image.width / side;
      const int sy = y * image.height / side;
      const std::uint32_t argb = image.pixels[static_cast<std::size_t>(sy * image.width + sx)];
      if ((argb >> 24) < 128) continue;
      XSetForeground(a.display, gc, PixelOf(visual, argb & 0xFFFFFF));
      XDrawPoint(a.display, icon.window, gc, left + x, top + y);
    }
  }
  XFreeGC(a.display, gc);
}

void HideTip(Area& a) {
  a.hovered = None;
  if (a.tipShown) XUnmapWindow(a.display, a.tip);
  a.tipShown = false;
}

void PaintTip(Area& a) {
  Visual* visual = DefaultVisual(a.display, DefaultScreen(a.display));
  XWindowAttributes size{};
  XGetWindowAttributes(a.display, a.tip, &size);
  GC gc = XCreateGC(a.display, a.tip, 0, nullptr);
  XSetFont(a.display, gc, a.font->fid);
  XSetForeground(a.display, gc, PixelOf(visual, kTipPaper));
  XFillRectangle(a.display, a.tip, gc, 0, 0, static_cast<unsigned>(size.width), static_cast<unsigned>(size.height));
  XSetForeground(a.display, gc, PixelOf(visual, kTipInk));
  XDrawRectangle(a.display, a.tip, gc, 0, 0, static_cast<unsigned>(size.width - 1),
                 static_cast<unsigned>(size.height - 1));
  XDrawString(a.display, a.tip, gc, 5, 3 + a.font->ascent, a.tipText.c_str(), static_cast<int>(a.tipText.size()));
  XFreeGC(a.display, gc);
}

// Beside the icon, on the screen: below it, or above it at the screen's foot.
void ShowTip(Area& a, const Icon& icon) {
  if (!a.font) a.font = XLoadQueryFont(a.display, kFont);
  if (!a.font) a.font = XLoadQueryFont(a.display, "fixed");
  if (!a.font || icon.window == None) return;
  a.tipText = icon.record.tip.empty() ? std::string(program_invocation_short_name) : icon.record.tip;
  const int screen = DefaultScreen(a.display);
  const int width = XTextWidth(a.font, a.tipText.c_str(), static_cast<int>(a.tipText.size())) + 10;
  const int height = a.font->ascent + a.font->descent + 6;
  int x = 0;
  int y = 0;
  Window child = None;
  XTranslateCoordinates(a.display, icon.window, DefaultRootWindow(a.display), 0, 0, &x, &y, &child);
  y = y + icon.height + 4 + height <= DisplayHeight(a.display, screen) ? y + icon.height + 4 : y - height - 4;
  x = std::clamp(x, 0, std::max(0, DisplayWidth(a.display, screen) - width));
  if (a.tip == None) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask;
    a.tip = XCreateWindow(a.display, DefaultRootWindow(a.display), x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect | CWEventMask, &attributes);
    XClassHint hint{const_cast<char*>("traytip"), program_invocation_short_name};
    XSetClassHint(a.display, a.tip, &hint);
  } else {
    XMoveResizeWindow(a.display, a.tip, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
  }
  XStoreName(a.display, a.tip, a.tipText.c_str());
  XMapRaised(a.display, a.tip);
  a.tipShown = true;
  PaintTip(a);
}

void MakeWindow(Area& a, Icon& icon) {
  if (icon.window != None) return;
  XSetWindowAttributes attributes{};
  attributes.background_pixmap = ParentRelative;
  attributes.event_mask =
      ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask | EnterWindowMask | LeaveWindowMask;
  icon.window = XCreateWindow(a.display, DefaultRootWindow(a.display), 0, 0, kIconSize, kIconSize, 0, CopyFromParent,
                              InputOutput, CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
  icon.width = kIconSize;
  icon.height = kIconSize;
  XClassHint hint{const_cast<char*>("trayicon"), program_invocation_short_name};
  XSetClassHint(a.display, icon.window, &hint);
  // The tray sizes its socket from these.
  XSizeHints size{};
  size.flags = PMinSize | PBaseSize;
  size.min_width = size.base_width = kIconSize;
  size.min_height = size.base_height = kIconSize;
  XSetWMNormalHints(a.display, icon.window, &size);
  SetName(a, icon);
  SetInfo(a, icon);
}

void SendToTray(Area& a, Window about, long message, long data1, long data2, long data3) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = a.opcode;
  event.xclient.format = 32;
  event.xclient.data.l[0] = CurrentTime;
  event.xclient.data.l[1] = message;
  event.xclient.data.l[2] = data1;
  event.xclient.data.l[3] = data2;
  event.xclient.data.l[4] = data3;
  XSendEvent(a.display, a.tray, False, NoEventMask, &event);
}

void Dock(Area& a, Icon& icon) {
  if (a.tray == None || icon.docked) return;
  MakeWindow(a, icon);
  SendToTray(a, a.tray, kRequestDock, static_cast<long>(icon.window), 0, 0);
  icon.docked = true;
}

void Undock(Area& a, Icon& icon) {
  if (icon.window != None && icon.window == a.hovered) HideTip(a);
  if (icon.window != None) XDestroyWindow(a.display, icon.window);
  icon.window = None;
  icon.docked = false;
}

void Flush(Area& a) {
  XFlush(a.display);
  Wake(a);
}

Display* Open(Area& a);

// What the reader found, acted on outside the mutex.
struct Found {
  std::vector<std::pair<TrayIcon, UINT>> events;
  bool newTray = false;
};

void Handle(Area& a, const XEvent& event, Found& found) {
  if (event.type == ClientMessage && event.xclient.message_type == a.manager &&
      static_cast<Atom>(event.xclient.data.l[1]) == a.selection) {
    // Another tray took over: the icons move to it.
    if (static_cast<Window>(event.xclient.data.l[2]) != a.tray) {
      for (auto& [key, icon] : a.icons) Undock(a, icon);
      a.tray = None;
    }
    found.newTray = true;
    return;
  }
  if (event.type == DestroyNotify && a.tray != None && event.xdestroywindow.window == a.tray) {
    // The tray is gone: the icons wait, out of sight, for the next one.
    a.tray = None;
    for (auto& [key, icon] : a.icons) Undock(a, icon);
    return;
  }
  if (a.tip != None && event.xany.window == a.tip) {
    if (event.type == Expose && event.xexpose.count == 0 && a.tipShown) PaintTip(a);
    return;
  }
  for (auto& [key, icon] : a.icons) {
    if (icon.window == None || event.xany.window != icon.window) continue;
    switch (event.type) {
      case EnterNotify:
        a.hovered = icon.window;
        a.tipAt = std::chrono::steady_clock::now() + kTipDelay;
        break;
      case LeaveNotify:
        if (a.hovered == icon.window) HideTip(a);
        break;
      case Expose:
        if (event.xexpose.count == 0) Draw(a, icon);
        break;
      case ConfigureNotify:
        icon.width = event.xconfigure.width;
        icon.height = event.xconfigure.height;
        Draw(a, icon);
        break;
      case ReparentNotify:
        // Back on the root (the tray ended): not a window of its own there.
        if (event.xreparent.parent == DefaultRootWindow(a.display)) {
          XUnmapWindow(a.display, icon.window);
          icon.docked = false;
        }
        break;
      case ButtonPress:
        HideTip(a);
        if (event.xbutton.button == Button1) {
          if (icon.lastLeftPress != 0 && event.xbutton.time - icon.lastLeftPress <= kDoubleClickMs) {
            found.events.emplace_back(icon.record, WM_LBUTTONDBLCLK);
            icon.lastLeftPress = 0;
          } else {
            icon.lastLeftPress = event.xbutton.time;
          }
        }
        break;
      case ButtonRelease:
        if (event.xbutton.button == Button3) found.events.emplace_back(icon.record, WM_RBUTTONUP);
        if (event.xbutton.button == Button2) found.events.emplace_back(icon.record, kMiddleButtonUp);
        break;
      default:
        break;
    }
    return;
  }
}

// A watcher on the session bus shows the icons itself; a tray is only for
// desktops without one.
void DockAll(Area& a) {
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    if (!a.display || a.lost) return;
  }
  const bool watched = bus::WatcherPresent();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.lost || watched) return;
  if (a.tray == None) FindTray(a);
  for (auto& [key, icon] : a.icons) Dock(a, icon);
  XFlush(a.display);
}

// How long the reader may wait: until the tip is due, if one is.
int WaitMs(Area& a) {
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.hovered == None || a.tipShown) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(a.tipAt - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

void Read(Area& a) {
  for (;;) {
    pollfd fds[2] = {{ConnectionNumber(a.display), POLLIN, 0}, {a.wake[0], POLLIN, 0}};
    if (::poll(fds, 2, WaitMs(a)) < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) {
      char drain[64];
      [[maybe_unused]] const auto n = ::read(a.wake[0], drain, sizeof drain);
    }
    Found found;
    {
      std::lock_guard<std::mutex> lock(a.mutex);
      if (a.lost) return;
      while (!a.lost && XPending(a.display) > 0) {
        XEvent event;
        XNextEvent(a.display, &event);
        Handle(a, event, found);
      }
      if (!a.lost && a.hovered != None && !a.tipShown && std::chrono::steady_clock::now() >= a.tipAt) {
        for (const auto& [key, icon] : a.icons) {
          if (icon.window == a.hovered) ShowTip(a, icon);
        }
      }
      if (!a.lost) XFlush(a.display);
    }
    if (found.newTray) DockAll(a);
    for (const auto& [icon, event] : found.events) {
      if (icon.callbackMessage != 0) {
        ::PostMessage(icon.hwnd, icon.callbackMessage, icon.id, static_cast<LPARAM>(event));
      }
    }
  }
}

Display* Open(Area& a) {
  if (a.tried) return a.lost ? nullptr : a.display;
  a.tried = true;
  if (!OnDisplay() || ::pipe(a.wake) != 0) return nullptr;
  a.display = XOpenDisplay(nullptr);
  if (!a.display) return nullptr;
  XSetIOErrorHandler(ReportLoss);
  XSetIOErrorExitHandler(a.display, DisplayLost, &a);
  platform::x11::NoteErrorsOf(a.display, NoteError);
  const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(a.display));
  a.selection = XInternAtom(a.display, selection.c_str(), False);
  a.opcode = XInternAtom(a.display, "_NET_SYSTEM_TRAY_OPCODE", False);
  a.messageData = XInternAtom(a.display, "_NET_SYSTEM_TRAY_MESSAGE_DATA", False);
  a.manager = XInternAtom(a.display, "MANAGER", False);
  a.xembedInfo = XInternAtom(a.display, "_XEMBED_INFO", False);
  a.netWmName = XInternAtom(a.display, "_NET_WM_NAME", False);
  a.utf8 = XInternAtom(a.display, "UTF8_STRING", False);
  // A tray that starts later says so on the root window.
  XSelectInput(a.display, DefaultRootWindow(a.display), StructureNotifyMask);
  FindTray(a);
  XFlush(a.display);
  std::thread([&a] { Read(a); }).detach();
  return a.display;
}

}  // namespace

void IconChanged(const TrayIcon& record) {
  if (!OnDisplay()) return;
  Area& a = TheArea();
  bool added = false;
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    if (!Open(a)) return;
    auto [it, inserted] = a.icons.try_emplace({record.hwnd, record.id});
    Icon& icon = it->second;
    added = inserted;
    const TrayIcon before = icon.record;
    icon.record = record;
    if (inserted || before.imageFile != record.imageFile) {
      icon.image = ReadImage(record.imageFile);
      if (icon.image.pixels.empty() && !record.imageFile.empty())
        platform::LogLine("tray", "no picture in " + record.imageFile);
    }
    if (icon.window != None) {
      if (before.tip != record.tip) SetName(a, icon);
      if (before.hidden != record.hidden) SetInfo(a, icon);
      Draw(a, icon);
    }
    Flush(a);
  }
  if (added) DockAll(a);
}

void IconRemoved(HWND hwnd, UINT id) {
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  auto it = a.icons.find({hwnd, id});
  if (it == a.icons.end()) return;
  if (!a.lost) {
    Undock(a, it->second);
    Flush(a);
  }
  a.icons.erase(it);
}

void AllRemoved() {
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.display && !a.lost) {
    for (auto& [key, icon] : a.icons) Undock(a, icon);
    Flush(a);
  }
  a.icons.clear();
}

void BalloonShown(const TrayIcon& record, const Balloon& balloon) {
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  auto it = a.icons.find({record.hwnd, record.id});
  if (a.lost || it == a.icons.end() || !it->second.docked || a.tray == None) return;
  static long serial = 0;
  const std::string text = balloon.title.empty() ? balloon.text : balloon.title + "\n" + balloon.text;
  const Window window = it->second.window;
  SendToTray(a, window, kBeginMessage, static_cast<long>(balloon.timeoutMs), static_cast<long>(text.size()), ++serial);
  // The text follows in pieces of 20 bytes.
  for (std::size_t at = 0; at < text.size(); at += 20) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = a.messageData;
    event.xclient.format = 8;
    std::memcpy(event.xclient.data.b, text.data() + at, std::min<std::size_t>(20, text.size() - at));
    XSendEvent(a.display, a.tray, False, StructureNotifyMask, &event);
  }
  Flush(a);
}

void WatcherChanged(bool running) {
  if (!running) {
    DockAll(TheArea());
    return;
  }
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (!a.display || a.lost) return;
  for (auto& [key, icon] : a.icons) Undock(a, icon);
  Flush(a);
}

bool TrayPresent() {
  if (!OnDisplay()) return false;
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (!Open(a)) return false;
  FindTray(a);
  XFlush(a.display);
  return a.tray != None;
}

bool Docked() {
  Area& a = TheArea();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.lost) return false;
  return std::any_of(a.icons.begin(), a.icons.end(), [](const auto& entry) { return entry.second.docked; });
}

// ---------------------------------------------------------------- popup menus

namespace {

constexpr int kItemHeight = 22;
constexpr int kSeparatorHeight = 9;
constexpr int kPadding = 3;
constexpr int kTextLeft = 22;
constexpr std::uint32_t kPaper = 0xF7F3EE;
constexpr std::uint32_t kInk = 0x3A332D;
constexpr std::uint32_t kRule = 0xDBD4CC;
constexpr std::uint32_t kAccent = 0xC46128;

// The text as shown: no access-key marks, no accelerator column.
std::string Label(const std::string& text) {
  std::string label;
  const std::string shown = text.substr(0, text.find('\t'));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == '&' && i + 1 < shown.size()) ++i;
    label += shown[i];
  }
  return label;
}

struct Popup {
  Display* display = nullptr;
  Window window = None;
  XFontStruct* font = nullptr;
  GC gc = nullptr;
  Visual* visual = nullptr;
  std::vector<std::string> labels;
  std::vector<UINT> ids;
  std::vector<int> tops;
  int defaultPosition = -1;
  int width = 0;
  int height = 0;
  int hover = -1;

  ~Popup() {
    if (!display) return;
    if (gc) XFreeGC(display, gc);
    if (font) XFreeFont(display, font);
    if (window != None) XDestroyWindow(display, window);
    XCloseDisplay(display);
  }
  bool Separator(std::size_t i) const { return ids[i] == 0 && labels[i].empty(); }
  bool Choosable(int i) const { return i >= 0 && ids[static_cast<std::size_t>(i)] != 0; }
  int ItemAt(int x, int y) const {
    if (x < 0 || x >= width) return -1;
    for (std::size_t i = 0; i < tops.size(); ++i) {
      const int bottom = tops[i] + (Separator(i) ? kSeparatorHeight : kItemHeight);
      if (y >= tops[i] && y < bottom) return Separator(i) ? -1 : static_cast<int>(i);
    }
    return -1;
  }
  void Paint() {
    XSetForeground(display, gc, PixelOf(visual, kPaper));
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
    for (std::size_t i = 0; i < tops.size(); ++i) {
      if (Separator(i)) {
        XSetForeground(display, gc, PixelOf(visual, kRule));
        XDrawLine(display, window, gc, 4, tops[i] + kSeparatorHeight / 2, width - 5, tops[i] + kSeparatorHeight / 2);
        continue;
      }
      const bool lit = static_cast<int>(i) == hover && Choosable(hover);
      if (lit) {
        XSetForeground(display, gc, PixelOf(visual, kAccent));
        XFillRectangle(display, window, gc, 1, tops[i], static_cast<unsigned>(width - 2), kItemHeight);
      }
      XSetForeground(display, gc, PixelOf(visual, lit ? 0xFFFFFF : ids[i] ? kInk : kRule));
      const int baseline = tops[i] + (kItemHeight + font->ascent - font->descent) / 2;
      const int length = static_cast<int>(labels[i].size());
      XDrawString(display, window, gc, kTextLeft, baseline, labels[i].c_str(), length);
      // The default item in bold.
      if (static_cast<int>(i) == defaultPosition)
        XDrawString(display, window, gc, kTextLeft + 1, baseline, labels[i].c_str(), length);
    }
    XSetForeground(display, gc, PixelOf(visual, kRule));
    XDrawRectangle(display, window, gc, 0, 0, static_cast<unsigned>(width - 1), static_cast<unsigned>(height - 1));
  }
};

// The pointer and keyboard are the popup's until it closes; another program
// may hold them for a moment (the tray's own click).
bool Grab(Popup& p) {
  for (int tries = 0; tries < 50; ++tries) {
    if (XGrabPointer(p.display, p.window, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                     GrabModeAsync, None, None, CurrentTime) == GrabSuccess) {
      XGrabKeyboard(p.display, p.window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
      return true;
    }
    pollfd none{-1, 0, 0};
    ::poll(&none, 0, 20);
  }
  return false;
}

}  // namespace

UINT ShowMenu(const ShownMenu& menu) {
  Popup p;
  p.display = XOpenDisplay(nullptr);
  if (!p.display || menu.texts.empty()) return 0;
  p.font = XLoadQueryFont(p.display, kFont);
  if (!p.font) p.font = XLoadQueryFont(p.display, "fixed");
  if (!p.font) return 0;
  const int screen = DefaultScreen(p.display);
  p.visual = DefaultVisual(p.display, screen);
  p.defaultPosition = menu.defaultPosition;
  p.ids = menu.ids;
  int textWidth = 0;
  int y = kPadding;
  for (const std::string& text : menu.texts) {
    p.labels.push_back(Label(text));
    textWidth =
        std::max(textWidth, XTextWidth(p.font, p.labels.back().c_str(), static_cast<int>(p.labels.back().size())) + 1);
    p.tops.push_back(y);
    y += p.labels.back().empty() && p.ids[p.tops.size() - 1] == 0 ? kSeparatorHeight : kItemHeight;
  }
  p.width = std::max(120, textWidth + 2 * kTextLeft);
  p.height = y + kPadding;
  // At the pointer, turned to stay on the screen.
  platform::x11::Pointer pointer;
  platform::x11::QueryPointer(p.display, &pointer);
  int x = pointer.x;
  int top = pointer.y;
  if (x + p.width > DisplayWidth(p.display, screen)) x -= p.width;
  if (top + p.height > DisplayHeight(p.display, screen)) top -= p.height;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.save_under = True;
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask;
  p.window = XCreateWindow(p.display, DefaultRootWindow(p.display), std::max(0, x), std::max(0, top),
                           static_cast<unsigned>(p.width), static_cast<unsigned>(p.height), 0, CopyFromParent,
                           InputOutput, CopyFromParent, CWOverrideRedirect | CWSaveUnder | CWEventMask, &attributes);
  XClassHint hint{const_cast<char*>("popupmenu"), program_invocation_short_name};
  XSetClassHint(p.display, p.window, &hint);
  const Atom type = XInternAtom(p.display, "_NET_WM_WINDOW_TYPE", False);
  const Atom popupMenu = XInternAtom(p.display, "_NET_WM_WINDOW_TYPE_POPUP_MENU", False);
  XChangeProperty(p.display, p.window, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&popupMenu), 1);
  p.gc = XCreateGC(p.display, p.window, 0, nullptr);
  XSetFont(p.display, p.gc, p.font->fid);
  XMapRaised(p.display, p.window);
  XSync(p.display, False);
  if (!Grab(p)) {
    platform::LogLine("tray", "the pointer is held elsewhere: no menu");
    return 0;
  }
  for (;;) {
    XEvent event;
    XNextEvent(p.display, &event);
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) p.Paint();
        break;
      case MotionNotify: {
        const int hover = p.ItemAt(event.xmotion.x, event.xmotion.y);
        if (hover != p.hover) {
          p.hover = hover;
          p.Paint();
        }
        break;
      }
      case ButtonPress:
        if (event.xbutton.x < 0 || event.xbutton.y < 0 || event.xbutton.x >= p.width || event.xbutton.y >= p.height) {
          return 0;  // a click elsewhere
        }
        break;
      case ButtonRelease: {
        const int item = p.ItemAt(event.xbutton.x, event.xbutton.y);
        if (p.Choosable(item)) return p.ids[static_cast<std::size_t>(item)];
        break;
      }
      case KeyPress: {
        const KeySym key = XLookupKeysym(&event.xkey, 0);
        if (key == XK_Escape) return 0;
        if ((key == XK_Return || key == XK_KP_Enter) && p.Choosable(p.hover)) {
          return p.ids[static_cast<std::size_t>(p.hover)];
        }
        if (key == XK_Down || key == XK_Up) {
          const int count = static_cast<int>(p.ids.size());
          for (int step = 0, at = p.hover; step < count; ++step) {
            at = ((key == XK_Down ? at + 1 : at - 1) % count + count) % count;
            if (p.Choosable(at)) {
              p.hover = at;
              break;
            }
          }
          p.Paint();
        }
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace platform::tray::xembed
