#pragma once
// Switches one folder's change sink off while the add-in itself writes Outlook items, so that
// its own saves do not come back as "ItemChange", and on again afterwards.
#include <windows.h>
#include <oaidl.h>

class CItemsEvents;

class CChangeHook {
public:
    CChangeHook() noexcept = default;
    CChangeHook(CItemsEvents* sink, IDispatch* items) noexcept : m_pSink(sink), m_pItems(items) {}

    void Enable(CRITICAL_SECTION* cs);
    void Disable(CRITICAL_SECTION* cs);

    CItemsEvents* m_pSink = nullptr;  // not owned
    IDispatch* m_pItems = nullptr;    // not owned
};
