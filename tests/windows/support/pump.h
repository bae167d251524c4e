// Message pumping with a deadline, for tests that wait on worker threads sending to windows.
#pragma once
#include <windows.h>

#include <functional>

// Dispatches messages until done() is true or timeoutMs has passed; returns done().
bool PumpUntil(const std::function<bool()> &done, DWORD timeoutMs);
// Dispatches messages for the given time.
void PumpFor(DWORD ms);
