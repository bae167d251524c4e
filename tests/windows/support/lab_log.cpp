// Reading the lab's log from inside Wine.
#include "lab_log.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

// The log is a Linux path; Wine opens it under its DOS name.
std::string ReadLabLog(void) {
  const char *path = getenv("VARNET_LAB_LOG");
  if (path == NULL) return std::string();
  typedef WCHAR *(CDECL * DosName)(const char *);
  DosName toDos = (DosName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
  if (toDos == NULL) return std::string();
  WCHAR *dosPath = toDos(path);
  if (dosPath == NULL) return std::string();
  FILE *file = _wfopen(dosPath, L"rb");
  HeapFree(GetProcessHeap(), 0, dosPath);
  if (file == NULL) return std::string();
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  fclose(file);
  return text;
}

int LabPort(int configured) {
  const char *offset = getenv("VARNET_PORT_OFFSET");
  return configured + (offset != NULL ? atoi(offset) : 0);
}

int LabLogCount(const std::string &text, const std::string &also) {
  if (getenv("VARNET_LAB_LOG") == NULL) return -1;
  std::string log = ReadLabLog();
  int count = 0;
  for (size_t start = 0; start < log.size();) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    if (line.find(text) != std::string::npos && line.find(also) != std::string::npos) count++;
    start = end + 1;
  }
  return count;
}
