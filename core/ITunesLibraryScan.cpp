// The library scan of ITunesPlayer: one pass copying the player's library
// into the music database.
#include "core/ITunesPlayer.h"

// Not written yet: the scan belongs with the scan thread (LibraryScanThread),
// whose author fills this body. Until then a scan does nothing and returns at
// once, leaving libraryChanged set so that the first real scan runs.
void ITunesPlayer::ScanLibrary(HANDLE, HANDLE) {}
