#pragma once
// The planner's Outlook side over the item adapter of a dialog (CPushPull).
#include "common/DiagLog.h"
#include "sync/Planner.h"
#include "sync/PushPull.h"

class CPlannerOutlook : public IPlannerOutlook {
public:
    explicit CPlannerOutlook(CPushPull& adapter) noexcept : m_adapter(adapter) {}

    HRESULT OpenFolder(long folder, hv::com_ptr<IDispatch>& items, long& count) override {
        const HRESULT hr = m_adapter.OpenDefaultFolder(folder, &count);
        if (SUCCEEDED(hr)) items = m_adapter.m_pItems;
        return hr;
    }
    void LoadOneItem(CSyncItem* record, IDispatch* item, int recurring) override {
        m_adapter.LoadOneItem(record, item, 0, recurring);
    }
    HRESULT ExpandSeries(CSyncItem* series, IDispatch* seriesItem, CSyncItemList& out) override {
        CLogBlock block("CPlanner::PopAppt");
        return m_adapter.ExpandSeries(series, seriesItem, out, true);
    }
    HRESULT GetItemFromID(const std::string& entryId, hv::com_ptr<IDispatch>& item) override {
        return m_adapter.GetItemFromID(entryId, item);
    }
    CRecurrenceVector* CopyVector(const CRecurrenceVector& vector) override { return m_adapter.CopyVector(vector); }

private:
    CPushPull& m_adapter;
};
