#pragma once
// Resource ids of the synchronisation dialog, shared by sync/Synch.rc and the dialog class.
#define IDD_SYNCH 26028
#define IDI_SYNCH 26022
#define IDB_SYNCH_ACTIONS 26027
#define IDC_SYNCH_DETAILS 26003
#define IDC_SYNCH_STATUS 26042
#define IDC_SYNCH_PROGRESS 26041
#define IDC_SYNCH_MARKER 26043
#define IDC_SYNCH_LIST 26039
