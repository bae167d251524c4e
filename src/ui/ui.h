// List texts, sort rules and the main window's layout formulas: portable.
#pragma once
#include "table/table.h"

// The column whose natural order a list shows, or -1: makes each header a two-state toggle.
extern int32_t serverSortColumn;
extern int32_t playerSortColumn;

enum {
  SERVER_COLUMN_HOST = 0,
  SERVER_COLUMN_ADDRESS = 1,
  SERVER_COLUMN_MAP = 2,
  SERVER_COLUMN_PLAYERS = 3,
  SERVER_COLUMN_PING = 4,
  SERVER_COLUMNS = 5
};
enum { PLAYER_COLUMN_NAME = 0, PLAYER_COLUMN_SCORE = 1, PLAYER_COLUMN_PING = 2, PLAYER_COLUMNS = 3 };

// Part 0 is the running status message, part 1 the player total, part 2 the server count.
enum { STATUS_PART_MESSAGE = 0, STATUS_PART_PLAYERS = 1, STATUS_PART_SERVERS = 2, STATUS_PARTS = 3 };
// The longest status text holds a 255-character name and a few words.
enum { STATUS_TEXT_SIZE = 512 };

int CompareServerRecords(const ServerRecord *a, const ServerRecord *b, int column, int sortColumn);
int ComparePlayerEntries(const PlayerEntry *a, const PlayerEntry *b, int column, int sortColumn);
int32_t NextSortColumn(int32_t sortColumn, int clickedColumn);
int PingImageIndex(int32_t ping);

// Cell texts, cut to the buffer; false for a column that has no text.
bool FormatServerCell(const ServerRecord *record, int column, char *buffer, int bufferSize);
bool FormatPlayerCell(const PlayerEntry *player, int column, char *buffer, int bufferSize);

struct ControlRect {
  int x, y, width, height;
};

struct MainLayout {
  ControlRect serverList, playerList;
  ControlRect exitButton, refreshButton, configButton, updateButton;
  ControlRect statusBar;
  int serverColumnWidths[SERVER_COLUMNS];
  int playerColumnWidths[PLAYER_COLUMNS];
  int statusEdges[STATUS_PARTS];
};

// Every position and width is a fixed formula of the client area's width and height.
void ComputeMainLayout(int width, int height, MainLayout *layout);
// The same at a display's dpi: the fixed pixel numbers are those of 96 dpi, scaled.
void ComputeScaledLayout(int width, int height, int dpi, MainLayout *layout);
// pixels * dpi / 96, rounded to the nearest pixel.
int ScaleToDpi(int pixels, int dpi);

// The main window's outer size at 96 dpi; the user cannot change it.
enum { MAIN_WINDOW_WIDTH = 560, MAIN_WINDOW_HEIGHT = 400 };
