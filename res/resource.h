// Resource ids: dialogs, icons, the main window's controls and the controls of the two dialogs.
#pragma once

// Dialogs
#define IDD_UPDATE 102
#define IDD_CONFIG 107

// Icons
#define IDI_APP 106
#define IDI_PLAYER 134
#define IDI_SERVER 135
#define IDI_GLOBE 136
#define IDI_PING_GREEN 137
#define IDI_PING_RED 138
#define IDI_PING_YELLOW 139

// Main window controls; a button's id is also its command
#define ID_EXIT 140
#define ID_REFRESH 141
#define ID_UPDATE 142
#define ID_SERVER_LIST 143
#define ID_PLAYER_LIST 144
#define ID_CONFIG 161

// The server list's context menu
#define IDM_CONNECT 170
#define IDM_COPY_ADDRESS 171

// Update dialog controls
#define IDC_PROGRESS 1001
#define IDC_ABORT 1003
#define IDC_UPDATE_STATUS 1004

// Configuration dialog controls
#define IDC_ALT_START 1012
#define IDC_GAME_DIR 1013
#define IDC_GAME_EXE 1014

// Manifest
#ifndef CREATEPROCESS_MANIFEST_RESOURCE_ID
#define CREATEPROCESS_MANIFEST_RESOURCE_ID 1
#endif
#ifndef RT_MANIFEST
#define RT_MANIFEST 24
#endif
