// Registry settings and the cache file's places (Win32).
#pragma once
#include <windows.h>

#include "settings/settings.h"

#define SETTINGS_KEY "SOFTWARE\\tallow\\Varnet Server Browser"

enum { CACHE_PATH_SIZE = MAX_PATH };

// The cache file's full path in the start-up directory, fixed at start-up so a later change of
// directory can't move it, and the per-user file that stands in when that one can't be written
// (empty when there is none). Wide, as the folder's name may lie outside the ANSI code page.
extern wchar_t cachePath[CACHE_PATH_SIZE];
extern wchar_t userCachePath[CACHE_PATH_SIZE];

// Resolves both cache paths; run before anything can change the current directory.
void ResolveCachePath(void);
// Loads whichever of the two cache files was written last.
void LoadCache(void);
// Writes the start-up directory's file, and the per-user file when that one failed or when a
// per-user file already exists. Each is written whole to a new file and then moved over the
// old one; a per-user file that could not be replaced after the start-up one was is deleted.
void SaveCache(void);
// Test seam: how a save writes each record into its new file; WriteFile unless a test stands
// in a disk that fills up.
extern BOOL(WINAPI *writeCacheBytes)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED);

void LoadSettings(void);
void SaveSettings(void);
// Registry seams: the roots are parameters so tests can stand in an unwritable machine key.
void LoadSettingsFrom(HKEY machineRoot, HKEY userRoot);
void SaveSettingsTo(HKEY machineRoot, HKEY userRoot);

// The lead bytes of the system's ANSI code page into ansiLeadBytes; cheap, run before paths are
// read or joined.
void ReadAnsiLeadBytes(void);
// text in the ANSI code page; false, ansi emptied, when it doesn't fit or a character has no
// ANSI form (the system's '?' or a look-alike would stand in).
bool ToAnsiExactly(const wchar_t *text, char *ansi, size_t size);
// As ToAnsiExactly, but a text too long for size is cut at a character; false, ansi emptied,
// only when a character has no ANSI form.
bool CutToAnsiExactly(const wchar_t *text, char *ansi, size_t size);
// Tells the player why a folder (or file name) the game's command line can't carry can't be
// used, and what to do about it.
void ExplainUnusableName(HWND owner, const wchar_t *name, bool isFolder, const wchar_t *caption);
// A path as an ANSI setting can hold it: its own spelling when the ANSI code page has every one
// of its characters, else the short (8.3) path of the existing file or folder. False, ansi
// emptied, when neither fits size.
bool AnsiPathOf(const wchar_t *path, char *ansi, size_t size);
