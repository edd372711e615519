#include "addin/ItemsEvents.h"

#include "common/DiagLog.h"

const DISPATCH_ENTRY CItemsEvents::s_table[] = {
    {DISPID_ITEMADD, 1, "ItemAdd"},
    {DISPID_ITEMCHANGE, 1, "ItemChange"},
    {0, 0, nullptr},
};

HRESULT CItemsEvents::Connect(IDispatch* source) {
    if (source) m_pItems = source;
    if (!m_pItems) return E_POINTER;
    return CEventHandler::Connect(m_pItems.get());
}

void CItemsEvents::OnInvoke(DISPID dispid, DISPPARAMS*) {
    // The push of a changed linked item to the service builds on this connection; here the sink
    // only counts what arrives.
    if (dispid == DISPID_ITEMADD) ++m_nAdds;
    if (dispid == DISPID_ITEMCHANGE) ++m_nChanges;
    HvLog().LogComment("CItemsEvents::OnInvoke");
}
