// In-process game servers for the update tests: UDP sockets on 127.0.0.1 served by one thread.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

#include <string>

enum { MASTER_GAMES_MAX = 64, MASTER_GAMES_LIFETIME_MS = 60000 };

// Starts answering + silent servers on free ports, the answering ones first. An answering one
// replies to the status request with the host name "Master Game N" (N from 1); a silent one
// never replies. They stop by themselves after MASTER_GAMES_LIFETIME_MS. False when a socket
// could not be made.
bool StartMasterGames(int answering, int silent);
void StopMasterGames(void);
// The port of server index, or 0 when there is none.
uint16_t MasterGamePort(int index);
// "127.0.0.1:PORT\n" for servers first to first + count - 1: a master list of them.
std::string MasterGameList(int first, int count);
// Status requests received, all servers together.
int MasterGameRequests(void);
