#pragma once
// Word as Outlook's mail editor: the "Halvane" command bar inside Word's window is shown only
// for documents that are mail (an envelope is visible).
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class CWordEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_WINDOWACTIVATE = 10 };
    static const DISPATCH_ENTRY s_table[];

    CWordEvents() noexcept : CEventHandler(s_table) {}
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_WordApplicationEvents2; }
};
