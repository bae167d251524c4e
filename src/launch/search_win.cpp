// Finding the game: a depth-first walk of drives C: to Z: that asks the user about each match.
#include <stdio.h>

#include "app/app_win.h"
#include "settings/settings.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch.h"
#include "launch/launch_win.h"

// A link back to an ancestor would otherwise be walked until the path limit stops it.
static bool IsWalkableDirectory(const WIN32_FIND_DATAW *entry, const char *name) {
  if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return !IsDotEntry(name);
}

// The question is built as UTF-8 and shown wide, so a folder is named as the player named it.
static bool UserAcceptsDirectory(const wchar_t *dir) {
  wchar_t exeWide[SETTING_TEXT_SIZE];
  char exe[SETTING_TEXT_SIZE * 3], dirText[SETTING_TEXT_SIZE * 3];
  if (MultiByteToWideChar(CP_ACP, 0, gameExe, -1, exeWide, SETTING_TEXT_SIZE) <= 0) exeWide[0] = 0;
  if (WideCharToMultiByte(CP_UTF8, 0, exeWide, -1, exe, sizeof exe, NULL, NULL) <= 0) exe[0] = 0;
  if (WideCharToMultiByte(CP_UTF8, 0, dir, -1, dirText, sizeof dirText, NULL, NULL) <= 0) dirText[0] = 0;
  char question[SEARCH_QUESTION_SIZE];
  FormatSearchQuestion(question, sizeof question, exe, dirText);
  wchar_t questionWide[SEARCH_QUESTION_SIZE];
  if (MultiByteToWideChar(CP_UTF8, 0, question, -1, questionWide, SEARCH_QUESTION_SIZE) <= 0) return false;
  return MessageBoxW(hwndMain, questionWide, L"" SEARCH_CAPTION, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// Closing the main window or ending the session during a question ends the run: every later
// box would return at once with no one asked, and the walk would go on through every drive.
static bool SearchAbandoned(void) { return runEnding || !IsWindow(hwndMain); }

// The walk runs on the GUI thread: messages sent to it (the end of the session, a query
// thread's answer) are served at each folder, so none waits long. Input stays queued.
static void ServeSentMessages(void) {
  MSG message;
  PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
}

static bool WalkGameDir(const wchar_t *dir, char *found, size_t foundSize);

// One directory entry: walk into a directory, or offer a matching file. True once accepted; the
// directory offered is the one the ANSI setting can hold, its short path if need be.
static bool VisitEntry(const wchar_t *dir, const WIN32_FIND_DATAW *entry, char *found, size_t foundSize) {
  wchar_t path[SETTING_TEXT_SIZE];
  if (!JoinSearchPath(path, SETTING_TEXT_SIZE, dir, entry->cFileName, L""))
    return false;  // too long: skipped
  char name[SETTING_TEXT_SIZE];
  bool exact = ToAnsiExactly(entry->cFileName, name, sizeof name);  // else no ANSI name matches
  if (IsWalkableDirectory(entry, name)) {
    if (!JoinSearchPath(path, SETTING_TEXT_SIZE, dir, entry->cFileName, L"\\")) return false;
    return WalkGameDir(path, found, foundSize);
  }
  bool isDirectory = (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory && !IsDotEntry(name)) return false;  // a link: neither walked nor offered
  if (!exact || !NameMatchesExe(name, gameExe)) return false;
  // A folder the setting can't hold is offered all the same: the player learns why it can't
  // be used, instead of being told later that there is no game at all.
  char stored[SETTING_TEXT_SIZE];
  bool storable = AnsiPathOf(dir, stored, sizeof stored);
  if (!UserAcceptsDirectory(dir) || SearchAbandoned()) return false;
  if (!storable) {
    ExplainUnusableName(hwndMain, dir, true, L"" SEARCH_CAPTION);
    return false;  // the walk goes on: another copy of the game may be usable
  }
  EndWithBackslash(stored, sizeof stored);
  CopyText(found, foundSize, stored);
  return true;
}

static bool WalkGameDir(const wchar_t *dir, char *found, size_t foundSize) {
  wchar_t pattern[SETTING_TEXT_SIZE];
  if (!JoinSearchPath(pattern, SETTING_TEXT_SIZE, dir, L"*", L"")) return false;
  WIN32_FIND_DATAW entry;
  ServeSentMessages();
  if (SearchAbandoned()) return false;
  HANDLE search = FindFirstFileW(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool accepted = false;
  do {
    accepted = VisitEntry(dir, &entry, found, foundSize);
  } while (!accepted && !SearchAbandoned() && FindNextFileW(search, &entry));
  FindClose(search);
  return accepted;
}

// The walk itself is wide: FindFirstFileA would hand back '?' for a name outside the code page.
bool SearchGameDir(const char *dir, char *found, size_t foundSize) {
  ReadAnsiLeadBytes();
  wchar_t dirWide[SETTING_TEXT_SIZE];
  if (MultiByteToWideChar(CP_ACP, 0, dir, -1, dirWide, SETTING_TEXT_SIZE) <= 0) return false;
  return WalkGameDir(dirWide, found, foundSize);
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
// Each drive walked was made current; the start-up folder is made current again, so no drive
// (a USB stick the player wants to eject) is held once the search is over.
void SearchAllDrives(void) {
  wchar_t startDir[MAX_PATH];
  DWORD startLength = GetCurrentDirectoryW(MAX_PATH, startDir);
  DWORD previousMode = 0;
  BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
  SearchDrives();
  if (modeSet) SetThreadErrorMode(previousMode, NULL);
  if (startLength > 0 && startLength < MAX_PATH) SetCurrentDirectoryW(startDir);
}
