#include "platform/window/WinApp.h"

#include <cstring>

#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"

namespace {

CWinApp* theApp = nullptr;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

void CCommandLineInfo::ParseParam(const char* param, BOOL flag, BOOL) {
  if (!flag && m_strFileName.empty()) m_strFileName = param;
}

CWinApp::CWinApp(const char* appName) {
  m_pszAppName = appName != nullptr ? appName : BaseName(platform::shell::ModuleFileName());
  theApp = this;
}

CWinApp::~CWinApp() {
  if (theApp == this) theApp = nullptr;
}

int CWinApp::Run() { return platform::RunMessageLoop(); }

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  for (std::size_t i = 1; i < m_arguments.size(); ++i) {
    const std::string& argument = m_arguments[i];
    const bool flag = !argument.empty() && (argument[0] == '/' || argument[0] == '-');
    info.ParseParam(flag ? argument.c_str() + 1 : argument.c_str(), flag ? TRUE : FALSE,
                    i + 1 == m_arguments.size() ? TRUE : FALSE);
  }
}

void CWinApp::SetRegistryKey(const char* company) {
  ::SetRegistryKey(company);
  SetProfileName(m_pszAppName.c_str());
}

CWinApp* AfxGetApp() { return theApp; }

int AfxWinMain(int argc, char** argv) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->m_arguments.assign(argv, argv + argc);
  if (!app->InitInstance()) return app->ExitInstance();
  app->Run();
  return app->ExitInstance();
}
