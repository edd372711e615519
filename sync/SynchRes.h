#pragma once
// Resource ids of the synchronisation dialog, shared by sync/Synch.rc and the dialog class, and
// the strings this layer loads (defined by the string table of every library that links it).
#include "service/ServiceRes.h"

#define IDD_SYNCH 26028
#define IDI_SYNCH 26022
#define IDB_SYNCH_ACTIONS 26027
#define IDC_SYNCH_DETAILS 26003
#define IDC_SYNCH_STATUS 26042
#define IDC_SYNCH_PROGRESS 26041
#define IDC_SYNCH_MARKER 26043
#define IDC_SYNCH_LIST 26039

// Strings.
#define IDS_CLOSE 26032
#define IDS_DETAILS_LESS 26039
#define IDS_DETAILS_MORE 26038
#define IDS_EVENT_DELETED 26058
#define IDS_EVENT_UPDATED 26048
#define IDS_ITEM_DELETED 26046
#define IDS_MY_EVENTS 26027
#define IDS_MY_TASKS 26026
#define IDS_PRIORITY_0 26070
#define IDS_PRIORITY_1 26035
#define IDS_PRIORITY_2 26036
#define IDS_PRIORITY_3 26037
#define IDS_ROW_FAILED 26042
#define IDS_ROW_SYNCHRONIZING 26040
#define IDS_ROW_UPDATED 26041
#define IDS_SYNC_COMPLETE 26033
#define IDS_SYNC_IN_PROGRESS 26034
#define IDS_TASK_UPDATED 26047
