#include "addin/OutlookEvents.h"

#include "common/Config.h"
#include "common/DiagLog.h"
#include "ui/ProtocolUI.h"
#include "win/ComTypes.h"

const DISPATCH_ENTRY COutlookEvents::s_table[] = {
    {DISPID_ITEMSEND, 2, "ItemSend"}, {DISPID_NEWMAIL, 0, "NewMail"}, {DISPID_OPTIONSPAGESADD, 1, "OptionsPagesAdd"},
    {DISPID_STARTUP, 0, "Startup"},   {DISPID_QUIT, 0, "Quit"},       {0, 0, nullptr},
};

void COutlookEvents::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    switch (dispid) {
        case DISPID_ITEMSEND:
        case DISPID_NEWMAIL:
            if (IsTimeToSync()) {
                HWND parent = GetParentWindow(PREFER_EXPLORER);
                HvLog().LogComment(dispid == DISPID_ITEMSEND ? "ItemSend Event: DoSynch" : "NewMail Event: DoSynch");
                DoSynch(parent, nullptr);
            }
            break;
        case DISPID_OPTIONSPAGESADD:
            OnOptionsPagesAdd(&params->rgvarg[0]);
            break;
        case DISPID_STARTUP:
            OnStartup();
            break;
        default:
            break;
    }
}

void COutlookEvents::OnOptionsPagesAdd(VARIANT* pages) {
    IUnknown* unknown = nullptr;
    if (pages->vt == VT_DISPATCH || pages->vt == VT_UNKNOWN) unknown = pages->punkVal;
    if (pages->vt == (VT_DISPATCH | VT_BYREF) || pages->vt == (VT_UNKNOWN | VT_BYREF))
        unknown = pages->ppunkVal ? *pages->ppunkVal : nullptr;
    if (!unknown) return;
    hv::com_ptr<IDispatch> collection;
    if (FAILED(unknown->QueryInterface(hv::office::IID_PropertyPages, collection.put_void())) || !collection) return;
    // Outlook creates the page from its ProgID; the tab caption is the product's name.
    hv::unique_variant args[2] = {hv::unique_variant::FromString("Halvane"),
                                  hv::unique_variant::FromString("HvToolsOpts.PropPage")};
    CallMethod(collection.get(), L"Add", nullptr, 2, args);
}

void COutlookEvents::OnStartup() {
    if (IsOffline(FALSE)) return;
    CProtocol* protocol = TheProtocol();
    if (!protocol) {
        protocol = new (std::nothrow) CProtocolUI(reinterpret_cast<LONG_PTR>(m_pApplication), nullptr);
        if (protocol)
            SetTheProtocol(protocol);
        else
            HvLog().LogError("Out of Memory!");
    }
    if (protocol && SUCCEEDED(FireUpProtocol(reinterpret_cast<LONG_PTR>(m_pApplication)))) {
        // The result does not matter here: a synchronisation logs in again, with the dialog if need be.
        protocol->SilentLogin(nullptr);
    }
    CConfig config;
    if (config.GetSyncAtStartup() != 0) DoSynch(GetParentWindow(PREFER_EXPLORER), nullptr);
}
