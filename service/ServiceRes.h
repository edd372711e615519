// String resources that the service client and the records load. Every library that links
// the service layer defines them in its string table (HvOut.dll in addin/Strings.rc); the
// options library links only the frame and defines the one it can load,
// IDS_CONNECTION_EXCEPTION.
#pragma once

#define IDS_PANE_PROGRESS 26008
#define IDS_PANE_STATUS 26010
#define IDS_OPERATION_FAILED 26013
#define IDS_ACTION_UPDATE_HV 26028
#define IDS_ACTION_UPDATE_OUTLOOK 26029
#define IDS_ACTION_NONE 26030
#define IDS_ACTION_COMPUTING 26031
#define IDS_ACTION_DELETE_OUTLOOK 26044
#define IDS_ACTION_DELETE_SERVICE 26045
#define IDS_ACTION_FAILED 26054
#define IDS_EVERYONE 26056
#define IDS_CONNECTION_EXCEPTION 26064
