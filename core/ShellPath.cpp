#include "core/ShellPath.h"

#include <cstddef>

namespace {

// Splits a path into directory (up to and with the last "/"), file name and
// extension (from the last dot of the name on).
void SplitPath(const std::string& path, std::string& directory, std::string& fileName, std::string& extension) {
  const size_t slash = path.rfind('/');
  directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  fileName = dot == std::string::npos ? name : name.substr(0, dot);
  extension = dot == std::string::npos ? std::string() : name.substr(dot);
}

bool EndsWithNoCase(const std::string& text, const std::string& ending) {
  if (text.size() < ending.size()) return false;
  for (size_t i = 0; i < ending.size(); ++i) {
    char c = text[text.size() - ending.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ending[i]) return false;
  }
  return true;
}

}  // namespace

ShellPath::ShellPath(int kind) { SetKind(kind); }

ShellPath::ShellPath(const std::string& path) { SetPath(path); }

void ShellPath::SetKind(int kind) {
  m_drive.clear();
  m_directory.clear();
  m_fileName.clear();
  m_extension.clear();
  switch (kind) {
    case SHELLPATH_MODULE:
      SetPath(platform::shell::ModuleFileName());
      break;
    case SHELLPATH_LOCAL_APPDATA: {
      const std::string folder = platform::shell::LocalAppDataFolder();
      SetPath(folder.empty() ? platform::shell::TempFolder() : folder);
      break;
    }
    case SHELLPATH_MODULE_FOLDER:
      SetPath(platform::shell::ModuleFileName());
      m_fileName.clear();
      m_extension.clear();
      break;
    case SHELLPATH_STARTUP:
      // Without a configuration folder nothing is resolved, and the shortcut
      // writer refuses the relative path that results.
      SetPath(platform::shell::StartupFolder());
      break;
    default:
      break;
  }
}

void ShellPath::SetPath(const std::string& path) {
  m_drive.clear();
  SplitPath(path, m_directory, m_fileName, m_extension);
}

void ShellPath::SetFileName(const std::string& name) {
  std::string ignored;
  SplitPath(name, ignored, m_fileName, m_extension);
}

void ShellPath::AppendDirectory(const std::string& name) { m_directory += name + "/"; }

std::string ShellPath::GetFullPath() const { return m_drive + m_directory + m_fileName + m_extension; }

std::string ShellPath::GetDirectory() const { return m_directory; }

std::string ShellPath::GetFolder() const { return m_drive + m_directory; }

bool ShellPath::Exists() const { return FileExists(GetFullPath()); }

bool FileExists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

std::string ShortcutFilePath(const std::string& shortcutPath) {
  if (EndsWithNoCase(shortcutPath, ".desktop")) return shortcutPath;
  if (EndsWithNoCase(shortcutPath, ".lnk")) return shortcutPath.substr(0, shortcutPath.size() - 4) + ".desktop";
  return shortcutPath + ".desktop";
}

bool CreateShortcut(const std::string& target, const std::string& shortcutPath, const std::string* arguments) {
  // Reports whether the file was really written.
  return platform::shell::WriteShortcut(target, ShortcutFilePath(shortcutPath), arguments);
}

bool CreateShortcut(const std::string& target, const std::string& shortcutPath, const std::string& arguments) {
  return CreateShortcut(target, shortcutPath, &arguments);
}

void ShellFileOperation::AddSourceFile(const std::string& path) { m_sources.push_back(path); }

void ShellFileOperation::AddDestFile(const std::string& path) { m_destinations.push_back(path); }

void ShellFileOperation::ClearSourceFiles() { m_sources.clear(); }

void ShellFileOperation::ClearDestFiles() { m_destinations.clear(); }

void ShellFileOperation::SetProgressTitle(const std::string& title) { m_progressTitle = title; }

void ShellFileOperation::SetOperationFlags(UINT operation, bool silent, bool allowUndo, bool filesOnly,
                                           bool noConfirmation, bool noConfirmationMkdir, bool renameOnCollision,
                                           bool simpleProgress) {
  using namespace platform::shell;
  m_operation = operation;
  m_flags = 0;
  if (silent) m_flags |= FOF_SILENT;
  if (allowUndo) m_flags |= FOF_ALLOWUNDO;
  if (filesOnly) m_flags |= FOF_FILESONLY;
  if (noConfirmation) m_flags |= FOF_NOCONFIRMATION;
  if (noConfirmationMkdir) m_flags |= FOF_NOCONFIRMMKDIR;
  if (renameOnCollision) m_flags |= FOF_RENAMEONCOLLISION;
  if (simpleProgress) m_flags |= FOF_SIMPLEPROGRESS;
}

bool ShellFileOperation::Go(bool* anyAborted) {
  UINT flags = m_flags;
  // One destination per source pairs them up, as the list was built.
  if (m_destinations.size() > 1 && m_destinations.size() == m_sources.size()) {
    flags |= platform::shell::FOF_MULTIDESTFILES;
  }
  bool aborted = false;
  const int result = platform::shell::FileOperation(m_operation, m_sources, m_destinations, flags, &aborted);
  if (anyAborted != nullptr) *anyAborted = aborted;
  return result == 0 && !aborted;
}
