#pragma once
// The explorer's events: the command bar (Outlook below 13) follows folder switches and
// selection changes.
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class CCmdBar;

class CExplorerEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_BEFOREFOLDERSWITCH = 0xF003, DISPID_SELECTIONCHANGE = 0xF007 };
    static const DISPATCH_ENTRY s_table[];

    explicit CExplorerEvents(CCmdBar** bar = nullptr) noexcept : CEventHandler(s_table), m_ppBar(bar) {}
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_ExplorerEvents; }

    CCmdBar** m_ppBar;            // the add-in's explorer-bar member; the bar may not exist
    LONG m_lDefaultItemType = 0;  // of the folder last switched to

protected:
    // Shows or hides the bar as the saved bar state says ("CmdBarVisible"; visible when the
    // state is incomplete).
    virtual void UpdateBarVisibility();
};
