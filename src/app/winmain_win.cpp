// The Windows GUI entry: everything else starts in AppMain.
#include "app/app_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  return AppMain(instance, previous, commandLine, showCommand);
}
