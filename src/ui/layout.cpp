// The main window's layout: every position and width is a fixed formula of the client area.
#include "ui/ui.h"

static const int serverShares[SERVER_COLUMNS] = {35, 20, 20, 13, 12};
static const int playerShares[PLAYER_COLUMNS] = {50, 25, 25};
static const int statusShares[STATUS_PARTS] = {42, 15, 15};

static ControlRect Rect(int x, int y, int width, int height) {
  ControlRect r = {x, y, width, height};
  return r;
}

// The buttons stand in a column 6 pixels inside the right edge, tops 40 pixels apart.
static void LayOutButtons(int w, int h, MainLayout *layout) {
  layout->exitButton = Rect(w - 84, h - 54, 78, 24);
  layout->refreshButton = Rect(w - 84, h - 94, 78, 24);
  layout->configButton = Rect(w - 84, h - 134, 78, 24);
  layout->updateButton = Rect(w - 84, h - 174, 78, 24);
}

// Widths are computed in double precision, quotient first, and truncated toward zero.
static void LayOutColumns(int w, MainLayout *layout) {
  for (int i = 0; i < SERVER_COLUMNS; i++)
    layout->serverColumnWidths[i] = (int)(w * (serverShares[i] / 103.0));
  for (int i = 0; i < PLAYER_COLUMNS; i++)
    layout->playerColumnWidths[i] = (int)((w / 1.4) * (playerShares[i] / 107.0));
}

// The shares add up to 72 seventieths, so the last edge lies past the window's right edge.
static void LayOutStatusParts(int w, MainLayout *layout) {
  int edge = 0;
  for (int i = 0; i < STATUS_PARTS; i++) {
    edge += (int)(w * (statusShares[i] / 70.0));
    layout->statusEdges[i] = edge;
  }
}

void ComputeMainLayout(int width, int height, MainLayout *layout) {
  int half = height / 2;
  layout->serverList = Rect(0, 0, width, half);
  layout->playerList = Rect(0, half + 2, width - 90, half - 22);
  layout->statusBar = Rect(0, 0, width + 2, 0);  // the bar places itself along the bottom
  LayOutButtons(width, height, layout);
  LayOutColumns(width, layout);
  LayOutStatusParts(width, layout);
}
