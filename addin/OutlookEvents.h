#pragma once
// Outlook's Application events: start-up login and synchronisation, timed synchronisations on
// send and receive, and the options page.
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class COutlookEvents : public CEventHandler {
public:
    enum : DISPID {
        DISPID_ITEMSEND = 0xF002,
        DISPID_NEWMAIL = 0xF003,
        DISPID_OPTIONSPAGESADD = 0xF005,
        DISPID_STARTUP = 0xF006,
        DISPID_QUIT = 0xF007,
    };
    static const DISPATCH_ENTRY s_table[];

    COutlookEvents() noexcept : CEventHandler(s_table) {}
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_ApplicationEvents; }

private:
    void OnStartup();
    void OnOptionsPagesAdd(VARIANT* pages);
};
