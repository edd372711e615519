#pragma once
// A simulated Outlook with its "MAPI" namespace handed to an item adapter, and a clean settings
// key; the service tests point the settings at the reference service first.
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "outlook-sim/src/SimOutlook.h"
#include "sync/PushPull.h"
#include "win/ComTypes.h"

class CTestPushPull : public CPushPull {
public:
    explicit CTestPushPull(CWebSvrAPI* api) : CPushPull(api, nullptr) {}
    bool AllDone() override { return true; }
    void ShowRecord(CSyncItem* record) override {
        record->m_nListIndex = static_cast<long>(m_shown.size());
        m_shown.push_back(record);
    }
    std::vector<CSyncItem*> m_shown;
};

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The simulator item's COM object (borrowed).
    IDispatch* Obj(const std::shared_ptr<hvsim::ItemData>& item) { return m_outlook->ItemObject(item); }
    // Today's date at midnight, local, plus `days`.
    static DATE Day(int days);
    // A daily series without end, 10:00 to 11:00, from the given day on.
    static hvsim::Recurrence DailyAtTen(int firstDay) {
        hvsim::Recurrence r;
        r.type = hvsim::olRecursDaily;
        r.interval = 1;
        r.patternStart = Day(firstDay);
        r.noEndDate = true;
        r.startTime = 10.0 / 24;
        r.duration = 1.0 / 24;
        return r;
    }
    static hv::unique_variant Prop(IDispatch* object, const wchar_t* name);

    std::unique_ptr<hvsim::SimOutlook> m_outlook;
    std::unique_ptr<CTestPushPull> m_adapter;
    CWebSvrAPI* m_api = nullptr;
};
