// Stands for the desktop shell and the file-system calls that the program
// makes of it: the program's own file, the special folders (Local AppData,
// temporary, Startup), shortcuts, opening a link in the user's browser, the
// shell's file copy, and CreateDirectory/_access.
//
// Special folders follow the XDG base directories: Local AppData is the data
// home, the Startup folder is the autostart folder of the configuration home,
// and a shortcut is a desktop entry file.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>
#include <string>
#include <vector>

#include "platform/kernel/WinTypes.h"

namespace platform::shell {

// The running program's file ("" when it cannot be had).
std::string ModuleFileName();
// $XDG_DATA_HOME, default $HOME/.local/share, ending in "/"; created (0700)
// when missing, as the folder always exists on the desktop. "" when neither
// variable names an absolute path or the folder cannot be made.
std::string LocalAppDataFolder();
// $TMPDIR, default /tmp, ending in "/".
std::string TempFolder();
// The folder of the user's data, for both programs and their player: "Zorva"
// in the Local AppData folder (in the temporary folder when there is none),
// ending in "/"; made when missing and kept private (0700). The files of a
// returning user's older "zorva" folder beside it are moved in, each one the
// new folder does not hold yet; one it holds too stays in the old folder
// (logged), so nothing is lost. An old folder so emptied becomes a link to
// the new one.
std::string DataFolder();
// $XDG_CONFIG_HOME/autostart (default $HOME/.config/autostart), ending in
// "/"; "" when neither variable names an absolute path.
std::string StartupFolder();

// Writes a desktop entry at shortcutPath (an absolute path; missing folders
// are made) that starts target with the arguments, given as one command-line
// text and split the way a program splits its command line. The desktop's
// autostart starts such entries when they end in ".desktop". False when the
// file cannot be written.
bool WriteShortcut(const std::string& target, const std::string& shortcutPath, const std::string* arguments);

// Opens url with xdg-open, started directly with an argument list (never
// through a shell). Only http and https addresses are opened; any other
// scheme (file:, javascript:...) or a control character gives false and
// starts nothing. True when the program was started.
bool OpenUrl(const std::string& url);

// Starts argv[0] (searched in PATH) with argv in a working folder ("" for
// the caller's own), without waiting for it; true when it was started.
// Replaceable so that tests see what would be started; a replacement may
// take the argument list alone.
class Starter {
 public:
  using Function = std::function<bool(const std::vector<std::string>& argv, const std::string& folder)>;
  Starter() = default;
  template <class F>
  requires std::is_invocable_r_v < bool, F&, const std::vector<std::string>
  &, const std::string& > Starter(F function) : function_(std::move(function)) {}
  template <class F>
  requires(std::is_invocable_r_v<bool, F&, const std::vector<std::string>&> &&
           !std::is_invocable_r_v<bool, F&, const std::vector<std::string>&, const std::string&>) Starter(F function)
      : function_([function = std::move(function)](const std::vector<std::string>& argv, const std::string&) mutable {
          return function(argv);
        }) {}
  explicit operator bool() const { return static_cast<bool>(function_); }
  bool operator()(const std::vector<std::string>& argv, const std::string& folder = {}) const {
    return function_(argv, folder);
  }

 private:
  Function function_;
};
// Installs a starter (an empty one restores the real one); returns the old.
Starter SetStarter(Starter starter);
// Starts a program (argv[0] a path, or a name searched in PATH) through the
// installed starter, as the shell starts a program file, in `folder` when
// one is given; true when started.
bool StartProgram(const std::vector<std::string>& argv, const std::string& folder = {});

// Writes data to path whole or not at all (through a temporary file beside
// it), readable and writable by the user alone (0600). Returns 0 on success,
// else the error number.
int WritePrivateFile(const std::string& path, const std::string& data);
// Takes every permission of group and others off an existing file (a file
// written before files were kept private). Returns 0 on success or when
// there was nothing to take, else the error number.
int MakeFilePrivate(const std::string& path);

// Renames a file or folder that cannot be used to path + ".damaged-N" (the
// first N free), so that a new one can take its place and nothing of the
// old one is lost; a rollback journal beside a file ("-journal") goes with
// it. Gives the new name, or "" when it could not be moved.
std::string KeepAside(const std::string& path);

// The shell's file operations, with the desktop API's values.
constexpr UINT FO_MOVE = 0x0001;
constexpr UINT FO_COPY = 0x0002;
constexpr UINT FO_DELETE = 0x0003;
constexpr UINT FO_RENAME = 0x0004;

constexpr UINT FOF_MULTIDESTFILES = 0x0001;
constexpr UINT FOF_SILENT = 0x0004;
constexpr UINT FOF_RENAMEONCOLLISION = 0x0008;
constexpr UINT FOF_NOCONFIRMATION = 0x0010;
constexpr UINT FOF_ALLOWUNDO = 0x0040;
constexpr UINT FOF_FILESONLY = 0x0080;
constexpr UINT FOF_SIMPLEPROGRESS = 0x0100;
constexpr UINT FOF_NOCONFIRMMKDIR = 0x0200;

// Copies, moves, renames or deletes files (folders are not handled: an
// operation on a folder fails). Destinations: one per source with
// FOF_MULTIDESTFILES, else one folder (existing, ending in "/", or made when
// there are several sources) or, for a single source, one file path. A
// destination that exists is replaced only with FOF_NOCONFIRMATION (nobody
// can be asked here), renamed away from with FOF_RENAMEONCOLLISION, and left
// alone otherwise, which counts as an aborted operation. Copies reach their
// destination complete or not at all. There is no progress display and no
// undo. Returns 0 on success, else the error number of the first failure.
int FileOperation(UINT operation, const std::vector<std::string>& from, const std::vector<std::string>& to, UINT flags,
                  bool* anyAborted);

}  // namespace platform::shell

// Makes a folder (0700). Last error: ERROR_ALREADY_EXISTS when it exists,
// ERROR_PATH_NOT_FOUND when its parent is missing, else ERROR_ACCESS_DENIED.
BOOL CreateDirectoryA(const char* path, void* securityAttributes);

// 0 when path is accessible in mode (0 exists, 2 write, 4 read, 6 both),
// -1 otherwise.
int _access(const char* path, int mode);
