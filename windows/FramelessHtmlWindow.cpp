#include "windows/FramelessHtmlWindow.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "core/ShellPath.h"
#include "platform/html/Url.h"
#include "platform/profile/Profile.h"

namespace {

const char kPlacementSection[] = "Position";

struct PageFolder {
  std::mutex mutex;
  std::string folder;
};

PageFolder& ThePageFolder() {
  static PageFolder* const folder = new PageFolder;
  return *folder;
}

std::string Normal(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

bool SameAscii(const std::string& text, const char* lower) {
  if (text.size() != std::strlen(lower)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
  }
  return true;
}

// A "file:" URL of this machine: no host, or "localhost". "file://server/..."
// names a file of another machine, however its path reads.
bool IsLocalFileUrl(const std::string& url) {
  if (url.size() < 5 || !SameAscii(url.substr(0, 5), "file:")) return false;
  if (url.compare(5, 2, "//") != 0) return true;
  const std::size_t end = url.find_first_of("/?#", 7);
  const std::string host = url.substr(7, end == std::string::npos ? std::string::npos : end - 7);
  return host.empty() || SameAscii(host, "localhost");
}

}  // namespace

std::function<POINT(SIZE, SIZE)> FramelessWindowConfig::BesideCentre(int halfWidths, int dx, int dy,
                                                                     bool keepRightEdgeOnDesktop) {
  return [=](SIZE desktop, SIZE window) {
    LONG top = desktop.cy / 2 - window.cy / 2 + dy;
    if (top < 0) top = 0;
    LONG left = desktop.cx / 2 + (window.cx * halfWidths) / 2 + dx;
    if (keepRightEdgeOnDesktop) {
      if (left + window.cx > desktop.cx) left = desktop.cx - window.cx;
    } else if (left < 0) {
      left = 0;
    }
    return POINT{left, top};
  };
}

CFramelessHtmlWindow::CFramelessHtmlWindow(FramelessWindowConfig config, const DialogTemplate& dialog,
                                           UINT htmlResource, CWnd* parent)
    : CDHtmlDialog(dialog, htmlResource, parent), config_(std::move(config)) {}

CFramelessHtmlWindow::~CFramelessHtmlWindow() {
  if (m_hWnd && ::IsWindow(m_hWnd) && GetWindowThreadId(m_hWnd) == GetCurrentThreadId()) DestroyWindow();
}

void CFramelessHtmlWindow::SetPageFolder(const std::string& folder) {
  PageFolder& pages = ThePageFolder();
  std::lock_guard<std::mutex> lock(pages.mutex);
  pages.folder = folder;
  if (!pages.folder.empty() && pages.folder.back() != '/') pages.folder += '/';
}

std::string CFramelessHtmlWindow::GetPageFolder() {
  {
    PageFolder& pages = ThePageFolder();
    std::lock_guard<std::mutex> lock(pages.mutex);
    if (!pages.folder.empty()) return pages.folder;
  }
  return ShellPath(SHELLPATH_MODULE_FOLDER).GetFolder();
}

std::string CFramelessHtmlWindow::PageUrl(const std::string& pageFile) {
  return platform::FileUrl(GetPageFolder() + pageFile);
}

const MessageMap& CFramelessHtmlWindow::ThisMessageMap() {
  static const MessageMap map(&CDHtmlDialog::ThisMessageMap(), {
                                                                   OnWmDestroy(&CFramelessHtmlWindow::OnDestroy),
                                                               });
  return map;
}

const DHtmlEventMap& CFramelessHtmlWindow::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(&CDHtmlDialog::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventOnClick("ButtonOK", &CFramelessHtmlWindow::OnButtonOK),
                                     DHtmlEventOnClick("ButtonCancel", &CFramelessHtmlWindow::OnButtonCancel),
                                     DHtmlEventTagAll("selectstart", &CFramelessHtmlWindow::OnHtmlSelectStart),
                                     DHtmlEventTagAll("dragstart", &CFramelessHtmlWindow::OnHtmlDragStart),
                                     DHtmlEventTagAll("contextmenu", &CFramelessHtmlWindow::OnHtmlContextMenu),
                                 });
  return map;
}

BOOL CFramelessHtmlWindow::OnInitDialog() {
  CDHtmlDialog::OnInitDialog();
  SetBrowserSilent(true);
  NavigateToPage();
  RestorePlacement();
  RemoveFrame();
  CutRoundedRegion();
  AttachShadow();
  ExposePageDispatch();
  return TRUE;
}

void CFramelessHtmlWindow::NavigateToPage() {
  if (!config_.pageFile.empty()) Navigate(PageUrl(config_.pageFile));
}

void CFramelessHtmlWindow::RestorePlacement() {
  if (config_.placementValue.empty() || config_.placement == FramelessWindowConfig::Placement::WriteOnly) return;
  RECT rect{};
  GetWindowRect(&rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;

  std::vector<BYTE> stored;
  // A value of any other length is not a placement: it counts as none.
  if (GetProfileBinary(kPlacementSection, config_.placementValue.c_str(), stored) &&
      stored.size() == sizeof(WINDOWPLACEMENT)) {
    WINDOWPLACEMENT placement{};
    std::memcpy(&placement, stored.data(), sizeof placement);
    placement.length = sizeof placement;  // the value's size is the record's; a stray length field would void it
    if (config_.placement == FramelessWindowConfig::Placement::RestoreHidden) {
      placement.showCmd = SW_HIDE;
    } else if (placement.showCmd != SW_SHOWMAXIMIZED) {
      placement.showCmd = SW_SHOWNORMAL;
    }
    RECT& normal = placement.rcNormalPosition;
    // A stored corner too far out to add the size to is kept as far out as it can be.
    normal.left = std::min(normal.left, std::numeric_limits<LONG>::max() - width);
    normal.top = std::min(normal.top, std::numeric_limits<LONG>::max() - height);
    if (config_.keepLargerStoredSize) {
      if (normal.right < normal.left + width) normal.right = normal.left + width;
      if (normal.bottom < normal.top + height) normal.bottom = normal.top + height;
    } else {
      normal.right = normal.left + width;
      normal.bottom = normal.top + height;
    }
    SetWindowPlacement(&placement);
    return;
  }
  if (config_.defaultPosition) {
    const POINT where = config_.defaultPosition(SIZE{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)},
                                                SIZE{width, height});
    MoveWindow(where.x, where.y, width, height, TRUE);
  }
}

void CFramelessHtmlWindow::SavePlacement() {
  if (config_.placementValue.empty() || !m_hWnd) return;
  WINDOWPLACEMENT placement{};
  if (!GetWindowPlacement(&placement)) return;
  WriteProfileBinary(kPlacementSection, config_.placementValue.c_str(), reinterpret_cast<const BYTE*>(&placement),
                     sizeof placement);
}

void CFramelessHtmlWindow::RemoveFrame() {
  ModifyStyle(WS_CAPTION | WS_THICKFRAME, 0);
  if (config_.resizable) ModifyStyle(0, WS_THICKFRAME);
}

void CFramelessHtmlWindow::CutRoundedRegion() {
  region_.DeleteObject();
  RECT rect{};
  GetWindowRect(&rect);
  region_.CreateRoundRectRgn(0, -30, rect.right - rect.left, rect.bottom - rect.top, 20, 20);
  SetWindowRgn(region_, TRUE);
}

void CFramelessHtmlWindow::AttachShadow() { shadow_.Create(m_hWnd); }

void CFramelessHtmlWindow::ExposePageDispatch() {
  if (platform::ScriptDispatch* dispatch = GetPageDispatch()) SetExternalDispatch(dispatch);
}

bool CFramelessHtmlWindow::IsPageNavigation(const std::string& url, const std::string& pageFile) {
  if (pageFile.empty()) return false;
  if (url.find(pageFile, 1) == std::string::npos) return false;
  if (url.find('#', 1) != std::string::npos) return false;
  // Only the page itself: another folder's or another host's file of that
  // name would take the window (and its window.external) away from it.
  if (!IsLocalFileUrl(url)) return false;
  std::string path;
  if (!platform::FileUrlToPath(url, &path)) return false;
  return Normal(path) == Normal(GetPageFolder() + pageFile);
}

BOOL CFramelessHtmlWindow::PreTranslateMessage(MSG* msg) {
  if (config_.keyFilter && msg && msg->message == WM_KEYDOWN) {
    if (msg->wParam == static_cast<WPARAM>(VK_RETURN)) return FALSE;  // to the page, never the default button
    if (msg->wParam == static_cast<WPARAM>(VK_F5) || msg->wParam == static_cast<WPARAM>(VK_ESCAPE)) return TRUE;
  }
  return CDHtmlDialog::PreTranslateMessage(msg);
}

void CFramelessHtmlWindow::OnBeforeNavigate(const std::string& url, bool& cancel) {
  if (!config_.navigationFilter) return;
  cancel = !IsPageNavigation(url, config_.pageFile);
}

HRESULT CFramelessHtmlWindow::DragUnlessTextEdit(platform::HtmlElement& element) {
  if (element.IsTextEdit()) return S_OK;
  StartWindowDrag();
  return S_FALSE;
}

HRESULT CFramelessHtmlWindow::OnHtmlSelectStart(platform::HtmlElement& element) { return DragUnlessTextEdit(element); }

HRESULT CFramelessHtmlWindow::OnHtmlDragStart(platform::HtmlElement& element) { return DragUnlessTextEdit(element); }

HRESULT CFramelessHtmlWindow::OnHtmlContextMenu(platform::HtmlElement& element) {
  return element.IsTextEdit() ? S_OK : S_FALSE;
}

HRESULT CFramelessHtmlWindow::OnButtonOK(platform::HtmlElement&) {
  ShowWindow(SW_HIDE);
  return S_OK;
}

HRESULT CFramelessHtmlWindow::OnButtonCancel(platform::HtmlElement&) {
  ShowWindow(SW_HIDE);
  return S_OK;
}

void CFramelessHtmlWindow::StartWindowDrag() { SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, 0); }

void CFramelessHtmlWindow::OnDestroy() {
  CDHtmlDialog::OnDestroy();
  SavePlacement();
}
