// The user's settings, the master address and the server cache file: portable (standard C file
// I/O only). Every other subsystem may use this room; it uses only the table.
#pragma once
#include <stdio.h>

#include "table/table.h"

enum { SETTING_TEXT_SIZE = 260 };  // paths and names: 259 characters and a terminator

extern char gameDir[SETTING_TEXT_SIZE];  // empty, or a directory ending with a backslash
extern char gameExe[SETTING_TEXT_SIZE];
extern int32_t startupMethod;

#define APP_NAME "Varnet Server Browser"
#define CACHE_FILE_NAME "kestrel.cache"
#define DEFAULT_GAME_EXE "quake2.exe"

// The longest master address a player may set; it fits the 1024-byte address buffer.
enum { MASTER_URL_SIZE = 1024, MASTER_URL_MAX_LENGTH = 1023 };

// The master list's address: built in (VARNET_MASTER_URL), replaced at start-up by a usable
// MasterURL registry value; tests point it elsewhere.
extern char masterUrl[MASTER_URL_SIZE];

// A master address set at run time: http:// or https:// in any case, 1 to 1023 characters,
// none of them NUL. The text need not be terminated; nothing past length is read.
bool IsUsableMasterUrl(const char *text, int32_t length);

// Lead bytes of the ANSI code page's two-byte characters, filled in by the Windows layer from
// the system's code page; all false (each byte a character) until then.
extern bool ansiLeadBytes[256];
// Where the last character of text's first length bytes starts (0 when length is 0). The walk
// starts at the front: in a two-byte code page a character's second byte may be 0x5C.
size_t LastCharStart(const char *text, size_t length);
// True when the last character of text's first length bytes is a backslash.
bool EndsWithBackslash(const char *text, size_t length);

// Gives a non-empty directory its one trailing backslash, within size (the last character
// gives way when the text fills the buffer).
void EndWithBackslash(char *dir, size_t size);
// A typed or pasted path less its surrounding spaces and then one pair of surrounding quotes.
void TrimTypedPath(wchar_t *text);

// Which of the two cache files a start loads: the one the record of the last save names, or by
// last-write time (startNewer > 0: the start-up file's is later) when there is no record, it
// names neither file, or one of them is gone. A tie goes to the per-user file.
enum NewestRecord { RECORD_MISSING, RECORD_NAMES_STARTUP, RECORD_NAMES_USER, RECORD_NAMES_OTHER };
enum CacheFileChoice { LOAD_STARTUP_FILE, LOAD_USER_FILE };
CacheFileChoice ChooseCacheFile(bool startupExists, bool userExists, NewestRecord record, int startNewer);

// The errors of creating the one-browser mutex that mean another browser runs: it exists, or
// it exists and belongs to an elevated copy this one may not open.
enum { MUTEX_EXISTS_ERROR = 183, MUTEX_DENIED_ERROR = 5 };
bool IsRunningBrowserError(uint32_t mutexError);

// Appends whole 2328-byte records to the (empty) table, at most 64; a trailing piece is ignored,
// and so is a record with an empty address.
void ReadServerCache(FILE *file);
// Writes the records in use, byte for byte; false when a write failed.
bool WriteServerCache(FILE *file);
// The same by file name (ANSI): for tools and tests; the program opens its files by wide name.
void LoadServerCache(const char *path);
// False when the file can't be created.
bool SaveServerCache(const char *path);
