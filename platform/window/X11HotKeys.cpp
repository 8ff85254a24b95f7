#include "platform/window/X11HotKeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/html/X11Display.h"
#include "platform/kernel/Log.h"
#include "platform/window/Window.h"
#include "platform/window/WinUser.h"

namespace platform::x11 {

namespace {

// Locks that must not stop a hot key: CapsLock, NumLock (Mod2 on every
// common keyboard map).
constexpr unsigned int kLocks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr int kPlayPause = 14;  // APPCOMMAND_MEDIA_PLAY_PAUSE

struct Grabbed {
  UINT modifiers;
  UINT key;
  KeyCode code;
  unsigned int mask;
};

// Every Xlib call on the connection is made under the mutex; the reader
// waits in poll() outside it and is woken through a pipe when a call may
// have queued events.
struct Grabber {
  std::mutex mutex;
  bool tried = false;
  Display* display = nullptr;
  int wake[2] = {-1, -1};
  std::vector<Grabbed> grabbed;
  KeyCode mediaKey = 0;
  HWND mediaWindow = nullptr;  // takes the media key's presses
  bool refused = false;
  bool lost = false;  // the display has gone: nothing more is read or grabbed
};

Grabber& TheGrabber() {
  static Grabber* const grabber = new Grabber;  // its thread runs until the process ends
  return *grabber;
}

int NoteError(Display*, XErrorEvent* error) {
  if (error->error_code == BadAccess) TheGrabber().refused = true;
  return 0;
}

KeySym KeySymOf(UINT key) {
  if (key >= 'A' && key <= 'Z') return XK_a + (key - 'A');
  if (key >= '0' && key <= '9') return XK_0 + (key - '0');
  if (key >= VK_F1 && key <= VK_F1 + 11) return XK_F1 + (key - VK_F1);
  return NoSymbol;
}

unsigned int MaskOf(UINT modifiers) {
  unsigned int mask = 0;
  if (modifiers & MOD_ALT) mask |= Mod1Mask;
  if (modifiers & MOD_CONTROL) mask |= ControlMask;
  if (modifiers & MOD_SHIFT) mask |= ShiftMask;
  if (modifiers & MOD_WIN) mask |= Mod4Mask;
  return mask;
}

// The display going away (the user logs out) is no reason to end the program
// from this thread: the connection is only given up.
void DisplayLost(Display*, void* grabber) { static_cast<Grabber*>(grabber)->lost = true; }
// Xlib's own report would end the process before DisplayLost is asked;
// every other connection still ends it, as before.
int ReportLoss(Display*) { return 0; }

void Read(Grabber& g) {
  for (;;) {
    pollfd fds[2] = {{ConnectionNumber(g.display), POLLIN, 0}, {g.wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) {
      char drain[64];
      [[maybe_unused]] const auto n = ::read(g.wake[0], drain, sizeof drain);
    }
    std::vector<std::pair<UINT, UINT>> presses;
    HWND media = nullptr;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      if (g.lost) return;
      while (!g.lost && XPending(g.display) > 0) {
        XEvent event;
        XNextEvent(g.display, &event);
        if (event.type != KeyPress) continue;
        if (g.mediaKey != 0 && event.xkey.keycode == g.mediaKey) media = g.mediaWindow;
        const unsigned int state = event.xkey.state & (Mod1Mask | ControlMask | ShiftMask | Mod4Mask);
        for (const Grabbed& k : g.grabbed) {
          if (k.code == event.xkey.keycode && k.mask == state) presses.emplace_back(k.modifiers, k.key);
        }
      }
    }
    for (const auto& [modifiers, key] : presses) platform::PressHotKey(modifiers, key);
    // As the desktop API says it: the command in the high word, from a key.
    if (media) ::PostMessage(media, WM_APPCOMMAND, reinterpret_cast<WPARAM>(media), MAKELPARAM(0, kPlayPause));
  }
}

// Under the mutex.
Display* Open(Grabber& g) {
  if (g.tried) return g.display;
  g.tried = true;
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name || ::pipe(g.wake) != 0) return nullptr;
  g.display = XOpenDisplay(name);
  if (!g.display) return nullptr;
  platform::x11::NoteErrorsOf(g.display, NoteError);
  XSetIOErrorHandler(ReportLoss);
  XSetIOErrorExitHandler(g.display, DisplayLost, &g);
  // Auto-repeat sends presses only, not a release and press each time.
  XkbSetDetectableAutoRepeat(g.display, True, nullptr);
  std::thread([&g] { Read(g); }).detach();
  return g.display;
}

void Wake(Grabber& g) {
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(g.wake[1], &byte, 1);
}

// Under the mutex: the key with each of the locks, all or none.
bool GrabLocked(Grabber& g, KeyCode code, unsigned int mask) {
  Display* display = g.display;
  const Window root = DefaultRootWindow(display);
  XSync(display, False);
  g.refused = false;
  for (unsigned int lockMask : kLocks)
    XGrabKey(display, code, mask | lockMask, root, True, GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  const bool refused = g.refused;
  if (refused) {
    for (unsigned int lockMask : kLocks) XUngrabKey(display, code, mask | lockMask, root);
    XSync(display, False);
  }
  return !refused;
}

}  // namespace

bool GrabHotKey(UINT modifiers, UINT virtualKey) {
  Grabber& g = TheGrabber();
  std::lock_guard<std::mutex> lock(g.mutex);
  Display* display = Open(g);
  if (!display || g.lost) return true;
  const KeySym sym = KeySymOf(virtualKey);
  const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
  if (code == 0) return false;
  const unsigned int mask = MaskOf(modifiers);
  const bool grabbed = GrabLocked(g, code, mask);
  if (grabbed) g.grabbed.push_back(Grabbed{modifiers, virtualKey, code, mask});
  Wake(g);
  return grabbed;
}

bool GrabMediaKey(HWND hwnd) {
  Grabber& g = TheGrabber();
  std::lock_guard<std::mutex> lock(g.mutex);
  Display* display = Open(g);
  if (!display || g.lost) return true;
  if (g.mediaKey == 0) {
    const KeyCode code = XKeysymToKeycode(display, XF86XK_AudioPlay);
    if (code == 0) {
      platform::LogLine("media key", "the keyboard has no play/pause key");
      return false;
    }
    if (!GrabLocked(g, code, 0)) {
      platform::LogLine("media key", "another program holds the play/pause key");
      return false;
    }
    g.mediaKey = code;
  }
  g.mediaWindow = hwnd;
  Wake(g);
  return true;
}

void UngrabMediaKey(HWND hwnd) {
  Grabber& g = TheGrabber();
  std::lock_guard<std::mutex> lock(g.mutex);
  if (!g.display || g.lost || g.mediaKey == 0 || g.mediaWindow != hwnd) return;
  for (unsigned int lockMask : kLocks) XUngrabKey(g.display, g.mediaKey, lockMask, DefaultRootWindow(g.display));
  XSync(g.display, False);
  g.mediaKey = 0;
  g.mediaWindow = nullptr;
  Wake(g);
}

void UngrabHotKey(UINT modifiers, UINT virtualKey) {
  Grabber& g = TheGrabber();
  std::lock_guard<std::mutex> lock(g.mutex);
  if (!g.display || g.lost) return;
  const Window root = DefaultRootWindow(g.display);
  std::erase_if(g.grabbed, [&](const Grabbed& k) {
    if (k.modifiers != modifiers || k.key != virtualKey) return false;
    for (unsigned int lockMask : kLocks) XUngrabKey(g.display, k.code, k.mask | lockMask, root);
    return true;
  });
  XSync(g.display, False);
  Wake(g);
}

bool HotKeysOnDisplay() {
  Grabber& g = TheGrabber();
  std::lock_guard<std::mutex> lock(g.mutex);
  return Open(g) != nullptr;
}

}  // namespace platform::x11
