// Makes Chromium the browser of every HTML dialog (CDHtmlDialog): each
// dialog's page becomes a ChromiumHtmlDocument of the process's browser. The
// programs call InstallChromiumBrowser at start; unit tests do not, and keep
// the in-memory document.
//
// With a display (DISPLAY or WAYLAND_DISPLAY, and ZORVA_HEADLESS not 1) each
// page is an app window of its own that follows its dialog's browser window
// in this layer: placed at its screen position and size, moved, resized,
// shown and hidden with it. Without one the pages run headless.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace platform {

// False when the browser cannot start (one line on standard error names the
// Debian package chromium); dialogs then keep the in-memory document. The
// browser is closed when the program exits, its processes waited for.
bool InstallChromiumBrowser();

// The X window that shows the page of `dialog` (a dialog of this layer whose
// page is shown on an X display); 0 for any other window.
unsigned long PageXWindow(HWND dialog);

}  // namespace platform
