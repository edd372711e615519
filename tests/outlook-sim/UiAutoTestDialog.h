#pragma once
// Control ids of the small dialog the UI-automation tests drive.
#define IDD_UIAUTO_TEST 200
#define IDC_UA_EDIT 1001
#define IDC_UA_CHECK 1002
#define IDC_UA_ASK 1003
#define IDC_UA_LIST 1004
#define IDC_UA_TREE 1005
#define IDC_UA_COMBO 1006
#define IDC_UA_STATUS 1007
#define IDC_UA_TYPED 1008
