// The folders the environment names: absolute paths only, as the XDG base
// directory rules read them.
#pragma once

#include <string>

namespace platform {

// The value of an environment variable naming an absolute path, without
// trailing slashes ("/" stays); "" otherwise (relative values are invalid
// for XDG).
std::string AbsoluteEnv(const char* name);

// An XDG base folder: what `variable` names, else `underHome` below $HOME
// ("/.config" for XDG_CONFIG_HOME); "" when neither is an absolute path.
std::string XdgFolder(const char* variable, const char* underHome);

// The folder of the programs' sockets, locks and own player: $XDG_RUNTIME_DIR
// when it is an absolute path, else "" (the caller goes to
// PrivateTempFolder()).
std::string RuntimeFolder();

// "zorva-<uid>" in $TMPDIR (an absolute path), else in /tmp: where sockets go
// without a runtime folder. The caller makes it and sees that it is private.
std::string PrivateTempFolder();

}  // namespace platform
