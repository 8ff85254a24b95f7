#include "core/TagType.h"

namespace {
constexpr const char* kTypeWords[] = {"genre", "album", "artist", "mix", "zorva", "playlist"};
}

const char* TagTypeWord(int type) {
  if (type < 0 || type >= static_cast<int>(sizeof kTypeWords / sizeof kTypeWords[0])) return "";
  return kTypeWords[type];
}
