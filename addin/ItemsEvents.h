#pragma once
// "ItemAdd" and "ItemChange" of the Items of a default folder (Calendar or Tasks). With
// "AutoPush" on, a task or appointment the user added, or a linked one the user changed in its
// window, is sent to the service at once through the update dialog; with "AutoPush" off, the
// item's link is kept consistent with its fingerprint. Either way a timed synchronisation
// starts when one is due. The sink keeps the collection it was connected to, so a change hook
// can connect it again.
#include <string>

#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"

class CDlgUpdate;

class CItemsEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_ITEMADD = 0xF001, DISPID_ITEMCHANGE = 0xF002 };
    static const DISPATCH_ENTRY s_table[];

    CItemsEvents() noexcept : CEventHandler(s_table) {}
    // A null source connects again to the collection of the last Connect.
    HRESULT Connect(IDispatch* source) override;
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_ItemsEvents; }

    // Decides whether the item needs sending and, when it does, sends it through the update
    // dialog. `kind` becomes "Task" or "Event", or stays empty for any other item.
    void OnItemAddChange(HWND parent, IDispatch* item, BOOL isChange, std::string& kind);
    // 1 when the item is the one whose window the user closed last.
    BOOL ItemWasActive(IDispatch* item);
    // "AutoPush" off: an item whose fingerprint no longer matches its "HV Hash" is saved, one
    // without "HV Hash" is unlinked.
    void CheckLink(IDispatch* item, const std::string& kind);

    hv::com_ptr<IDispatch> m_pItems;
    // Events received, by kind, and what came of them (diagnostics and tests).
    LONG m_nAdds = 0;
    LONG m_nChanges = 0;
    LONG m_nLinkChecks = 0;              // link checks made ("AutoPush" off)
    LONG m_nOwnSaves = 0;                // saves the sink made itself
    LONG m_nRepeatsSkipped = 0;          // checks that found the item as the sink's last save left it
    LONG m_nUpdateRuns = 0;              // update dialogs run
    INT_PTR m_nLastUpdateResult = 0;     // what the last update dialog ended with
    std::string m_strLastUpdateMessage;  // its message text
    LONG m_nLastUpdatePushed = 0;        // items it sent and linked
    LONG m_nSavesSeenAgain = 0;          // changes left alone as a save already handled

protected:
    // Runs the update dialog with the folder's sink off, so that the links it writes do not
    // come back here.
    virtual void RunUpdate(CDlgUpdate& dialog, long olClass);

private:
    // Saves the item with this folder's sink off.
    HRESULT SaveOwn(IDispatch* item);
    // Whether this change is a save already handled (the same item and modification time as the
    // last one sent); remembers it otherwise.
    bool SameSaveAgain(IDispatch* item);

    // The item the link check saved last, with its stored and its fresh fingerprint then.
    std::string m_strOwnEntryID;
    std::string m_strOwnStored;
    std::string m_strOwnFresh;
    // The item and modification time of the last save the sink sent.
    std::string m_strSentEntryID;
    double m_sentModified = 0;
};
