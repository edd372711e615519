// Resource identifiers of the options library (HvToolsOpts). Strings, dialogs, icons and
// controls use their own identifier spaces, so the same number may name a string and a dialog.
#pragma once

#include "common/Version.h"

// Strings
#define IDS_CREDENTIALS_CHECKING 28002
#define IDS_CREDENTIALS_VALID 28003
#define IDS_CREDENTIALS_INVALID 28004
#define IDS_CONNECTION_FAILED 28005
#define IDS_OPT_CONNECTION_EXCEPTION 28006
// Loaded by the service client's operation frame (CWebSvrOp) when an exchange fails; the
// library links that code, so it carries the text under the number the frame asks for.
#define IDS_SERVICE_CONNECTION_EXCEPTION 26064

// The page (dialog template) and its controls
#define IDD_PROPPAGE 28003
#define IDC_USERNAME 28000
#define IDC_PASSWORD 28001
#define IDC_SYNC_AT_STARTUP 28006
#define IDC_SYNC_AUTOMATICALLY 28007
#define IDC_AUTO_PUSH 28008
#define IDC_DELETE_OUTLOOK_ITEMS 28009
#define IDC_SYNC_QUANTUM 28010
#define IDC_DELETE_HV_ITEMS 28011
#define IDC_VERSION 28012
#define IDC_TEST_CREDENTIALS 28013
#define IDC_TEST_RESULT 28014

// Icons of the page's groups; the toolbox bitmap of the registered control
#define IDI_CREDENTIALS 28000
#define IDI_SYNCHRONIZE 28001
#define IDB_PROPPAGE 28001

// The type library (resource type TYPELIB)
#define IDR_TYPELIB 1
