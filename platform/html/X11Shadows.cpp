#include "platform/html/X11Shadows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/html/X11Display.h"
#include "platform/kernel/Log.h"
#include "platform/kernel/UniqueFd.h"

namespace platform::x11 {

namespace {

class ShadowKeeper {
 public:
  ShadowKeeper() {
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) return;
    wakeRead_.Reset(wake[0]);
    wakeWrite_.Reset(wake[1]);
    display_ = OpenDisplay();
    if (!display_) return;
    root_ = DefaultRootWindow(display_);
    XVisualInfo info{};
    if (!XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &info)) {
      LogLine("x11", "no 32-bit visual: no window shadows");
      return;
    }
    visual_ = info.visual;
    colormap_ = XCreateColormap(display_, root_, visual_, AllocNone);
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
    compositor_ = XInternAtom(display_, selection.c_str(), False);
    // Every move, restack, map and unmap of a top-level window (the owners'
    // frames among them) is heard here.
    XSelectInput(display_, root_, SubstructureNotifyMask);
    XFlush(display_);
    thread_ = std::thread([this] { Run(); });
  }
  ~ShadowKeeper() {
    if (thread_.joinable()) {
      stopping_ = true;
      const char stop = 0;
      if (::write(wakeWrite_.Get(), &stop, 1) == 1)
        thread_.join();
      else
        thread_.detach();
    }
  }
  ShadowKeeper(const ShadowKeeper&) = delete;
  ShadowKeeper& operator=(const ShadowKeeper&) = delete;

  bool Ready() const { return thread_.joinable(); }

  void Set(Window owner, ShadowImage image) {
    std::lock_guard<std::mutex> lock(mutex_);
    const IgnoredErrors ignored;
    Shadow& shadow = shadows_[owner];
    if (!shadow.watched) {
      shadow.watched = true;
      XSelectInput(display_, owner, StructureNotifyMask);
    }
    shadow.image = std::move(image);
    shadow.drawn = false;
    Keep(owner, shadow, XGetSelectionOwner(display_, compositor_) != None);
    XSync(display_, False);
    Wake();
  }

  void Remove(Window owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = shadows_.find(owner);
    if (found == shadows_.end()) return;
    const IgnoredErrors ignored;
    if (found->second.window) XDestroyWindow(display_, found->second.window);
    XSelectInput(display_, owner, 0);
    shadows_.erase(found);
    XSync(display_, False);
    Wake();
  }

 private:
  struct Shadow {
    ShadowImage image;
    Window window = 0;
    bool watched = false;
    bool drawn = false;  // the window shows the image
    bool mapped = false;
    int x = 0, y = 0;  // where the window was put last
  };

  void Wake() {
    // The sync may have read events into the queue, where the wait on the
    // connection would not see them.
    const char wake = 1;
    const ssize_t woken = ::write(wakeWrite_.Get(), &wake, 1);
    static_cast<void>(woken);  // a full pipe: woken already
  }

  // The top-level window (a child of the root) that holds `window`: the
  // window manager's frame, or the window itself.
  Window TopLevelOf(Window window) {
    for (Window at = window;;) {
      Window root = 0;
      Window parent = 0;
      Window* children = nullptr;
      unsigned int count = 0;
      if (!XQueryTree(display_, at, &root, &parent, &children, &count)) return 0;
      if (children) XFree(children);
      if (parent == root || parent == 0) return at;
      at = parent;
    }
  }

  // Whether `window` lies directly below `above` among the root's children.
  bool DirectlyBelow(Window window, Window above) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, root_, &root, &parent, &children, &count) || !children) return false;
    bool below = false;
    for (unsigned int i = 1; i < count; ++i) {  // bottom to top
      if (children[i] == above) {
        below = children[i - 1] == window;
        break;
      }
    }
    XFree(children);
    return below;
  }

  void Draw(Shadow& shadow) {
    const ShadowImage& image = shadow.image;
    XResizeWindow(display_, shadow.window, static_cast<unsigned>(image.width), static_cast<unsigned>(image.height));
    const Pixmap pixmap = XCreatePixmap(display_, shadow.window, static_cast<unsigned>(image.width),
                                        static_cast<unsigned>(image.height), 32);
    const GC gc = XCreateGC(display_, pixmap, 0, nullptr);
    // XDestroyImage frees the data: a copy of its own.
    const std::size_t bytes = image.pixels.size() * sizeof(std::uint32_t);
    auto* data = static_cast<char*>(std::malloc(bytes));
    if (data) {
      std::memcpy(data, image.pixels.data(), bytes);
      XImage* picture = XCreateImage(display_, visual_, 32, ZPixmap, 0, data, static_cast<unsigned>(image.width),
                                     static_cast<unsigned>(image.height), 32, 0);
      if (picture) {
        // The pixels are this machine's words; the server's order may differ.
        const std::uint32_t one = 1;
        unsigned char first = 0;
        std::memcpy(&first, &one, 1);
        picture->byte_order = first == 1 ? LSBFirst : MSBFirst;
        XPutImage(display_, pixmap, gc, picture, 0, 0, 0, 0, static_cast<unsigned>(image.width),
                  static_cast<unsigned>(image.height));
        XDestroyImage(picture);
      } else {
        std::free(data);
      }
    }
    XFreeGC(display_, gc);
    // The server keeps the picture as the window's background and paints it
    // whenever the window shows.
    XSetWindowBackgroundPixmap(display_, shadow.window, pixmap);
    XFreePixmap(display_, pixmap);
    XClearWindow(display_, shadow.window);
    shadow.drawn = true;
  }

  // The shadow made, drawn, placed and stacked as its owner is now; hidden
  // while the owner is; gone without a compositing manager.
  void Keep(Window owner, Shadow& shadow, bool composited) {
    const bool hasImage = shadow.image.width > 0 && shadow.image.height > 0;
    if (!composited || !hasImage) {
      if (shadow.window) XDestroyWindow(display_, shadow.window);
      shadow.window = 0;
      shadow.mapped = false;
      shadow.drawn = false;
      return;
    }
    if (!shadow.window) {
      XSetWindowAttributes attributes{};
      attributes.override_redirect = True;  // placed by the program, not the window manager
      attributes.colormap = colormap_;
      attributes.border_pixel = 0;
      attributes.background_pixel = 0;
      shadow.window = XCreateWindow(display_, root_, 0, 0, static_cast<unsigned>(shadow.image.width),
                                    static_cast<unsigned>(shadow.image.height), 0, 32, InputOutput, visual_,
                                    CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel, &attributes);
      if (!shadow.window) return;
      XStoreName(display_, shadow.window, "shadow");
      // Clicks go through to what lies below.
      XShapeCombineRectangles(display_, shadow.window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
      shadow.mapped = false;
      shadow.drawn = false;
      shadow.x = shadow.y = -1 << 30;
    }
    if (!shadow.drawn) Draw(shadow);
    XWindowAttributes attributes{};
    const bool viewable = XGetWindowAttributes(display_, owner, &attributes) && attributes.map_state == IsViewable;
    if (!viewable) {
      if (shadow.mapped) XUnmapWindow(display_, shadow.window);
      shadow.mapped = false;
      return;
    }
    int x = 0;
    int y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display_, owner, root_, 0, 0, &x, &y, &child)) return;
    x += shadow.image.x;
    y += shadow.image.y;
    if (x != shadow.x || y != shadow.y) {
      XMoveWindow(display_, shadow.window, x, y);
      shadow.x = x;
      shadow.y = y;
    }
    const Window frame = TopLevelOf(owner);
    if (frame && !DirectlyBelow(shadow.window, frame)) {
      XWindowChanges changes{};
      changes.sibling = frame;
      changes.stack_mode = Below;
      XConfigureWindow(display_, shadow.window, CWSibling | CWStackMode, &changes);
    }
    if (!shadow.mapped) {
      XMapWindow(display_, shadow.window);
      shadow.mapped = true;
    }
  }

  bool IsShadow(Window window) const {
    for (const auto& [owner, shadow] : shadows_) {
      if (shadow.window == window) return true;
    }
    return false;
  }

  void Run() {
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const IgnoredErrors ignored;
        bool changed = false;
        while (XPending(display_)) {
          XEvent event;
          XNextEvent(display_, &event);
          Window about = 0;
          switch (event.type) {
            case ConfigureNotify:
              about = event.xconfigure.window;
              break;
            case MapNotify:
              about = event.xmap.window;
              break;
            case UnmapNotify:
              about = event.xunmap.window;
              break;
            case ReparentNotify:
              about = event.xreparent.window;
              break;
            case DestroyNotify:
              about = event.xdestroywindow.window;
              if (auto gone = shadows_.find(about); gone != shadows_.end()) {
                if (gone->second.window) XDestroyWindow(display_, gone->second.window);
                shadows_.erase(gone);
              }
              break;
            default:
              continue;
          }
          // The shadows' own changes ask for nothing more.
          if (!IsShadow(about)) changed = true;
        }
        const bool composited = XGetSelectionOwner(display_, compositor_) != None;
        if (changed || composited != composited_) {
          composited_ = composited;
          for (auto& [owner, shadow] : shadows_) Keep(owner, shadow, composited);
        }
        XFlush(display_);
      }
      // A compositing manager starting or ending tells no one: looked for
      // now and then.
      const int ready = ::poll(fds, 2, 1000);
      if (ready < 0 && errno != EINTR) return;
      if (fds[1].revents) {
        char drained[64];
        if (::read(wakeRead_.Get(), drained, sizeof drained) <= 0 || stopping_) return;
      }
    }
  }

  std::mutex mutex_;
  std::atomic<bool> stopping_{false};
  Display* display_ = nullptr;
  Window root_ = 0;
  Visual* visual_ = nullptr;
  Colormap colormap_ = 0;
  Atom compositor_ = None;
  bool composited_ = false;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::map<Window, Shadow> shadows_;  // by owner
  std::thread thread_;
};

ShadowKeeper& TheShadowKeeper() {
  static ShadowKeeper keeper;
  return keeper;
}

}  // namespace

bool SetShadow(WindowId owner, ShadowImage image) {
  if (!owner || image.width < 0 || image.height < 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
    return false;
  }
  ShadowKeeper& keeper = TheShadowKeeper();
  if (!keeper.Ready()) return false;
  keeper.Set(static_cast<Window>(owner), std::move(image));
  return true;
}

void RemoveShadow(WindowId owner) {
  ShadowKeeper& keeper = TheShadowKeeper();
  if (keeper.Ready()) keeper.Remove(static_cast<Window>(owner));
}

}  // namespace platform::x11
