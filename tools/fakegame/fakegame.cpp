// Stand-in for the game: appends how it was started to fakegame.log beside itself, then exits.
#include <windows.h>

#include <stdio.h>
#include <string.h>

enum { LOG_PATH_SIZE = 1024, RECORD_SIZE = 8192 };

// The log sits in the directory of the executable, whatever the current directory is.
static bool LogPathBesideModule(const char *modulePath, char *logPath, size_t size) {
  const char *slash = strrchr(modulePath, '\\');
  if (slash == NULL) return false;
  int dirLength = (int)(slash - modulePath) + 1;
  int length = snprintf(logPath, size, "%.*sfakegame.log", dirLength, modulePath);
  return length > 0 && (size_t)length < size;
}

// One record per start, written in one piece: three labelled lines and an end marker.
static void AppendRecord(const char *logPath, const char *record) {
  HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
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
  char logPath[LOG_PATH_SIZE];
  if (!LogPathBesideModule(modulePath, logPath, sizeof logPath)) return 1;
  static char record[RECORD_SIZE];
  snprintf(record, sizeof record, "command line: %s\r\ncurrent directory: %s\r\nmodule: %s\r\nend\r\n",
           GetCommandLineA(), currentDir, modulePath);
  AppendRecord(logPath, record);
  return 0;
}
