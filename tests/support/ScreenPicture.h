// A PNG picture (8-bit RGB) of a part of an X display's screen, for the
// desktop tests to leave beside the build. Header only: a test that uses it
// links X11 and zlib.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace zorva_test {

struct ScreenArea {
  int x = 0, y = 0, width = 0, height = 0;
};

// The RGB pixels of `area` of the screen of $DISPLAY (cut to the screen),
// rows from the top; `area` becomes the part read. Empty when none of it is there.
inline std::string ScreenPixels(ScreenArea& area) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return "";
  const int screenWidth = DisplayWidth(display, DefaultScreen(display));
  const int screenHeight = DisplayHeight(display, DefaultScreen(display));
  area.width = std::min(area.x + area.width, screenWidth) - std::max(area.x, 0);
  area.height = std::min(area.y + area.height, screenHeight) - std::max(area.y, 0);
  area.x = std::max(area.x, 0);
  area.y = std::max(area.y, 0);
  std::string raw;
  XImage* image = area.width > 0 && area.height > 0 ? XGetImage(display, DefaultRootWindow(display), area.x, area.y,
                                                                static_cast<unsigned>(area.width),
                                                                static_cast<unsigned>(area.height), AllPlanes, ZPixmap)
                                                    : nullptr;
  for (int y = 0; image && y < area.height; ++y) {
    for (int x = 0; x < area.width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  if (image) XDestroyImage(image);
  XCloseDisplay(display);
  return raw;
}

// Writes the picture of `area` to `file`; false when none of it is on the screen.
inline bool WriteScreenPicture(const std::string& file, ScreenArea area) {
  const std::string pixels = ScreenPixels(area);
  if (pixels.empty()) return false;
  std::string raw;
  const std::size_t row = static_cast<std::size_t>(area.width) * 3;
  for (std::size_t at = 0; at < pixels.size(); at += row) raw += '\0' + pixels.substr(at, row);
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);
  auto big = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  auto chunk = [&big](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    return big(static_cast<std::uint32_t>(data.size())) + body +
           big(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  };
  const std::string header = big(static_cast<std::uint32_t>(area.width)) +
                             big(static_cast<std::uint32_t>(area.height)) + std::string{8, 2, 0, 0, 0};
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header)
                                        << chunk("IDAT", packed) << chunk("IEND", "");
  return true;
}

}  // namespace zorva_test
