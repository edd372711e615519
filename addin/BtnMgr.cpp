#include "addin/BtnMgr.h"

#include <cstring>

#include "common/DiagLog.h"

const DISPATCH_ENTRY CBtnMgr::s_table[] = {
    {DISPID_SYNC_CLICKED, 1, "hvSyncClicked"},
    {DISPID_ADD_CLICKED, 1, "hvAddClicked"},
    {0, 0, nullptr},
};

HRESULT CBtnMgr::InvokeByName(const char* name, DISPPARAMS*, VARIANT*) {
    if (!name) return S_OK;
    // The Add and Sync buttons behind these callbacks are not part of this build yet: the
    // click is logged and nothing else happens.
    if (std::strcmp(name, "hvSyncClicked") == 0 || std::strcmp(name, "hvAddClicked") == 0)
        HvLog().LogCommentFmt("CBtnMgr: %s is not served by this build", name);
    return S_OK;
}
