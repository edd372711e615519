#include "addin/ItemWindowsEvents.h"

#include "addin/AddBtn.h"
#include "addin/CmdBar.h"
#include "addin/ItemEvents.h"
#include "addin/resource.h"
#include "win/Strings.h"
#include "common/DiagLog.h"
#include "sync/LinkProps.h"
#include "win/ComTypes.h"

const DISPATCH_ENTRY CInspectorsEvents::s_table[] = {
    {DISPID_NEWINSPECTOR, 1, "NewInspector"},
    {0, 0, nullptr},
};

CInspectorContext::CInspectorContext() {
    // A property the item does not have leaves its field empty.
    m_target.m_strCatID.clear();
    m_target.m_strSpaceID.clear();
}

CInspectorContext::~CInspectorContext() {
    delete m_pBar;
    m_pBar = nullptr;
    if (m_pItemEvents) {
        m_pItemEvents->Disconnect();
        m_pItemEvents->m_pContext = nullptr;
        m_pItemEvents->Release();
        m_pItemEvents = nullptr;
    }
}

void CInspectorsEvents::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    if (dispid != DISPID_NEWINSPECTOR) return;
    VARIANT& arg = params->rgvarg[0];
    IDispatch* inspector = nullptr;
    if (arg.vt == VT_DISPATCH)
        inspector = arg.pdispVal;
    else if (arg.vt == (VT_DISPATCH | VT_BYREF) && arg.ppdispVal)
        inspector = *arg.ppdispVal;
    if (inspector) OnNewInspector(inspector);
}

void CInspectorsEvents::OnNewInspector(IDispatch* inspector) {
    m_contexts.push_back(std::make_unique<CInspectorContext>());
    CInspectorContext& context = *m_contexts.back();
    context.m_pInspector = inspector;

    hv::unique_variant item;
    if (FAILED(GetProperty(inspector, L"CurrentItem", item.put())) || !item.AsDispatch()) return;
    context.m_pItem = item.AsDispatch();
    {
        CLogBlock block("COutAddIn::SinkItemEvents");
        CItemEvents* sink = new (std::nothrow) CItemEvents(&context);
        if (!sink) THROW_HR(E_OUTOFMEMORY);
        sink->AddRef();
        sink->m_pLastClosed = m_pLastClosed;
        sink->m_pApplication = m_pApplication;
        sink->m_pfOperation = m_pfOperation;
        sink->m_pcs = m_pcs;
        context.m_pItemEvents = sink;
        LOG_IF_FAILED(sink->Connect(context.m_pItem.get()));
    }

    hv::unique_variant cls;
    if (FAILED(GetProperty(context.m_pItem.get(), L"Class", cls.put()))) return;
    const LONG itemClass = cls.AsLong();
    if (itemClass != hv::office::olMail && itemClass != hv::office::olTask && itemClass != hv::office::olAppointment)
        return;
    context.m_lClass = itemClass;

    hv::unique_variant entryId;
    if (FAILED(GetProperty(context.m_pItem.get(), L"EntryID", entryId.put()))) return;
    const std::string id = entryId.vt == VT_BSTR ? entryId.AsString() : std::string();
    if (!id.empty()) {
        context.m_fExisting = 1;
        context.m_strEntryID = id;
        GetUserProperty(context.m_pItem.get(), L"HV Record ID", context.m_target.m_strID);
        GetUserProperty(context.m_pItem.get(), L"HV Category ID", context.m_target.m_strCatID);
        GetUserProperty(context.m_pItem.get(), L"HV Workspace ID", context.m_target.m_strSpaceID);
    } else {
        // No button on a mail being composed.
        if (itemClass == hv::office::olMail) return;
        context.m_fExisting = 0;
    }
    try {
        AddInspectorButtons(context);
    } catch (...) {
        HvLog().LogError("CInspectorsEvents: the inspector buttons could not be added");
    }
}

void CInspectorsEvents::AddInspectorButtons(CInspectorContext& context) {
    delete context.m_pBar;
    context.m_pBar = new CCmdBar;
    THROW_IF_FAILED(context.m_pBar->Create(context.m_pInspector.get(), hv::LoadResString(IDS_BAR_NAME)));
    CAddBtn* button = new CAddBtn(IDS_ADD_TO_HV, IDB_BUTTON_FACE, IDB_BUTTON_MASK);
    button->AddRef();
    button->m_pApplication = m_pApplication;
    button->m_strTag = hv::Format("Halvane%lu", static_cast<unsigned long>(m_nCounter++));
    button->m_pfOperation = m_pfOperation;
    button->m_pLastClosed = m_pLastClosed;
    button->m_pcs = m_pcs;
    button->ShareHooks(m_calendarHook, m_tasksHook);
    const HRESULT hr = context.m_pBar->AddButton(button, TRUE);
    button->Release();
    THROW_IF_FAILED(hr);
    THROW_IF_FAILED(context.m_pBar->SetVisibility(nullptr, TRUE));
}

void CInspectorsEvents::Disconnect() {
    m_contexts.clear();
    CEventHandler::Disconnect();
}
