#include "platform/html/X11WindowManager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/html/X11Display.h"

namespace platform::x11 {

namespace {

// The window being moved with the pointer, one at a time.
struct Mover {
  std::mutex mutex;
  std::thread thread;
  std::atomic<bool> ending{false};
  ~Mover() {
    ending = true;
    if (thread.joinable()) thread.join();
  }
};

Mover& TheMover() {
  static Mover mover;
  return mover;
}

// A message to the window manager about `window` (EWMH: sent to the root).
void AskWindowManager(Display* display, Window window, const char* type, const long (&data)[5]) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, type, False);
  event.xclient.format = 32;
  for (int i = 0; i < 5; ++i) event.xclient.data.l[i] = data[i];
  XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace

bool SetUndecorated(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    // flags: decorations given; decorations: none. The window manager reads
    // the property only with its own type.
    const Atom hints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    const long values[5] = {2, 0, 0, 0, 0};
    XChangeProperty(display, w, hints, hints, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(values), 5);
    return true;
  });
}

bool SetOwner(WindowId window, WindowId owner) {
  return WithDisplay(window, [owner](Display* display, Window w) {
    if (owner) {
      XSetTransientForHint(display, w, static_cast<Window>(owner));
    } else {
      XDeleteProperty(display, w, XA_WM_TRANSIENT_FOR);
    }
    return true;
  });
}

bool Raise(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    XRaiseWindow(display, w);
    return true;
  });
}

bool StackedBelow(WindowId window, WindowId other) {
  bool below = false;
  WithDisplay(window, [&below, other](Display* display, Window w) {
    const Atom stacking = XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False);
    // Bottom to top.
    const std::vector<unsigned long> list =
        LongProperty(display, DefaultRootWindow(display), stacking, XA_WINDOW, 4096);
    const auto at = std::find(list.begin(), list.end(), w);
    const auto otherAt = std::find(list.begin(), list.end(), other);
    below = at != list.end() && otherAt != list.end() && at < otherAt;
    return true;
  });
  return below;
}

namespace {

void CombineShape(Display* display, Window w, const std::vector<Rect>& rectangles) {
  if (rectangles.empty()) {
    XShapeCombineMask(display, w, ShapeBounding, 0, 0, None, ShapeSet);
    return;
  }
  std::vector<XRectangle> list;
  list.reserve(rectangles.size());
  for (const Rect& r : rectangles) {
    list.push_back(XRectangle{static_cast<short>(r.x), static_cast<short>(r.y), static_cast<unsigned short>(r.width),
                              static_cast<unsigned short>(r.height)});
  }
  XShapeCombineRectangles(display, w, ShapeBounding, 0, 0, list.data(), static_cast<int>(list.size()), ShapeSet,
                          Unsorted);
}

// The browser gives its window back its whole shape each time the window
// moves or changes size: a connection of its own hears of that
// (ShapeNotify) and puts the outline back.
class ShapeKeeper {
 public:
  ShapeKeeper() {
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) return;
    display_ = OpenDisplay();
    if (!display_ || !XShapeQueryExtension(display_, &shapeEvent_, &shapeError_)) return;
    thread_ = std::thread([this] { Run(); });
  }
  ~ShapeKeeper() {
    if (thread_.joinable()) {
      stopping_ = true;
      const char stop = 0;
      if (::write(wake_[1], &stop, 1) == 1)
        thread_.join();
      else
        thread_.detach();
    }
  }
  ShapeKeeper(const ShapeKeeper&) = delete;
  ShapeKeeper& operator=(const ShapeKeeper&) = delete;

  void Keep(Window window, const std::vector<Rect>& rectangles) {
    if (!thread_.joinable()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const IgnoredErrors ignored;
    if (rectangles.empty()) {
      outlines_.erase(window);
      XShapeSelectInput(display_, window, 0);
    } else {
      outlines_[window] = rectangles;
      XShapeSelectInput(display_, window, ShapeNotifyMask);
      // Put back now what the browser may have undone before it was heard.
      CombineShape(display_, window, rectangles);
    }
    XSync(display_, False);
    // The sync may have read the browser's shape changes into the queue,
    // where the keeper's wait on the connection would not see them.
    const char wake = 1;
    const ssize_t woken = ::write(wake_[1], &wake, 1);
    static_cast<void>(woken);  // a full pipe: woken already
  }

 private:
  void Run() {
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const IgnoredErrors ignored;
        while (XPending(display_)) {
          XEvent event;
          XNextEvent(display_, &event);
          if (event.type != shapeEvent_ + ShapeNotify) continue;
          const auto& notify = reinterpret_cast<const XShapeEvent&>(event);
          auto found = outlines_.find(notify.window);
          if (notify.kind != ShapeBounding || found == outlines_.end()) continue;
          // Ours has the extents of the outline; any other is put back.
          int left = 1 << 30, top = 1 << 30, right = -(1 << 30), bottom = -(1 << 30);
          for (const Rect& r : found->second) {
            left = std::min(left, r.x);
            top = std::min(top, r.y);
            right = std::max(right, r.x + r.width);
            bottom = std::max(bottom, r.y + r.height);
          }
          if (!notify.shaped || notify.x != left || notify.y != top ||
              notify.x + static_cast<int>(notify.width) != right ||
              notify.y + static_cast<int>(notify.height) != bottom) {
            CombineShape(display_, notify.window, found->second);
          }
        }
        XFlush(display_);
      }
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents) {
        char drained[64];
        if (::read(wake_[0], drained, sizeof drained) <= 0 || stopping_) return;
      }
    }
  }

  std::mutex mutex_;
  std::atomic<bool> stopping_{false};
  Display* display_ = nullptr;
  int shapeEvent_ = 0;
  int shapeError_ = 0;
  int wake_[2] = {-1, -1};
  std::map<Window, std::vector<Rect>> outlines_;
  std::thread thread_;
};

ShapeKeeper& TheShapeKeeper() {
  static ShapeKeeper keeper;
  return keeper;
}

}  // namespace

bool SetShape(WindowId window, const std::vector<Rect>& rectangles) {
  const bool done = WithDisplay(window, [&rectangles](Display* display, Window w) {
    int event = 0;
    int error = 0;
    if (!XShapeQueryExtension(display, &event, &error)) return false;
    CombineShape(display, w, rectangles);
    return true;
  });
  if (done) TheShapeKeeper().Keep(static_cast<Window>(window), rectangles);
  return done;
}

bool Iconify(WindowId window) {
  return WithDisplay(
      window, [](Display* display, Window w) { return XIconifyWindow(display, w, DefaultScreen(display)) != 0; });
}

bool IsIconic(WindowId window) {
  bool iconic = false;
  WithDisplay(window, [&iconic](Display* display, Window w) {
    const Atom state = XInternAtom(display, "WM_STATE", False);
    const std::vector<unsigned long> items = LongProperty(display, w, state, state, 2);
    iconic = !items.empty() && items[0] == IconicState;
    return true;
  });
  return iconic;
}

bool Activate(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    // Source 2: asked for by the user, as a task bar would.
    AskWindowManager(display, w, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0, 0, 0});
    return true;
  });
}

namespace {

// `pressed`: the point of the window kept under the pointer; none: the
// pointer's place now.
bool Move(WindowId window, const Point* pressed) {
  // The browser holds the pointer while its button is down, so a window
  // manager asked to move the window (_NET_WM_MOVERESIZE) cannot take it:
  // the window follows the pointer from here until the button is let go.
  Mover& mover = TheMover();
  std::lock_guard<std::mutex> lock(mover.mutex);
  if (mover.thread.joinable()) mover.thread.join();
  int pointerX = 0;
  int pointerY = 0;
  int windowX = 0;
  int windowY = 0;
  const bool held = WithDisplay(window, [&](Display* display, Window w) {
    Pointer pointer;
    if (!QueryPointer(display, &pointer)) return false;
    pointerX = pointer.x;
    pointerY = pointer.y;
    Window child = 0;
    if (!XTranslateCoordinates(display, w, DefaultRootWindow(display), 0, 0, &windowX, &windowY, &child)) return false;
    return (pointer.mask & Button1Mask) != 0;
  });
  if (!held) return false;
  if (pressed) {
    // The window has not moved since the press: the pointer was there.
    pointerX = windowX + pressed->x;
    pointerY = windowY + pressed->y;
  }
  mover.thread = std::thread([window, pointerX, pointerY, windowX, windowY, &mover] {
    for (int lastX = pointerX, lastY = pointerY;;) {
      int x = 0;
      int y = 0;
      bool down = false;
      WithDisplay(window, [&](Display* display, Window w) {
        Pointer pointer;
        if (!QueryPointer(display, &pointer)) return false;
        x = pointer.x;
        y = pointer.y;
        down = (pointer.mask & Button1Mask) != 0;
        if (x != lastX || y != lastY) XMoveWindow(display, w, windowX + x - pointerX, windowY + y - pointerY);
        return true;
      });
      lastX = x;
      lastY = y;
      if (!down || mover.ending) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the pointer's pace, not a wait for anything
    }
  });
  return true;
}

}  // namespace

bool BeginMove(WindowId window) { return Move(window, nullptr); }

bool BeginMove(WindowId window, Point pressed) { return Move(window, &pressed); }

}  // namespace platform::x11
