#pragma once
// "Close" of the item an inspector shows: the item's EntryID becomes the last closed item, and
// the context's sink and buttons let go of their events.
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class CInspectorContext;

class CItemEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_CLOSE = 0xF004 };
    static const DISPATCH_ENTRY s_table[];

    explicit CItemEvents(CInspectorContext* context = nullptr) noexcept : CEventHandler(s_table), m_pContext(context) {}
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_ItemEvents; }

    CInspectorContext* m_pContext;
};
