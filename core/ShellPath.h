// Paths of the program's own files and of the user's folders, shortcuts, and
// the shell's file copy.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/WinTypes.h"
#include "platform/shell/Shell.h"

// Folder kinds of ShellPath.
enum ShellPathKind {
  SHELLPATH_NONE = 0,           // nothing resolved; the path is set later
  SHELLPATH_MODULE = 1,         // the running program's file
  SHELLPATH_LOCAL_APPDATA = 2,  // the user's local application data (else the temporary folder)
  SHELLPATH_MODULE_FOLDER = 3,  // the running program's folder
  SHELLPATH_STARTUP = 10,       // the folder whose shortcuts start with the desktop session
};

// A path kept as drive, directory, file name and extension. Folders use "/"
// and there are no drives here, so the drive part stays empty. A directory
// holds its leading and trailing "/", the extension its dot.
class ShellPath {
 public:
  explicit ShellPath(int kind = SHELLPATH_NONE);
  explicit ShellPath(const std::string& path);

  void SetKind(int kind);
  void SetPath(const std::string& path);
  // Takes the file name and extension of name; any folder part is dropped.
  void SetFileName(const std::string& name);
  void AppendDirectory(const std::string& name);

  std::string GetFullPath() const;
  std::string GetDirectory() const;
  // Drive and directory: the folder that holds the file, ending in "/".
  std::string GetFolder() const;
  bool Exists() const;

 private:
  std::string m_drive;
  std::string m_directory;
  std::string m_fileName;
  std::string m_extension;
};

bool FileExists(const std::string& path);

// The file that CreateShortcut writes for shortcutPath: shortcuts here are
// desktop entries, and the session's autostart starts only "*.desktop" files,
// so a ".lnk" ending becomes ".desktop" (and one is added when missing).
std::string ShortcutFilePath(const std::string& shortcutPath);

// Writes a shortcut to target at ShortcutFilePath(shortcutPath); arguments
// are one command-line text. False when it could not be written.
bool CreateShortcut(const std::string& target, const std::string& shortcutPath, const std::string* arguments = nullptr);
bool CreateShortcut(const std::string& target, const std::string& shortcutPath, const std::string& arguments);

using platform::shell::FO_COPY;
using platform::shell::FO_DELETE;
using platform::shell::FO_MOVE;
using platform::shell::FO_RENAME;

// A copy, move, rename or delete of files in one go.
class ShellFileOperation {
 public:
  ShellFileOperation() = default;

  void AddSourceFile(const std::string& path);
  void AddDestFile(const std::string& path);
  void ClearSourceFiles();
  void ClearDestFiles();
  void SetProgressTitle(const std::string& title);
  // operation is FO_COPY, FO_MOVE, FO_RENAME or FO_DELETE.
  void SetOperationFlags(UINT operation, bool silent, bool allowUndo, bool filesOnly, bool noConfirmation,
                         bool noConfirmationMkdir, bool renameOnCollision, bool simpleProgress);
  // True when every file was handled; anyAborted tells whether some were left
  // alone (an existing destination without leave to replace it).
  bool Go(bool* anyAborted = nullptr);

 private:
  std::vector<std::string> m_sources;
  std::vector<std::string> m_destinations;
  std::string m_progressTitle;
  UINT m_operation = FO_COPY;
  UINT m_flags = 0;
};
