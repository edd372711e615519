#pragma once
// The synchronisation run an Add of a recurring appointment hands over: besides what a
// single-item run does, every occurrence of that series that has never been linked goes to the
// service with the target and assignees chosen in the Add Item dialog, and is linked through
// its blob. A second run finds them linked and unchanged and does nothing.
#include "sync/DlgSynch.h"

class CDlgSeriesSynch : public CDlgSynch {
public:
    CDlgSeriesSynch(CWebSvrAPI* api, HWND parent) : CDlgSynch(api, parent) {}

    // The occurrence rows the hand-over sent to the service (tests read it).
    long m_nHandedOver = 0;

protected:
    BOOL OnInitDialog() override;
};
