// PLACEHOLDER until the launch work lands: keeps the program linking.
#include "launch/launch_win.h"

void LaunchSelectedServer(const NMITEMACTIVATE *) {}
