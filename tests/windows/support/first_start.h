// The program's own main window as at a first start, one fresh window per test.
#pragma once

#define FIRST_START_HINT "No servers to query! Try clicking the Update button."

// Makes the temporary folder FOLDER the start-up directory, closes the window an earlier test
// left, and opens the program's main window with no cache file there: the table is empty and
// the status bar shows the hint. False when the window or the hint did not come.
bool OpenFirstStartWindow(const char *folder);
