#pragma once
// "ItemAdd" and "ItemChange" of the Items of a default folder (Calendar or Tasks). The sink
// keeps the collection it was connected to, so a change hook can connect it again.
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class CItemsEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_ITEMADD = 0xF001, DISPID_ITEMCHANGE = 0xF002 };
    static const DISPATCH_ENTRY s_table[];

    CItemsEvents() noexcept : CEventHandler(s_table) {}
    // A null source connects again to the collection of the last Connect.
    HRESULT Connect(IDispatch* source) override;
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_ItemsEvents; }

    hv::com_ptr<IDispatch> m_pItems;
    // Events received, by kind (diagnostics and tests).
    LONG m_nAdds = 0;
    LONG m_nChanges = 0;
};
