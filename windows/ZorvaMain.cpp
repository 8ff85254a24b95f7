// The main program Zorva.
#include "windows/ZorvaApp.h"

namespace {

CZorvaApp theApp;

}  // namespace

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
