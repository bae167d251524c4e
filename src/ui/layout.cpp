// The main window's layout: every position and width is a fixed formula of the client area.
#include "ui/ui.h"

static const int serverShares[SERVER_COLUMNS] = {35, 20, 20, 13, 12};
static const int playerShares[PLAYER_COLUMNS] = {50, 25, 25};
static const int statusShares[STATUS_PARTS] = {42, 15, 15};

static ControlRect Rect(int x, int y, int width, int height) {
  ControlRect r = {x, y, width, height};
  return r;
}

// Rounds half away from zero, as MulDiv does, so both builds agree to the pixel.
int ScaleToDpi(int pixels, int dpi) {
  long long product = (long long)pixels * dpi;
  return (int)(product >= 0 ? (product + 48) / 96 : -((-product + 48) / 96));
}

// The buttons stand in a column 6 pixels inside the right edge, tops 40 pixels apart (at 96 dpi).
static void LayOutButtons(int w, int h, int dpi, MainLayout *layout) {
  int x = w - ScaleToDpi(84, dpi), width = ScaleToDpi(78, dpi), height = ScaleToDpi(24, dpi);
  layout->exitButton = Rect(x, h - ScaleToDpi(54, dpi), width, height);
  layout->refreshButton = Rect(x, h - ScaleToDpi(94, dpi), width, height);
  layout->configButton = Rect(x, h - ScaleToDpi(134, dpi), width, height);
  layout->updateButton = Rect(x, h - ScaleToDpi(174, dpi), width, height);
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
  ComputeScaledLayout(width, height, 96, layout);
}

// Fixed pixel numbers grow with the dpi; the shares of the width already follow the client area.
void ComputeScaledLayout(int width, int height, int dpi, MainLayout *layout) {
  int half = height / 2;
  layout->serverList = Rect(0, 0, width, half);
  layout->playerList =
      Rect(0, half + ScaleToDpi(2, dpi), width - ScaleToDpi(90, dpi), half - ScaleToDpi(22, dpi));
  layout->statusBar = Rect(0, 0, width + 2, 0);  // the bar places itself along the bottom
  LayOutButtons(width, height, dpi, layout);
  LayOutColumns(width, layout);
  LayOutStatusParts(width, layout);
}
