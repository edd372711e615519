#include "addin/ChangeHook.h"

#include "addin/ItemsEvents.h"
#include "common/DiagLog.h"

namespace {

template <typename Action>
void UnderSection(CRITICAL_SECTION* cs, const Action& action) {
    if (!cs) return;
    CDiagLog& log = HvLog();
    log.LogComment("CChangeHook: Entering critical section...");
    ::EnterCriticalSection(cs);
    log.LogComment("CChangeHook: In critical section");
    try {
        action();
    } catch (...) {
    }
    log.LogComment("CChangeHook: Leaving critical section...");
    ::LeaveCriticalSection(cs);
    log.LogComment("CChangeHook: Out of critical section");
}

}  // namespace

void CChangeHook::Enable(CRITICAL_SECTION* cs) {
    CLogBlock block("CChangeHook::Enable");
    UnderSection(cs, [this] {
        if (m_pSink && m_pItems) {
            HvLog().LogComment("CChangeHook: Activating Events");
            m_pSink->Connect(m_pItems);
        }
    });
}

void CChangeHook::Disable(CRITICAL_SECTION* cs) {
    CLogBlock block("CChangeHook::Disable");
    UnderSection(cs, [this] {
        if (m_pSink && m_pItems) {
            HvLog().LogComment("CChangeHook: Deactivating Events");
            m_pSink->Disconnect();
        }
    });
}
