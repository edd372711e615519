#include "addin/ItemEvents.h"

#include "addin/CmdBar.h"
#include "addin/ItemWindowsEvents.h"

const DISPATCH_ENTRY CItemEvents::s_table[] = {
    {DISPID_CLOSE, 1, "Close"},
    {0, 0, nullptr},
};

void CItemEvents::OnInvoke(DISPID dispid, DISPPARAMS*) {
    if (dispid != DISPID_CLOSE || !m_pContext) return;
    if (m_pLastClosed && !m_pContext->m_strEntryID.empty()) m_pLastClosed->m_strData = m_pContext->m_strEntryID;
    // The context keeps this sink and its bar until the inspectors sink goes; the window is
    // gone, so nothing of it hears events any more.
    Disconnect();
    if (m_pContext->m_pBar) m_pContext->m_pBar->DisconnectButtons();
}
