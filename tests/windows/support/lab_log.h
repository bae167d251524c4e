// The log of the native lab that with-lab.sh started for this test (VARNET_LAB_LOG), read from
// inside Wine: what the simulated servers and the master received and sent.
#pragma once
#include <string>

// The whole log, or "" without one.
std::string ReadLabLog(void);
// Lines of the log that hold text, and also the second text when one is given; -1 without a log.
int LabLogCount(const std::string &text, const std::string &also = std::string());
// Where the lab serves a port of the test's config: moved by this run's VARNET_PORT_OFFSET.
int LabPort(int configured);
