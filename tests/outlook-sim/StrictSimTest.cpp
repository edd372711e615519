// Where the simulator is as strict as Outlook: copies of recurring items that go stale, user
// properties of occurrences, exceptions that keep their place, filter dates in the user's
// locale, the first day of the week, task dates, filters on fields, sinks and small rules.
#include <windows.h>
#include <olectl.h>
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "outlook-sim/src/SimOutlook.h"

using namespace simtest;
using hv::unique_variant;
using hvsim::DateValue;
using hvsim::MakeDate;
using hvsim::SimOutlook;

namespace {

std::vector<unique_variant> One(unique_variant v) {
    std::vector<unique_variant> a;
    a.push_back(std::move(v));
    return a;
}

hv::com_ptr<IDispatch> Namespace(SimOutlook& o) {
    return CallObj(o.Application(), L"GetNamespace", One(unique_variant::FromString("MAPI")));
}

hv::com_ptr<IDispatch> FolderItems(SimOutlook& o, long id) {
    auto folder = CallObj(Namespace(o).get(), L"GetDefaultFolder", One(unique_variant::FromLong(id)));
    return GetObj(folder.get(), L"Items");
}

hv::com_ptr<IDispatch> FromId(SimOutlook& o, const std::string& id) {
    return CallObj(Namespace(o).get(), L"GetItemFromID", One(unique_variant::FromString(id)));
}

hv::com_ptr<IDispatch> OccurrenceAt(IDispatch* series, DATE when) {
    auto pattern = CallObj(series, L"GetRecurrencePattern", {});
    if (!pattern) return nullptr;
    unique_variant v;
    if (FAILED(Call(pattern.get(), L"GetOccurrence", One(unique_variant::FromDate(when)), v.put()))) return nullptr;
    return hv::com_ptr<IDispatch>(v.AsDispatch());
}

// A daily series at 09:00 for an hour from 2024-01-01 (a Monday), ten occurrences.
std::shared_ptr<hvsim::ItemData> Daily(SimOutlook& o) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.patternStart = MakeDate(2024, 1, 1);
    r.occurrences = 10;
    r.startTime = 9 / 24.0;
    r.duration = 1 / 24.0;
    return o.SeedSeries({{"Subject", "Daily"}}, r);
}

long CountOf(IDispatch* items, const std::string& filter, HRESULT* hr = nullptr) {
    unique_variant v;
    const HRESULT r = Call(items, L"Restrict", One(unique_variant::FromString(filter)), v.put());
    if (hr) *hr = r;
    return SUCCEEDED(r) && v.AsDispatch() ? Get(v.AsDispatch(), L"Count").AsLong() : -1;
}

}  // namespace

TEST(StrictSim, SaveThroughAStaleCopyOfARecurringItemFails) {
    SimOutlook o;
    auto series = Daily(o);
    auto first = FromId(o, series->entryId);
    auto second = FromId(o, series->entryId);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());  // each GetItemFromID is a copy of its own
    EXPECT_EQ(S_OK, Put(first.get(), L"Location", unique_variant::FromString("Room 1")));
    EXPECT_EQ(S_OK, Call(first.get(), L"Save", {}));
    EXPECT_EQ(S_OK, Call(first.get(), L"Save", {}));  // its own saves do not make it stale
    Put(second.get(), L"Location", unique_variant::FromString("Room 2"));
    EXPECT_TRUE(FAILED(Call(second.get(), L"Save", {})));
    EXPECT_EQ("Room 1", series->Get("Location").AsText());

    // An occurrence taken through a stale series copy cannot be saved either; one taken afresh can.
    auto staleOccurrence = OccurrenceAt(second.get(), MakeDate(2024, 1, 3, 9));
    ASSERT_TRUE(staleOccurrence);
    Put(staleOccurrence.get(), L"Location", unique_variant::FromString("Room 3"));
    EXPECT_TRUE(FAILED(Call(staleOccurrence.get(), L"Save", {})));
    auto fresh = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 3, 9));
    ASSERT_TRUE(fresh);
    Put(fresh.get(), L"Location", unique_variant::FromString("Room 3"));
    EXPECT_EQ(S_OK, Call(fresh.get(), L"Save", {}));
}

TEST(StrictSim, AnOccurrenceOfASeriesChangedMeanwhileCannotBeRead) {
    SimOutlook o;
    auto series = Daily(o);
    auto occurrence = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 4, 9));
    ASSERT_TRUE(occurrence);
    EXPECT_EQ("Daily", Get(occurrence.get(), L"Subject").AsString());
    o.EditAndSave(series, {{"Location", "elsewhere"}});  // the user saves the series in another window
    unique_variant v;
    EXPECT_TRUE(FAILED(CDispatcher::GetProperty(occurrence.get(), L"Subject", v.put())));
    // Reopened, it reads again.
    auto again = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 4, 9));
    ASSERT_TRUE(again);
    EXPECT_EQ("elsewhere", Get(again.get(), L"Location").AsString());
}

TEST(StrictSim, AnOccurrenceHasTheUserPropertiesOfItsSeries) {
    SimOutlook o;
    auto series = Daily(o);
    SimOutlook::SetUserProperty(*series, "Colour", hvsim::Value("blue"));
    auto occurrence = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 2, 9));
    ASSERT_TRUE(occurrence);
    auto props = GetObj(occurrence.get(), L"UserProperties");
    EXPECT_EQ(1, Get(props.get(), L"Count").AsLong());
    std::vector<unique_variant> add;
    add.push_back(unique_variant::FromString("HV Record ID"));
    add.push_back(unique_variant::FromLong(1));
    auto prop = CallObj(props.get(), L"Add", std::move(add));
    ASSERT_TRUE(prop);
    EXPECT_EQ(S_OK, Put(prop.get(), L"Value", unique_variant::FromString("77")));
    EXPECT_EQ(S_OK, Call(occurrence.get(), L"Save", {}));
    // Written on the series: the whole series now carries it.
    ASSERT_TRUE(series->FindUserProp("HV Record ID"));
    EXPECT_EQ("77", series->FindUserProp("HV Record ID")->value.AsText());
    unique_variant found;
    ASSERT_EQ(S_OK, Call(FolderItems(o, 9).get(), L"Find", One(unique_variant::FromString("[HV Record ID] = '77'")),
                         found.put()));
    ASSERT_TRUE(found.AsDispatch());
    EXPECT_TRUE(Get(found.AsDispatch(), L"IsRecurring").AsBool());
    auto other = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 5, 9));
    EXPECT_EQ(2, Get(GetObj(other.get(), L"UserProperties").get(), L"Count").AsLong());
}

TEST(StrictSim, AnOccurrenceCannotBeMovedOntoAnotherOrPastItsNeighbours) {
    SimOutlook o;
    auto series = Daily(o);
    auto move = [&](DATE original, DATE start) {
        auto occurrence = OccurrenceAt(FromId(o, series->entryId).get(), original);
        EXPECT_TRUE(occurrence);
        if (!occurrence) return E_FAIL;
        Put(occurrence.get(), L"Start", unique_variant::FromDate(start));
        Put(occurrence.get(), L"End", unique_variant::FromDate(start + 1 / 24.0));
        return Call(occurrence.get(), L"Save", {});
    };
    EXPECT_TRUE(FAILED(move(MakeDate(2024, 1, 3, 9), MakeDate(2024, 1, 4, 11))));     // onto the 4th's day
    EXPECT_TRUE(FAILED(move(MakeDate(2024, 1, 3, 9), MakeDate(2024, 1, 6, 11))));     // past the 4th
    EXPECT_TRUE(FAILED(move(MakeDate(2024, 1, 3, 9), MakeDate(2024, 1, 2, 9, 30))));  // before the 2nd ends
    EXPECT_TRUE(o.GetModel().FindByEntryId(series->entryId)->recurrence->exceptions.empty());
    EXPECT_EQ(S_OK, move(MakeDate(2024, 1, 3, 9), MakeDate(2024, 1, 3, 15)));  // later the same day
    EXPECT_EQ(S_OK, move(MakeDate(2024, 1, 4, 9), MakeDate(2024, 1, 4, 7)));   // earlier the same day
    // Deleting the 6th frees its day for the 5th.
    auto sixth = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 6, 9));
    ASSERT_TRUE(sixth);
    EXPECT_EQ(S_OK, Call(sixth.get(), L"Delete", {}));
    EXPECT_EQ(S_OK, move(MakeDate(2024, 1, 5, 9), MakeDate(2024, 1, 6, 10)));
}

TEST(StrictSim, FilterDatesAreReadInTheProfileLocaleWithoutSeconds) {
    SimOutlook o;
    DATE now = MakeDate(2024, 3, 4, 9, 0);  // 4 March
    o.SetClock([&] { return now; });
    o.Seed(13, {{"Subject", "early"}});
    now = MakeDate(2024, 4, 2, 15, 30);  // 2 April
    o.Seed(13, {{"Subject", "late"}});
    auto items = FolderItems(o, 13);
    // en-US (the default): month first.
    EXPECT_EQ(1, CountOf(items.get(), "[LastModificationTime] > '3/10/2024 12:00 PM'"));
    EXPECT_EQ(2, CountOf(items.get(), "[LastModificationTime] > '3/4/2024 8:59 AM'"));
    HRESULT hr = S_OK;
    EXPECT_EQ(-1, CountOf(items.get(), "[LastModificationTime] > '3/10/2024 12:00:00 PM'", &hr));  // seconds
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(-1, CountOf(items.get(), "[LastModificationTime] > '10.03.2024 12:00'"));
    // en-GB: day first; the same text now names 3 October.
    o.GetModel().locale = "en-GB";
    EXPECT_EQ(0, CountOf(items.get(), "[LastModificationTime] > '3/10/2024 12:00 PM'"));
    EXPECT_EQ(1, CountOf(items.get(), "[LastModificationTime] > '10/03/2024 12:00'"));
    EXPECT_EQ(-1, CountOf(items.get(), "[LastModificationTime] > '03/15/2024 12:00'"));  // no 15th month
    // de-DE: day first with dots.
    o.GetModel().locale = "de-DE";
    EXPECT_EQ(1, CountOf(items.get(), "[LastModificationTime] > '10.03.2024 12:00'"));
    EXPECT_EQ(1, CountOf(items.get(), "[LastModificationTime] >= '02.04.2024 15:30'"));
    EXPECT_EQ(-1, CountOf(items.get(), "[LastModificationTime] > '03/10/2024 12:00'"));
    EXPECT_EQ(-1, CountOf(items.get(), "[LastModificationTime] > '10.03.2024 12:00:00'"));
    // The unambiguous form reads the same everywhere.
    EXPECT_EQ(1, CountOf(items.get(), "[LastModificationTime] > '2024-03-10 12:00'"));
}

TEST(StrictSim, WeeklyPeriodsStartOnTheSeriesFirstDayOfTheWeek) {
    // Every other week on Sunday and Monday from Monday 2024-01-01.
    hvsim::Recurrence r;
    r.type = hvsim::olRecursWeekly;
    r.interval = 2;
    r.dayOfWeekMask = hvsim::olSunday | hvsim::olMonday;
    r.patternStart = MakeDate(2024, 1, 1);
    r.startTime = 9 / 24.0;
    r.duration = 1 / 24.0;
    {
        SimOutlook o;  // en-US: weeks from Sunday, so Sunday 7 January opens the second week
        auto s = o.SeedSeries({{"Subject", "US"}}, r);
        EXPECT_EQ(0, s->recurrence->firstDayOfWeek);
        EXPECT_FALSE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 7, 9)));
        EXPECT_TRUE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 14, 9)));
        EXPECT_TRUE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 15, 9)));
    }
    {
        SimOutlook o;
        o.GetModel().locale = "de-DE";  // weeks from Monday: Sunday 7 January closes the first
        auto s = o.SeedSeries({{"Subject", "DE"}}, r);
        EXPECT_EQ(1, s->recurrence->firstDayOfWeek);
        EXPECT_TRUE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 7, 9)));
        EXPECT_FALSE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 14, 9)));
        EXPECT_TRUE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 15, 9)));
        EXPECT_TRUE(OccurrenceAt(o.ItemObject(s), MakeDate(2024, 1, 21, 9)));
        // Kept in the store.
        SimOutlook reloaded;
        reloaded.FromJson(o.ToJson());
        EXPECT_EQ(1, reloaded.FindBySubject(9, "DE")->recurrence->firstDayOfWeek);
    }
}

TEST(StrictSim, TaskDatesFollowOutlooksRules) {
    SimOutlook o;
    auto task = CallObj(FolderItems(o, 13).get(), L"Add", {});
    ASSERT_TRUE(task);
    // A due date is a whole day.
    EXPECT_EQ(S_OK, Put(task.get(), L"DueDate", unique_variant::FromDate(MakeDate(2024, 5, 10, 17, 45))));
    EXPECT_EQ(MakeDate(2024, 5, 10), Get(task.get(), L"DueDate").AsDate());
    // A start after the due date moves the due date.
    EXPECT_EQ(S_OK, Put(task.get(), L"StartDate", unique_variant::FromDate(MakeDate(2024, 5, 12))));
    EXPECT_EQ(MakeDate(2024, 5, 12), Get(task.get(), L"DueDate").AsDate());
    // A due date before the start moves the start.
    Put(task.get(), L"DueDate", unique_variant::FromDate(MakeDate(2024, 5, 8)));
    EXPECT_EQ(MakeDate(2024, 5, 8), Get(task.get(), L"StartDate").AsDate());
    // No due date, no start date.
    Put(task.get(), L"DueDate", unique_variant::FromDate(hvsim::kNoDate));
    EXPECT_EQ(hvsim::kNoDate, Get(task.get(), L"StartDate").AsDate());
    // A start date alone gives the same due date.
    Put(task.get(), L"StartDate", unique_variant::FromDate(MakeDate(2024, 6, 1, 8)));
    EXPECT_EQ(MakeDate(2024, 6, 1), Get(task.get(), L"StartDate").AsDate());
    EXPECT_EQ(MakeDate(2024, 6, 1), Get(task.get(), L"DueDate").AsDate());
}

TEST(StrictSim, FiltersOnFieldsTheFolderDoesNotHaveOrOnBodyOrEntryIdFail) {
    SimOutlook o;
    auto task = o.Seed(13, {{"Subject", "a"}, {"Body", "text"}});
    auto items = FolderItems(o, 13);
    HRESULT hr = S_OK;
    EXPECT_EQ(-1, CountOf(items.get(), "[HV Record ID] = '1'", &hr));  // no such field in the folder yet
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(FAILED(Call(items.get(), L"Find", One(unique_variant::FromString("[HV Record ID] = '1'")))));
    o.GetModel().GetFolder(13)->UserFields().push_back("HV Record ID");
    EXPECT_EQ(0, CountOf(items.get(), "[HV Record ID] = '1'"));
    EXPECT_EQ(-1, CountOf(items.get(), "[Body] = 'text'"));
    EXPECT_EQ(-1, CountOf(items.get(), "[EntryID] = '" + task->entryId + "'"));
    EXPECT_EQ(1, CountOf(items.get(), "[Subject] = 'a'"));
}

namespace {
// A sink that answers IDispatch but not the event interface.
class DispatchOnlySink : public RecordingSink {
public:
    DispatchOnlySink() : RecordingSink(IID_IDispatch) {}
};
}  // namespace

TEST(StrictSim, AdviseAsksTheSinkForTheEventInterface) {
    SimOutlook o;
    auto items = FolderItems(o, 13);
    hv::com_ptr<IConnectionPointContainer> cpc;
    ASSERT_EQ(S_OK, items->QueryInterface(IID_IConnectionPointContainer, cpc.put_void()));
    const IID itemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    hv::com_ptr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, cpc->FindConnectionPoint(itemsEvents, point.put()));
    DispatchOnlySink plain;
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(static_cast<IDispatch*>(&plain), &cookie));
    RecordingSink sink(itemsEvents);
    EXPECT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(&sink), &cookie));
    o.Seed(13, {{"Subject", "new"}});
    EXPECT_EQ(1u, sink.Count(0xF001));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST(StrictSim, TasksCannotBeForwardedAndADeletedOccurrenceHasADateOnly) {
    SimOutlook o;
    auto task = o.Seed(13, {{"Subject", "t"}});
    EXPECT_TRUE(FAILED(Call(o.ItemObject(task), L"Forward", {})));
    auto mail = o.Seed(6, {{"Subject", "m"}});
    EXPECT_EQ(S_OK, Call(o.ItemObject(mail), L"Forward", {}));

    auto series = Daily(o);
    auto occurrence = OccurrenceAt(FromId(o, series->entryId).get(), MakeDate(2024, 1, 2, 9));
    ASSERT_TRUE(occurrence);
    EXPECT_EQ(S_OK, Call(occurrence.get(), L"Delete", {}));
    auto pattern = CallObj(FromId(o, series->entryId).get(), L"GetRecurrencePattern", {});
    auto exception = CallObj(GetObj(pattern.get(), L"Exceptions").get(), L"Item", One(unique_variant::FromLong(1)));
    ASSERT_TRUE(exception);
    EXPECT_TRUE(Get(exception.get(), L"Deleted").AsBool());
    EXPECT_EQ(MakeDate(2024, 1, 2), Get(exception.get(), L"OriginalDate").AsDate());
}

namespace {
const IID kItemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kItemEvents10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID kItemAdd = 0xF001, kItemChange = 0xF002, kClose = 0xF004;

// Writes every event it hears into a log shared with other sinks, to see their order.
class OrderSink : public RecordingSink {
public:
    OrderSink(const IID& iid, std::vector<std::string>* log, const char* name)
        : RecordingSink(iid), m_log(log), m_name(name) {}
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                        UINT* a) override {
        m_log->push_back(std::string(m_name) + ":" + std::to_string(id));
        if (onEvent) onEvent(id);
        return RecordingSink::Invoke(id, riid, lcid, flags, p, r, e, a);
    }
    std::function<void(DISPID)> onEvent;

private:
    std::vector<std::string>* m_log;
    const char* m_name;
};
}  // namespace

TEST(StrictSim, EventsCanArriveAfterTheCallThatCausedThem) {
    SimOutlook o;
    o.Delivery().asynchronous = true;
    auto items = FolderItems(o, 13);
    RecordingSink sink(kItemsEvents);
    DWORD cookie = sink.Connect(items.get());
    auto task = o.Seed(13, {{"Subject", "a"}});
    EXPECT_EQ(0u, sink.Count(kItemAdd));  // not inside the save
    EXPECT_TRUE(o.PumpEventsUntil([&] { return sink.Count(kItemAdd) == 1; }, 5000));
    o.EditAndSave(task, {{"Subject", "b"}});
    EXPECT_EQ(0u, sink.Count(kItemChange));
    EXPECT_TRUE(o.PumpEventsUntil([&] { return sink.Count(kItemChange) == 1; }, 5000));
    sink.Disconnect(cookie);
}

TEST(StrictSim, ItemChangeCanComeTwiceOrLateForOneSave) {
    SimOutlook o;
    auto items = FolderItems(o, 13);
    RecordingSink sink(kItemsEvents);
    DWORD cookie = sink.Connect(items.get());
    auto task = o.Seed(13, {{"Subject", "a"}});
    o.Delivery().itemChangeTwice = true;
    o.EditAndSave(task, {{"Subject", "b"}});
    EXPECT_EQ(2u, sink.Count(kItemChange));
    o.Delivery().itemChangeTwice = false;
    o.Delivery().lateItemChangeMs = 200;
    o.EditAndSave(task, {{"Subject", "c"}});
    EXPECT_EQ(3u, sink.Count(kItemChange));
    EXPECT_TRUE(o.PumpEventsUntil([&] { return sink.Count(kItemChange) == 4; }, 5000));
    sink.Disconnect(cookie);
}

TEST(StrictSim, ManyItemsAddedInOneGoRaiseNoItemAdd) {
    SimOutlook o;
    auto items = FolderItems(o, 13);
    RecordingSink sink(kItemsEvents);
    DWORD cookie = sink.Connect(items.get());
    std::vector<std::string> sixteen(16, "few"), seventeen(17, "many");
    EXPECT_EQ(16u, o.SeedMany(13, sixteen).size());
    EXPECT_EQ(16u, sink.Count(kItemAdd));
    EXPECT_EQ(17u, o.SeedMany(13, seventeen).size());
    EXPECT_EQ(16u, sink.Count(kItemAdd));
    EXPECT_EQ(33u, o.Items(13).size());
    sink.Disconnect(cookie);
}

TEST(StrictSim, AnInspectorsCloseComesBeforeOrAfterItsWrite) {
    for (bool after : {false, true}) {
        SimOutlook o;
        o.Delivery().closeAfterWrite = after;
        auto task = o.Seed(13, {{"Subject", "a"}});
        auto items = FolderItems(o, 13);
        std::vector<std::string> log;
        OrderSink folderSink(kItemsEvents, &log, "items");
        DWORD c1 = folderSink.Connect(items.get());
        IDispatch* inspector = o.OpenInspector(task);
        ASSERT_TRUE(inspector);
        OrderSink itemSink(kItemEvents10, &log, "item");
        DWORD c2 = itemSink.Connect(o.ItemObject(task));
        task->Set("Subject", hvsim::Value("b"));
        EXPECT_TRUE(o.CloseInspector(task, true));
        const std::vector<std::string> before = {"item:" + std::to_string(kClose),
                                                 "items:" + std::to_string(kItemChange)};
        const std::vector<std::string> later = {"items:" + std::to_string(kItemChange),
                                                "item:" + std::to_string(kClose)};
        EXPECT_EQ(after ? later : before, log);
        itemSink.Disconnect(c2);
        folderSink.Disconnect(c1);
    }
}

TEST(StrictSim, ASaveInsideItemChangeRaisesItemChangeAgain) {
    SimOutlook o;
    auto task = o.Seed(13, {{"Subject", "a"}});
    auto items = FolderItems(o, 13);
    std::vector<std::string> log;
    OrderSink sink(kItemsEvents, &log, "items");
    int saves = 0;
    sink.onEvent = [&](DISPID id) {
        if (id == kItemChange && saves++ == 0) Call(o.ItemObject(task), L"Save", {});
    };
    DWORD cookie = sink.Connect(items.get());
    o.EditAndSave(task, {{"Subject", "b"}});
    EXPECT_EQ(2u, sink.Count(kItemChange));
    sink.Disconnect(cookie);
}
