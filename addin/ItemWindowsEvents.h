#pragma once
// CInspectorsEvents, the sink of Outlook's item windows (inspectors), and the context it keeps
// for each. A new item window: its item gets an item sink (to learn when it closes) and, for mail,
// tasks and appointments, the record of what it is linked to.
#include <list>
#include <memory>
#include <string>

#include "addin/ChangeHook.h"
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"
#include "service/SyncItem.h"

class CCmdBar;
class CItemEvents;

// One inspector window the add-in saw open.
class CInspectorContext {
public:
    CInspectorContext();
    ~CInspectorContext();
    CInspectorContext(const CInspectorContext&) = delete;
    CInspectorContext& operator=(const CInspectorContext&) = delete;

    hv::com_ptr<IDispatch> m_pInspector;
    hv::com_ptr<IDispatch> m_pItem;
    CItemEvents* m_pItemEvents = nullptr;  // one reference, released when the context goes
    CCmdBar* m_pBar = nullptr;             // the inspector's bar; none until buttons are added
    LONG m_fExisting = 0;                  // 1 when the item already had an EntryID
    CTarget m_target;                      // its "HV Record ID", "HV Category ID", "HV Workspace ID"
    LONG m_lClass = 0;
    std::string m_strEntryID;  // empty for a new item
};

class CInspectorsEvents : public CEventHandler {
public:
    enum : DISPID { DISPID_NEWINSPECTOR = 0xF001 };
    static const DISPATCH_ENTRY s_table[];

    CInspectorsEvents() noexcept : CEventHandler(s_table) {}
    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_InspectorsEvents; }
    // Frees every inspector context (item sinks, bars) before unadvising itself.
    void Disconnect() override;

    std::list<std::unique_ptr<CInspectorContext>> m_contexts;
    ULONG m_nCounter = 0;  // makes the tags of inspector buttons unique
    CChangeHook m_calendarHook;
    CChangeHook m_tasksHook;

protected:
    void OnNewInspector(IDispatch* inspector);
    // Puts the "Halvane" bar with its Add button on the inspector.
    virtual void AddInspectorButtons(CInspectorContext& context);
};
