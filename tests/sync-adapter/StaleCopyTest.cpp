// Occurrences written while Outlook holds the series as changed elsewhere: the adapter lets go
// of its copies, opens the occurrence afresh and tries once more; what still fails is a failed
// row, never a deletion.
#include "AdapterFixture.h"
#include "win/Dispatcher.h"

TEST_F(AdapterTest, AnOccurrenceWriteRefusedAsChangedElsewhereIsRetriedOnceFromFreshCopies) {
    const hvsim::Recurrence r = DailyAtTen(1);
    auto series = m_outlook->SeedSeries({{"Subject", "Daily"}}, r);
    CSyncItem seriesRecord;
    seriesRecord.m_strType = "Event";
    m_adapter->LoadOneItem(&seriesRecord, Obj(series), 0);
    CSyncItemList out;
    ASSERT_EQ(S_OK, m_adapter->ExpandSeries(&seriesRecord, Obj(series), out, true));
    ASSERT_GE(out.size(), 3u);
    auto it = out.begin();
    CSyncItem* first = (it++)->get();
    CSyncItem* second = it->get();

    // Someone saved the series once since: the first save of the occurrence is refused.
    series->failSaves = 1;
    first->title = "Renamed on the service";
    first->m_target.m_strID = "901";
    EXPECT_EQ(S_OK, m_adapter->AbsorbAppt(series->entryId, first));
    ASSERT_EQ(1u, series->recurrence->exceptions.size());
    EXPECT_EQ("Renamed on the service", series->recurrence->exceptions[0].item->Subject());

    // Refused twice: the row fails, and nothing is deleted or changed in Outlook.
    series->failSaves = 2;
    second->title = "Not written";
    second->m_target.m_strID = "902";
    EXPECT_TRUE(FAILED(m_adapter->AbsorbAppt(series->entryId, second)));
    EXPECT_EQ(1u, series->recurrence->exceptions.size());
    EXPECT_FALSE(series->recurrence->exceptions[0].deleted);
    EXPECT_EQ(1u, m_outlook->Items(hvsim::olFolderCalendar).size());
    EXPECT_EQ("Daily", series->Subject());
}

TEST_F(AdapterTest, AnOccurrenceReadAfterItsSeriesChangedIsReadAgainFromFreshCopies) {
    const hvsim::Recurrence r = DailyAtTen(1);
    auto series = m_outlook->SeedSeries({{"Subject", "Daily"}}, r);
    CSyncItem seriesRecord;
    seriesRecord.m_strType = "Event";
    m_adapter->LoadOneItem(&seriesRecord, Obj(series), 0);
    CSyncItemList out;
    ASSERT_EQ(S_OK, m_adapter->ExpandSeries(&seriesRecord, Obj(series), out, true));
    ASSERT_FALSE(out.empty());
    for (const auto& rec : out) EXPECT_NE(ACTION_FAILED, rec->m_nAction);
    // The user edits the series meanwhile; the record is read again as it now is.
    m_outlook->EditAndSave(series, {{"Location", "Hall 2"}});
    hv::com_ptr<IDispatch> item;
    ASSERT_TRUE(m_adapter->ReconstituteAppt(out.front().get(), item, 1, 1));
    EXPECT_EQ("Hall 2", out.front()->location);
}
