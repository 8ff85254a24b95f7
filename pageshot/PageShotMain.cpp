// zorva-page-shot PAGE.htm OUT.png [--size WIDTHxHEIGHT] [--database music.db]
//
// Shows a page file in headless Chromium, as the programs' dialogs show it,
// and writes the page as a PNG image. With a database, the page's three tag
// lists ("genretaglinks", "artisttaglinks", "albumtaglinks") are filled from
// it as the player window fills them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "core/MusicDB.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/ChromiumBrowserFactory.h"
#include "platform/window/DHtmlDialog.h"
#include "windows/TagLinks.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: zorva-page-shot PAGE.htm OUT.png [--size WIDTHxHEIGHT] [--database music.db]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string page = argv[1];
  const std::string out = argv[2];
  int width = 800;
  int height = 600;
  std::string database;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) return Usage();
    } else if (arg == "--database" && i + 1 < argc) {
      database = argv[++i];
    } else {
      return Usage();
    }
  }
  if (!std::ifstream(page)) {
    std::fprintf(stderr, "zorva-page-shot: cannot read %s\n", page.c_str());
    return 1;
  }
  ::setenv("ZORVA_HEADLESS", "1", 1);
  if (!platform::InstallChromiumBrowser()) return 1;

  CDHtmlDialog dialog(DialogTemplate{1, 0, 0, width, height, WS_POPUP, 0}, 0);
  if (!dialog.Create()) {
    std::fprintf(stderr, "zorva-page-shot: cannot make the page's window\n");
    return 1;
  }
  auto* document = dynamic_cast<platform::ChromiumHtmlDocument*>(dialog.GetDocument());
  if (!document) {
    std::fprintf(stderr, "zorva-page-shot: the page browser did not start\n");
    return 1;
  }
  document->SetSilent(true);
  document->SetBounds(0, 0, width, height);
  if (!document->LoadFile(page)) {
    std::fprintf(stderr, "zorva-page-shot: %s\n", document->LastError().c_str());
    return 1;
  }
  std::unique_ptr<MusicDB> db;
  std::unique_ptr<ScopedMusicDB> installed;
  if (!database.empty()) {
    if (!std::ifstream(database)) {
      std::fprintf(stderr, "zorva-page-shot: cannot read the database %s\n", database.c_str());
      return 1;
    }
    db = std::make_unique<MusicDB>(database);
    installed = std::make_unique<ScopedMusicDB>(*db);
    theTagLinks.Reload(&dialog, nullptr, nullptr);
  }
  const std::string png = document->CaptureScreenshot();
  if (png.empty()) {
    std::fprintf(stderr, "zorva-page-shot: the browser gave no image\n");
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(png.data(), static_cast<std::streamsize>(png.size()));
  if (!file.flush()) {
    std::fprintf(stderr, "zorva-page-shot: cannot write %s\n", out.c_str());
    return 1;
  }
  theTagLinks.Reload(nullptr, nullptr, nullptr);
  dialog.DestroyWindow();
  return 0;
}
