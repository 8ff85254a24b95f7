#include "windows/MainWindow.h"

void CMainWindow::OnPlayerQuit() { EndDialog(IDOK); }

void CMainWindow::OnPlayerLost() { OnPlayerQuit(); }
