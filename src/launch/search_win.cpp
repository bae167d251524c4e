// Finding the game: a depth-first walk of drives C: to Z: that asks the user about each match.
#include <stdio.h>

#include "settings/settings.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch.h"
#include "launch/launch_win.h"

// A link back to an ancestor would otherwise be walked until the path limit stops it.
static bool IsWalkableDirectory(const WIN32_FIND_DATAA *entry) {
  if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return !IsDotEntry(entry->cFileName);
}

static bool UserAcceptsDirectory(const char *dir) {
  char question[SEARCH_QUESTION_SIZE];
  FormatSearchQuestion(question, sizeof question, gameExe, dir);
  return MessageBoxA(hwndMain, question, SEARCH_CAPTION, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// Closing the main window during a question ends the run: every later box would return at once
// with no one asked, and the walk would go on through every drive with no window.
static bool SearchAbandoned(void) { return !IsWindow(hwndMain); }

// One directory entry: walk into a directory, or offer a matching file. True once accepted.
static bool VisitEntry(const char *dir, const WIN32_FIND_DATAA *entry, char *found, size_t foundSize) {
  char path[SETTING_TEXT_SIZE];
  if (!JoinSearchPath(path, sizeof path, dir, entry->cFileName, "")) return false;  // too long: skipped
  if (IsWalkableDirectory(entry)) {
    if (!JoinSearchPath(path, sizeof path, dir, entry->cFileName, "\\")) return false;
    return SearchGameDir(path, found, foundSize);
  }
  bool isDirectory = (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory && !IsDotEntry(entry->cFileName)) return false;  // a link: neither walked nor offered
  if (!NameMatchesExe(entry->cFileName, gameExe)) return false;
  if (!UserAcceptsDirectory(dir) || SearchAbandoned()) return false;
  CopyText(found, foundSize, dir);
  return true;
}

bool SearchGameDir(const char *dir, char *found, size_t foundSize) {
  char pattern[SETTING_TEXT_SIZE];
  if (!JoinSearchPath(pattern, sizeof pattern, dir, "*", "")) return false;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool accepted = false;
  do {
    accepted = VisitEntry(dir, &entry, found, foundSize);
  } while (!accepted && !SearchAbandoned() && FindNextFileA(search, &entry));
  FindClose(search);
  return accepted;
}

// C: to Z:, until a directory is accepted.
static void SearchDrives(void) {
  for (int drive = 3; drive <= 26 && gameDir[0] == 0 && !SearchAbandoned(); drive++) {
    char letter = (char)('A' + drive - 1);
    char driveName[3] = {letter, ':', 0};
    if (!SetCurrentDirectoryA(driveName)) continue;  // no such drive, or no medium in it
    char root[4] = {letter, ':', '\\', 0};
    char status[SEARCH_STATUS_SIZE];
    FormatSearchStatus(status, sizeof status, gameExe, root);
    SetStatusText(STATUS_PART_MESSAGE, status);
    char found[SETTING_TEXT_SIZE];
    if (SearchGameDir(root, found, sizeof found)) CopyText(gameDir, sizeof gameDir, found);
  }
}

// Making an empty card reader or DVD drive current would otherwise show the system's own
// "no disk" box; with critical errors failed the drive is simply passed by. The thread's mode
// is restored afterwards, so the rest of the program keeps the system's error boxes.
void SearchAllDrives(void) {
  DWORD previousMode = 0;
  BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
  SearchDrives();
  if (modeSet) SetThreadErrorMode(previousMode, NULL);
}
