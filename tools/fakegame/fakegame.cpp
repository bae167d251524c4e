// Stand-in for the game: appends how it was started to fakegame.log beside itself, then exits.
#include <windows.h>

#include <stdio.h>
#include <string.h>

enum { LOG_PATH_SIZE = 1024, RECORD_SIZE = 8192 };

// The log sits in the directory of the executable, whatever the current directory is; found by
// wide name, as the folder's may lie outside the ANSI code page.
static bool LogPathBesideModule(wchar_t *logPath, size_t size) {
  DWORD length = GetModuleFileNameW(NULL, logPath, (DWORD)size);
  wchar_t *slash = wcsrchr(logPath, L'\\');
  if (length == 0 || length >= size || slash == NULL || (size_t)(slash - logPath) + 14 > size) return false;
  wcscpy(slash + 1, L"fakegame.log");
  return true;
}

// One record per start, written in one piece: three labelled lines and an end marker.
static void AppendRecord(const wchar_t *logPath, const char *record) {
  HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, record, (DWORD)strlen(record), &written, NULL);
  CloseHandle(log);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char modulePath[LOG_PATH_SIZE] = "";
  DWORD moduleLength = GetModuleFileNameA(NULL, modulePath, sizeof modulePath);
  if (moduleLength == 0 || moduleLength >= sizeof modulePath) return 1;
  char currentDir[LOG_PATH_SIZE] = "";
  DWORD dirLength = GetCurrentDirectoryA(sizeof currentDir, currentDir);
  if (dirLength >= sizeof currentDir) currentDir[0] = 0;
  wchar_t logPath[LOG_PATH_SIZE];
  if (!LogPathBesideModule(logPath, LOG_PATH_SIZE)) return 1;
  static char record[RECORD_SIZE];
  snprintf(record, sizeof record, "command line: %s\r\ncurrent directory: %s\r\nmodule: %s\r\nend\r\n",
           GetCommandLineA(), currentDir, modulePath);
  AppendRecord(logPath, record);
  return 0;
}
