// Starting the game connected to the double-clicked server, then saving and quitting.
#include <stdio.h>
#include <string.h>

#include "app/app_win.h"
#include "settings/settings.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch.h"
#include "launch/launch_win.h"

static void ReportNoGameDir(void) {
  SetStatusText(STATUS_PART_MESSAGE, NO_GAME_DIR_STATUS);
  MessageBoxA(hwndMain, NO_GAME_DIR_TEXT, NO_GAME_DIR_CAPTION, MB_ICONWARNING | MB_OK);
}

static void ReportMissingExe(void) {
  char text[LAUNCH_TEXT_SIZE];
  FormatMissingExeText(text, sizeof text, gameDir, gameExe);
  SetStatusText(STATUS_PART_MESSAGE, MISSING_EXE_STATUS);
  MessageBoxA(hwndMain, text, MISSING_EXE_CAPTION, MB_ICONWARNING | MB_OK);
}

// A row whose address could carry console commands to the game starts nothing and saves nothing.
static void ReportBadAddress(const char *address) {
  char text[LAUNCH_TEXT_SIZE];
  FormatBadAddressText(text, sizeof text, address);
  SetStatusText(STATUS_PART_MESSAGE, BAD_ADDRESS_STATUS);
  MessageBoxA(hwndMain, text, START_FAILED_CAPTION, MB_ICONWARNING | MB_OK);
}

// The folder or name is there, but the command line can't carry it.
static void ReportRefusedSetting(SettingFault fault) {
  char text[LAUNCH_TEXT_SIZE];
  FormatRefusedSettingText(text, sizeof text, fault, gameDir, gameExe);
  SetStatusText(STATUS_PART_MESSAGE, START_FAILED_STATUS);
  MessageBoxA(hwndMain, text, START_FAILED_CAPTION, MB_ICONWARNING | MB_OK);
}

// The handle serves only to prove the file is there and readable.
static bool ExecutableExists(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// The system's text for the error; its inserts (%1 is the file) all name the executable.
static void DescribeError(DWORD error, const char *exePath, char *text, DWORD size) {
  DWORD_PTR inserts[9];
  for (int i = 0; i < 9; i++) inserts[i] = (DWORD_PTR)exePath;
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;
  DWORD length = FormatMessageA(flags, NULL, error, 0, text, size, (va_list *)inserts);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    text[--length] = 0;
  if (length == 0) snprintf(text, size, "System error %lu.", (unsigned long)error);
}

// A start that failed is said so; the browser stays open and nothing is saved yet.
static void ReportStartFailure(const char *exePath, DWORD error) {
  char reason[256];
  DescribeError(error, exePath, reason, sizeof reason);
  char text[LAUNCH_TEXT_SIZE];
  FormatStartFailureText(text, sizeof text, exePath, reason);
  SetStatusText(STATUS_PART_MESSAGE, START_FAILED_STATUS);
  MessageBoxA(hwndMain, text, START_FAILED_CAPTION, MB_ICONWARNING | MB_OK);
}

// The game runs on its own: its handles are closed at once and it is never waited for.
static bool StartGame(LaunchCommand *command) {
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  const char *application = command->useApplicationName ? command->exePath : NULL;
  if (!CreateProcessA(application, command->commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL,
                      command->workDir, &startup, &process)) {
    ReportStartFailure(command->exePath, GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// A text over its limit refuses the launch the same way as a missing executable.
static bool StartServerGame(const char *address, uint16_t port) {
  SetStatusText(STATUS_PART_MESSAGE, STARTING_STATUS);
  LaunchCommand command;
  if (BuildLaunchCommand(gameDir, gameExe, startupMethod, address, port, &command) &&
      ExecutableExists(command.exePath))
    return StartGame(&command);
  SettingFault fault = LaunchSettingFault(gameDir, gameExe, startupMethod);
  if (fault != NO_SETTING_FAULT)
    ReportRefusedSetting(fault);
  else
    ReportMissingExe();
  return false;
}

// The address and port are copied with the row lookup: the search can take minutes and waits on
// the user, and an Update merging meanwhile moves and clears records.
bool LaunchSelectedServer(const NMITEMACTIVATE *activate) {
  if (activate->iItem == -1) return false;
  HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
  ReadAnsiLeadBytes();
  int index = RowRecordIndex(activate->iItem);
  char address[TEXT_FIELD_SIZE] = "";
  uint16_t port = 0;
  uint32_t reached = 0;
  if (index >= 0) {
    CopyText(address, sizeof address, records[index].address);
    port = records[index].port;
    reached = reachedAddresses[index];
  }
  // Checked before the search, so a row that would be refused never starts one.
  if (index >= 0 && !IsLaunchAddress(address, port)) {
    SetCursor(previous);
    ReportBadAddress(address);
    return false;
  }
  if (index >= 0 && gameDir[0] == 0) SearchAllDrives();
  SetCursor(previous);
  // Closed, or the session ended, during the search: nothing more to say.
  if (index < 0 || !IsWindow(hwndMain) || runEnding) return false;
  if (gameDir[0] == 0) {
    ReportNoGameDir();
    return false;
  }
  char connect[TEXT_FIELD_SIZE];
  ChooseConnectAddress(address, reached, connect, sizeof connect);
  return StartServerGame(connect, port);
}
