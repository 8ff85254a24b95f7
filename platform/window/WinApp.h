// The class library's application object (CWinApp) and its command-line
// reader (CCommandLineInfo): one global application object per program,
// whose InitInstance runs the program; the framework ends the process when
// it answers FALSE, and otherwise runs the thread's message loop until
// WM_QUIT, then ExitInstance. AfxWinMain is the program's entry.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/WinTypes.h"

class CWnd;

class CCommandLineInfo {
 public:
  virtual ~CCommandLineInfo() = default;
  // One parameter: `param` without its leading "/" or "-" when `flag`;
  // `last` for the last parameter. The base keeps the first plain parameter
  // as the file name and nothing else.
  virtual void ParseParam(const char* param, BOOL flag, BOOL last);

  std::string m_strFileName;
};

class CWinApp {
 public:
  // `appName` names the program in its profile (the program file's base
  // name when null). Becomes the application object of AfxGetApp.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return TRUE; }
  // The exit code of the process.
  virtual int ExitInstance() { return 0; }
  // The thread's message loop until WM_QUIT.
  virtual int Run();

  // Each argument after the program's name through ParseParam: one starting
  // with "/" or "-" is a flag, given without that character.
  void ParseCommandLine(CCommandLineInfo& info);
  // Profile values under Software\<company>\<application name>.
  void SetRegistryKey(const char* company);

  const std::string& GetAppName() const { return m_pszAppName; }

  CWnd* m_pMainWnd = nullptr;
  std::string m_pszAppName;
  std::vector<std::string> m_arguments;  // the command line, program name first
};

CWinApp* AfxGetApp();

// The framework's start: keeps the command line, runs InitInstance, then Run
// when it answered TRUE, then ExitInstance; returns the exit code.
int AfxWinMain(int argc, char** argv);
