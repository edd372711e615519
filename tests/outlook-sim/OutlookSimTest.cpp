// The simulator's own behaviour where the add-in relies on it, reached late-bound as the
// add-in reaches Outlook.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>

#include "SimTestUtil.h"
#include "outlook-sim/src/SimOutlook.h"
#include "outlook-sim/src/SimScript.h"

#include <sstream>

using namespace simtest;
using hv::unique_variant;
using hvsim::DateValue;
using hvsim::MakeDate;
using hvsim::SimOutlook;

namespace {

const IID IID_ItemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ItemEvents_10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_InspectorsEvents = {0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ExplorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::vector<unique_variant> Args1(unique_variant v) {
    std::vector<unique_variant> a;
    a.push_back(std::move(v));
    return a;
}

hv::com_ptr<IDispatch> Folder(SimOutlook& o, long id) {
    auto ns = CallObj(o.Application(), L"GetNamespace", Args1(unique_variant::FromString("MAPI")));
    return CallObj(ns.get(), L"GetDefaultFolder", Args1(unique_variant::FromLong(id)));
}

hv::com_ptr<IDispatch> Restrict(IDispatch* items, const char* filter, HRESULT* hr = nullptr) {
    unique_variant v;
    HRESULT r = Call(items, L"Restrict", Args1(unique_variant::FromString(filter)), v.put());
    if (hr) *hr = r;
    return SUCCEEDED(r) ? hv::com_ptr<IDispatch>(v.AsDispatch()) : nullptr;
}

long Count(IDispatch* collection) {
    return Get(collection, L"Count").AsLong();
}

hv::com_ptr<IDispatch> Item(IDispatch* collection, long i) {
    return CallObj(collection, L"Item", Args1(unique_variant::FromLong(i)));
}

// A series seeded directly; the pattern under test, at 09:00 for an hour.
std::shared_ptr<hvsim::ItemData> Series(SimOutlook& o, hvsim::Recurrence r) {
    r.startTime = 9 / 24.0;
    r.duration = 1.0 / 24;
    return o.SeedSeries({{"Subject", "Series"}}, r);
}

// Whether GetOccurrence answers for the date (at that hour when hour >= 0, else the date alone).
bool HasOccurrence(SimOutlook& o, const std::shared_ptr<hvsim::ItemData>& series, int y, int m, int d, int hour = -1) {
    auto pattern = CallObj(o.ItemObject(series), L"GetRecurrencePattern", {});
    unique_variant v;
    DATE when = hour >= 0 ? MakeDate(y, m, d, hour) : MakeDate(y, m, d);
    HRESULT hr = Call(pattern.get(), L"GetOccurrence", Args1(unique_variant::FromDate(when)), v.put());
    return SUCCEEDED(hr) && v.AsDispatch() != nullptr;
}

hv::com_ptr<IDispatch> Occurrence(IDispatch* pattern, DATE when) {
    return CallObj(pattern, L"GetOccurrence", Args1(unique_variant::FromDate(when)));
}

}  // namespace

TEST(OutlookSim, ApplicationAnswersNamesCaseInsensitivelyWithStableDispids) {
    SimOutlook o;
    EXPECT_EQ("Outlook", Get(o.Application(), L"Name").AsString());
    EXPECT_EQ("Outlook", Get(o.Application(), L"NAME").AsString());
    DISPID a = 0, b = 0;
    EXPECT_EQ(S_OK, CDispatcher::GetDispId(o.Application(), L"version", &a));
    EXPECT_EQ(S_OK, CDispatcher::GetDispId(o.Application(), L"Version", &b));
    EXPECT_EQ(a, b);
    DISPID unknown = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, CDispatcher::GetDispId(o.Application(), L"NoSuchMember", &unknown));
    EXPECT_EQ(3, Get(Folder(o, 13).get(), L"DefaultItemType").AsLong());
    EXPECT_EQ(1, Get(Folder(o, 9).get(), L"DefaultItemType").AsLong());
    EXPECT_EQ(0, Get(Folder(o, 6).get(), L"DefaultItemType").AsLong());
}

TEST(OutlookSim, NewTaskGetsEntryIdAndModificationTimeOnFirstSave) {
    SimOutlook o;
    o.SetClock([] { return MakeDate(2024, 3, 1, 10, 15, 30); });
    auto items = GetObj(Folder(o, 13).get(), L"Items");
    auto task = CallObj(items.get(), L"Add", Args1(unique_variant::FromLong(3)));
    ASSERT_TRUE(task);
    EXPECT_EQ(48, Get(task.get(), L"Class").AsLong());
    EXPECT_EQ("", Get(task.get(), L"EntryID").AsString());
    EXPECT_EQ(hvsim::kNoDate, Get(task.get(), L"DueDate").AsDate());
    EXPECT_EQ(S_OK, Put(task.get(), L"Subject", unique_variant::FromString("Buy milk")));
    EXPECT_EQ(S_OK, Call(task.get(), L"Save", {}));
    std::string id = Get(task.get(), L"EntryID").AsString();
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(MakeDate(2024, 3, 1, 10, 15, 30), Get(task.get(), L"LastModificationTime").AsDate());
    EXPECT_EQ(1, Count(items.get()));
    EXPECT_EQ(S_OK, Call(task.get(), L"Save", {}));
    EXPECT_EQ(id, Get(task.get(), L"EntryID").AsString());
    EXPECT_EQ(1, Count(items.get()));
    // An appointment cannot be added to the Tasks folder.
    EXPECT_TRUE(FAILED(Call(items.get(), L"Add", Args1(unique_variant::FromLong(1)))));
}

TEST(OutlookSim, RestrictOnLastModificationTimeComparesToTheMinute) {
    SimOutlook o;
    DATE now = MakeDate(2024, 1, 15, 10, 0);
    o.SetClock([&] { return now; });
    o.Seed(13, {{"Subject", "old"}});
    now = MakeDate(2024, 1, 15, 10, 30, 40);
    o.Seed(13, {{"Subject", "same minute"}});
    now = MakeDate(2024, 1, 15, 14, 5);
    o.Seed(13, {{"Subject", "new"}});
    auto items = GetObj(Folder(o, 13).get(), L"Items");
    auto later = Restrict(items.get(), "[LastModificationTime] > '01/15/2024 10:30 AM'");
    ASSERT_TRUE(later);
    ASSERT_EQ(1, Count(later.get()));
    EXPECT_EQ("new", Get(Item(later.get(), 1).get(), L"Subject").AsString());
    EXPECT_EQ(2, Count(Restrict(items.get(), "[LastModificationTime] >= '1/15/2024 10:30 AM'").get()));
    EXPECT_EQ(3, Count(Restrict(items.get(), "[LastModificationTime] > '01/14/2024 11:59 PM'").get()));
    EXPECT_EQ(0, Count(Restrict(items.get(), "[LastModificationTime] > '01/15/2024 2:05 PM'").get()));
    EXPECT_EQ(
        2,
        Count(
            Restrict(items.get(), "[Subject] = 'old' OR ([Subject] <> 'same minute' AND NOT [Subject] = 'x')").get()));
}

TEST(OutlookSim, FilterThatCannotBeParsedFails) {
    SimOutlook o;
    o.Seed(13, {{"Subject", "a"}});
    auto items = GetObj(Folder(o, 13).get(), L"Items");
    for (const char* bad : {"[Subject] = ", "Subject = 'a'", "[Subject] ~ 'a'", "[Subject] = 'a", "[Subject] = 'a' AND",
                            "[NoSuchField] = 'x'", "[LastModificationTime] > 'yesterday'"}) {
        HRESULT hr = S_OK;
        EXPECT_FALSE(Restrict(items.get(), bad, &hr)) << bad;
        EXPECT_TRUE(FAILED(hr)) << bad;
        EXPECT_TRUE(FAILED(Call(items.get(), L"Find", Args1(unique_variant::FromString(bad))))) << bad;
    }
}

TEST(OutlookSim, FindByUserPropertyAddedToFolderFields) {
    SimOutlook o;
    auto items = GetObj(Folder(o, 13).get(), L"Items");
    for (const char* name : {"one", "two"}) {
        auto task = CallObj(items.get(), L"Add", Args1(unique_variant::FromLong(3)));
        Put(task.get(), L"Subject", unique_variant::FromString(name));
        auto props = GetObj(task.get(), L"UserProperties");
        std::vector<unique_variant> a;
        a.push_back(unique_variant::FromString("HV Record ID"));
        a.push_back(unique_variant::FromLong(1));
        a.push_back(unique_variant::FromBool(true));
        auto prop = CallObj(props.get(), L"Add", std::move(a));
        ASSERT_TRUE(prop);
        EXPECT_EQ(S_OK, Put(prop.get(), L"Value", unique_variant::FromString(std::string("rec-") + name)));
        Call(task.get(), L"Save", {});
    }
    auto unlinked = o.Seed(13, {{"Subject", "unlinked"}});
    unique_variant found;
    ASSERT_EQ(S_OK,
              Call(items.get(), L"Find", Args1(unique_variant::FromString("[HV Record ID] = 'rec-two'")), found.put()));
    ASSERT_TRUE(found.AsDispatch());
    EXPECT_EQ("two", Get(found.AsDispatch(), L"Subject").AsString());
    unique_variant none;
    ASSERT_EQ(S_OK,
              Call(items.get(), L"Find", Args1(unique_variant::FromString("[HV Record ID] = 'rec-x'")), none.put()));
    EXPECT_EQ(nullptr, none.AsDispatch());
    // UserProperties.Find(name, true) answers Nothing for a missing property.
    std::vector<unique_variant> a;
    a.push_back(unique_variant::FromString("HV Record ID"));
    a.push_back(unique_variant::FromBool(true));
    unique_variant missing;
    EXPECT_EQ(S_OK,
              Call(GetObj(o.ItemObject(unlinked), L"UserProperties").get(), L"Find", std::move(a), missing.put()));
    EXPECT_EQ(nullptr, missing.AsDispatch());
}

TEST(OutlookSim, RestrictIsRecurringSelectsSeries) {
    SimOutlook o;
    o.Seed(9, {{"Subject", "single"}, {"Start", DateValue(2024, 1, 2, 9)}, {"End", DateValue(2024, 1, 2, 10)}});
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.patternStart = MakeDate(2024, 1, 1);
    Series(o, r);
    auto items = GetObj(Folder(o, 9).get(), L"Items");
    auto recurring = Restrict(items.get(), "[IsRecurring] = True");
    ASSERT_EQ(1, Count(recurring.get()));
    EXPECT_EQ("Series", Get(Item(recurring.get(), 1).get(), L"Subject").AsString());
    EXPECT_TRUE(Get(Item(recurring.get(), 1).get(), L"IsRecurring").AsBool());
    EXPECT_EQ(1, Count(Restrict(items.get(), "[IsRecurring] = False").get()));
}

TEST(OutlookSim, GetOccurrenceDaily) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 2;
    r.patternStart = MakeDate(2024, 1, 1);
    auto s = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 1, 9));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 3));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 4));
    EXPECT_FALSE(HasOccurrence(o, s, 2023, 12, 30));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 3, 10));  // right day, wrong time
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 2, 28));      // 58 days after Jan 1
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 2, 29));
}

TEST(OutlookSim, GetOccurrenceWeeklyMondayThursdayEveryOtherWeek) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursWeekly;
    r.interval = 2;
    r.dayOfWeekMask = hvsim::olMonday | hvsim::olThursday;
    r.patternStart = MakeDate(2024, 1, 1);  // a Monday
    auto s = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 1));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 4));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 8));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 11));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 15));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 18));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 16));
}

TEST(OutlookSim, GetOccurrenceMonthlyOnThe31stFallsOnTheLastDay) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursMonthly;
    r.dayOfMonth = 31;
    r.patternStart = MakeDate(2024, 1, 31);
    auto s = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 31));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 2, 29));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 2, 28));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 4, 30));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 3, 30));
}

TEST(OutlookSim, GetOccurrenceMonthNthSecondTuesdayAndLastFriday) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursMonthNth;
    r.instance = 2;
    r.dayOfWeekMask = hvsim::olTuesday;
    r.patternStart = MakeDate(2024, 1, 1);
    auto s = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 9));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 2, 13));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 2, 6));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 2, 20));
    r.instance = 5;  // the last
    r.dayOfWeekMask = hvsim::olFriday;
    auto last = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, last, 2024, 1, 26));
    EXPECT_TRUE(HasOccurrence(o, last, 2024, 3, 29));
    EXPECT_FALSE(HasOccurrence(o, last, 2024, 3, 22));
}

TEST(OutlookSim, GetOccurrenceYearlyAndYearNth) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursYearly;
    r.interval = 12;
    r.monthOfYear = 6;
    r.dayOfMonth = 15;
    r.patternStart = MakeDate(2024, 6, 15);
    auto y = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, y, 2025, 6, 15));
    EXPECT_FALSE(HasOccurrence(o, y, 2025, 6, 16));
    EXPECT_FALSE(HasOccurrence(o, y, 2024, 7, 15));
    hvsim::Recurrence t;  // the fourth Thursday of November
    t.type = hvsim::olRecursYearNth;
    t.interval = 12;
    t.monthOfYear = 11;
    t.instance = 4;
    t.dayOfWeekMask = hvsim::olThursday;
    t.patternStart = MakeDate(2024, 1, 1);
    auto th = Series(o, t);
    EXPECT_TRUE(HasOccurrence(o, th, 2024, 11, 28));
    EXPECT_TRUE(HasOccurrence(o, th, 2025, 11, 27));
    EXPECT_FALSE(HasOccurrence(o, th, 2025, 11, 20));
    EXPECT_FALSE(HasOccurrence(o, th, 2025, 10, 23));
}

TEST(OutlookSim, SeriesEndsAfterItsOccurrenceCount) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.noEndDate = false;
    r.occurrences = 3;
    r.patternStart = MakeDate(2024, 1, 1);
    auto s = Series(o, r);
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 3));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 4));
    auto pattern = CallObj(o.ItemObject(s), L"GetRecurrencePattern", {});
    EXPECT_EQ(MakeDate(2024, 1, 3), Get(pattern.get(), L"PatternEndDate").AsDate());
    EXPECT_EQ(3, Get(pattern.get(), L"Occurrences").AsLong());
    EXPECT_FALSE(Get(pattern.get(), L"NoEndDate").AsBool());
    EXPECT_NEAR(9 / 24.0, Get(pattern.get(), L"StartTime").AsDate(), 1e-6);
    EXPECT_EQ(MakeDate(2024, 1, 1, 9), Get(o.ItemObject(s), L"Start").AsDate());
}

TEST(OutlookSim, OccurrenceEditsBecomeExceptions) {
    SimOutlook o;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.patternStart = MakeDate(2024, 1, 1);
    auto s = Series(o, r);
    // Every step takes the series and its pattern afresh, as Outlook requires after a save.
    auto freshPattern = [&] { return CallObj(o.ItemObject(s), L"GetRecurrencePattern", {}); };
    auto pattern = freshPattern();
    auto occ = Occurrence(pattern.get(), MakeDate(2024, 1, 2, 9));
    ASSERT_TRUE(occ);
    EXPECT_TRUE(Get(occ.get(), L"IsRecurring").AsBool());
    EXPECT_EQ(s->entryId, Get(occ.get(), L"EntryID").AsString());
    EXPECT_EQ(S_OK, Put(occ.get(), L"BillingInformation", unique_variant::FromString("<HV><ID>7</ID></HV>")));
    EXPECT_EQ(S_OK, Call(occ.get(), L"Save", {}));
    // Moved: the third occurrence goes to 11:00 on its day.
    auto third = Occurrence(freshPattern().get(), MakeDate(2024, 1, 3));
    ASSERT_TRUE(third);
    Put(third.get(), L"Start", unique_variant::FromDate(MakeDate(2024, 1, 3, 11)));
    Put(third.get(), L"End", unique_variant::FromDate(MakeDate(2024, 1, 3, 12)));
    EXPECT_EQ(S_OK, Call(third.get(), L"Save", {}));
    // Deleted: the 5th.
    auto fifth = Occurrence(freshPattern().get(), MakeDate(2024, 1, 5));
    ASSERT_TRUE(fifth);
    EXPECT_EQ(S_OK, Call(fifth.get(), L"Delete", {}));
    pattern = freshPattern();

    auto exceptions = GetObj(pattern.get(), L"Exceptions");
    ASSERT_EQ(3, Count(exceptions.get()));
    auto e1 = Item(exceptions.get(), 1);
    EXPECT_EQ(MakeDate(2024, 1, 2, 9), Get(e1.get(), L"OriginalDate").AsDate());
    EXPECT_FALSE(Get(e1.get(), L"Deleted").AsBool());
    EXPECT_EQ("<HV><ID>7</ID></HV>", Get(GetObj(e1.get(), L"AppointmentItem").get(), L"BillingInformation").AsString());
    auto e3 = Item(exceptions.get(), 3);
    EXPECT_TRUE(Get(e3.get(), L"Deleted").AsBool());
    unique_variant noItem;
    EXPECT_TRUE(FAILED(CDispatcher::GetProperty(e3.get(), L"AppointmentItem", noItem.put())));

    // The changed occurrence keeps its blob; the moved one answers on its new day only.
    auto again = Occurrence(pattern.get(), MakeDate(2024, 1, 2, 9));
    ASSERT_TRUE(again);
    EXPECT_EQ("<HV><ID>7</ID></HV>", Get(again.get(), L"BillingInformation").AsString());
    EXPECT_EQ("", Get(o.ItemObject(s), L"BillingInformation").AsString());
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 3, 9));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 3, 11));
    EXPECT_TRUE(HasOccurrence(o, s, 2024, 1, 4, 9));
    EXPECT_FALSE(HasOccurrence(o, s, 2024, 1, 5));
}

TEST(OutlookSim, ItemsEventsReachSinksUntilUnadvise) {
    SimOutlook o;
    auto items = GetObj(Folder(o, 13).get(), L"Items");
    RecordingSink sink(IID_ItemsEvents);
    DWORD cookie = sink.Connect(items.get());
    auto task = CallObj(items.get(), L"Add", {});
    ASSERT_TRUE(task);
    Put(task.get(), L"Subject", unique_variant::FromString("x"));
    Call(task.get(), L"Save", {});
    Call(task.get(), L"Save", {});
    ASSERT_EQ(2u, sink.events.size());
    EXPECT_EQ(0xF001, sink.events[0].id);  // ItemAdd
    EXPECT_EQ(1u, sink.events[0].args);
    EXPECT_EQ(task.get(), sink.events[0].firstObject.get());
    EXPECT_EQ(0xF002, sink.events[1].id);  // ItemChange
    o.EditAndSave(o.FindBySubject(13, "x"), {{"Subject", "y"}});
    EXPECT_EQ(2u, sink.Count(0xF002));
    o.Seed(9, {{"Subject", "elsewhere"}});  // another folder: nothing here
    EXPECT_EQ(3u, sink.events.size());
    sink.Disconnect(cookie);
    Call(task.get(), L"Save", {});
    o.Seed(13, {{"Subject", "z"}});
    EXPECT_EQ(3u, sink.events.size());
}

TEST(OutlookSim, InspectorEventsAndWindows) {
    SimOutlook o;
    auto task = o.Seed(13, {{"Subject", "Buy milk"}});
    RecordingSink inspectors(IID_InspectorsEvents);
    DWORD c1 = inspectors.Connect(GetObj(o.Application(), L"Inspectors").get());
    IDispatch* insp = o.OpenInspector(task);
    ASSERT_EQ(1u, inspectors.events.size());
    EXPECT_EQ(0xF001, inspectors.events[0].id);
    EXPECT_EQ(insp, inspectors.events[0].firstObject.get());
    EXPECT_EQ("Buy milk - Task", Get(insp, L"Caption").AsString());
    EXPECT_FALSE(Get(insp, L"IsWordMail").AsBool());
    HWND window = ::FindWindowW(L"rctrl_renwnd32", L"Buy milk - Task");
    EXPECT_NE(nullptr, window);
    EXPECT_EQ(window, o.InspectorWindow(task));
    EXPECT_EQ("Buy milk - Task", Get(GetObj(o.Application(), L"ActiveInspector").get(), L"Caption").AsString());
    auto item = GetObj(insp, L"CurrentItem");
    RecordingSink itemSink(IID_ItemEvents_10);
    DWORD c2 = itemSink.Connect(item.get());
    ASSERT_TRUE(o.CloseInspector(task));
    ASSERT_EQ(1u, itemSink.events.size());
    EXPECT_EQ(0xF004, itemSink.events[0].id);  // Close(Cancel)
    EXPECT_EQ(1u, itemSink.events[0].args);
    EXPECT_EQ(nullptr, ::FindWindowW(L"rctrl_renwnd32", L"Buy milk - Task"));
    EXPECT_EQ(0u, o.InspectorCount());
    itemSink.Disconnect(c2);
    inspectors.Disconnect(c1);
    // The explorer's window carries its caption too.
    auto explorer = GetObj(o.Application(), L"ActiveExplorer");
    std::string caption = Get(explorer.get(), L"Caption").AsString();
    EXPECT_EQ("Inbox - Microsoft Outlook", caption);
    EXPECT_EQ(o.ExplorerWindow(), ::FindWindowW(L"rctrl_renwnd32", hv::ToWide(caption).c_str()));
}

TEST(OutlookSim, ExplorerAndApplicationEvents) {
    SimOutlook o;
    auto a = o.Seed(13, {{"Subject", "a"}});
    auto explorer = GetObj(o.Application(), L"ActiveExplorer");
    RecordingSink ex(IID_ExplorerEvents);
    DWORD c1 = ex.Connect(explorer.get());
    RecordingSink app(IID_ApplicationEvents);
    DWORD c2 = app.Connect(o.Application());
    ex.cancelWith = VARIANT_TRUE;
    EXPECT_FALSE(o.SwitchFolder(13));  // cancelled by the sink
    EXPECT_EQ(1u, ex.Count(0xF003));
    EXPECT_EQ("Inbox", Get(GetObj(explorer.get(), L"CurrentFolder").get(), L"Name").AsString());
    ex.cancelWith = VARIANT_FALSE;
    EXPECT_TRUE(o.SwitchFolder(13));
    EXPECT_EQ("Tasks", Get(GetObj(explorer.get(), L"CurrentFolder").get(), L"Name").AsString());
    o.Select({a});
    EXPECT_GE(ex.Count(0xF007), 2u);
    auto selection = GetObj(explorer.get(), L"Selection");
    ASSERT_EQ(1, Count(selection.get()));
    EXPECT_EQ("a", Get(Item(selection.get(), 1).get(), L"Subject").AsString());
    o.FireStartup();
    o.ReceiveMail({{"Subject", "hello"}});
    EXPECT_EQ(1u, app.Count(0xF006));
    EXPECT_EQ(1u, app.Count(0xF003));
    ex.Disconnect(c1);
    app.Disconnect(c2);
    o.FireQuit();
    EXPECT_EQ(0u, app.Count(0xF007));
}

TEST(OutlookSim, OfflineAndGetItemFromId) {
    SimOutlook o;
    auto ns = CallObj(o.Application(), L"GetNamespace", Args1(unique_variant::FromString("MAPI")));
    EXPECT_FALSE(Get(ns.get(), L"Offline").AsBool());
    o.SetOffline(true);
    EXPECT_TRUE(Get(ns.get(), L"Offline").AsBool());
    auto t = o.Seed(13, {{"Subject", "t"}});
    auto item = CallObj(ns.get(), L"GetItemFromID", Args1(unique_variant::FromString(t->entryId)));
    ASSERT_TRUE(item);
    EXPECT_EQ("t", Get(item.get(), L"Subject").AsString());
    EXPECT_TRUE(FAILED(Call(ns.get(), L"GetItemFromID", Args1(unique_variant::FromString("0000DEADBEEF")))));
    // Deleting moves the item out of its folder.
    EXPECT_EQ(S_OK, Call(item.get(), L"Delete", {}));
    EXPECT_TRUE(o.Items(13).empty());
}

TEST(OutlookSim, ForwardedMailWithAttachmentIsSentToTheSentFolder) {
    SimOutlook o;
    auto appt =
        o.Seed(9, {{"Subject", "Review"}, {"Start", DateValue(2024, 2, 1, 14)}, {"End", DateValue(2024, 2, 1, 15)}});
    wchar_t dir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    std::string path = hv::ToAnsi(dir) + "hvmeta.xml";
    std::ofstream(path, std::ios::binary) << "<hv>\n<notification>\n1,2\n</notification>\n</hv>\n";
    auto mail = CallObj(o.ItemObject(appt), L"ForwardAsVcal", {});
    ASSERT_TRUE(mail);
    std::vector<unique_variant> add;
    add.push_back(unique_variant::FromString(path));
    add.push_back(unique_variant::FromLong(1));
    add.push_back(unique_variant::FromLong(1));
    add.push_back(unique_variant::FromString("hvmeta.xml"));
    EXPECT_EQ(S_OK, Call(GetObj(mail.get(), L"Attachments").get(), L"Add", std::move(add)));
    ::DeleteFileA(path.c_str());
    EXPECT_EQ(S_OK, Call(GetObj(mail.get(), L"Recipients").get(), L"Add",
                         Args1(unique_variant::FromString("docs@example.com"))));
    EXPECT_EQ(S_OK, Call(mail.get(), L"Send", {}));
    auto sent = o.Items(hvsim::olFolderSentMail);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("docs@example.com", sent[0]->Get("To").AsText());
    ASSERT_EQ(2u, sent[0]->attachments.size());
    EXPECT_EQ("Review.vcs", sent[0]->attachments[0].displayName);
    EXPECT_EQ("hvmeta.xml", sent[0]->attachments[1].displayName);
    EXPECT_EQ("<hv>\n<notification>\n1,2\n</notification>\n</hv>\n", sent[0]->attachments[1].data);
}

TEST(OutlookSim, EntryIdsAndDataSurviveSaveAndReload) {
    std::string json, taskId, seriesId;
    {
        SimOutlook o;
        auto t = o.Seed(13, {{"Subject", "Task one"}, {"DueDate", DateValue(2024, 5, 1)}, {"Complete", true}});
        SimOutlook::SetUserProperty(*t, "HV Record ID", "42");
        taskId = t->entryId;
        hvsim::Recurrence r;
        r.type = hvsim::olRecursWeekly;
        r.dayOfWeekMask = hvsim::olWednesday;
        r.patternStart = MakeDate(2024, 1, 3);
        auto s = Series(o, r);
        seriesId = s->entryId;
        auto pattern = CallObj(o.ItemObject(s), L"GetRecurrencePattern", {});
        auto occ = Occurrence(pattern.get(), MakeDate(2024, 1, 10));
        ASSERT_TRUE(occ);
        Put(occ.get(), L"BillingInformation", unique_variant::FromString("blob"));
        Call(occ.get(), L"Save", {});
        json = o.ToJson();
    }
    SimOutlook o2;
    o2.FromJson(json);
    auto t = o2.FindByEntryId(taskId);
    ASSERT_TRUE(t);
    EXPECT_EQ("Task one", t->Subject());
    EXPECT_EQ(MakeDate(2024, 5, 1), t->Get("DueDate").AsDate());
    EXPECT_TRUE(t->Get("Complete").AsBool());
    auto items = GetObj(Folder(o2, 13).get(), L"Items");
    unique_variant found;
    ASSERT_EQ(S_OK,
              Call(items.get(), L"Find", Args1(unique_variant::FromString("[HV Record ID] = '42'")), found.put()));
    ASSERT_TRUE(found.AsDispatch());
    EXPECT_EQ(taskId, Get(found.AsDispatch(), L"EntryID").AsString());
    auto s = o2.FindByEntryId(seriesId);
    ASSERT_TRUE(s);
    auto pattern = CallObj(o2.ItemObject(s), L"GetRecurrencePattern", {});
    ASSERT_EQ(1, Count(GetObj(pattern.get(), L"Exceptions").get()));
    auto occ = Occurrence(pattern.get(), MakeDate(2024, 1, 10));
    ASSERT_TRUE(occ);
    EXPECT_EQ("blob", Get(occ.get(), L"BillingInformation").AsString());
    // New items continue the numbering, never reusing an EntryID.
    auto fresh = o2.Seed(13, {{"Subject", "new"}});
    EXPECT_NE(taskId, fresh->entryId);
    EXPECT_NE(seriesId, fresh->entryId);
}

TEST(OutlookSim, MalformedStoreIsRejected) {
    SimOutlook o;
    EXPECT_THROW(o.FromJson("{ not json"), std::runtime_error);
    EXPECT_THROW(o.FromJson(R"({"folders":[{"id":13,"items":[{"class":48,"props":{"NoSuch":1}}]}]})"),
                 std::runtime_error);
}

TEST(OutlookSimScript, ScriptEditsSavesAndReportsBadLines) {
    SimOutlook o;
    std::ostringstream log;
    hvsim::ScriptHost host(o, log);
    host.RunText(
        "folder Tasks\nnew \"Buy milk\"\nopen \"Buy milk\"\nset \"Buy milk\" DueDate 2024-05-01\n"
        "close \"Buy milk\"\nuserprop \"Buy milk\" \"HV Record ID\" 7\nsave \"Buy milk\"\noffline on\n");
    auto t = o.FindBySubject(13, "Buy milk");
    ASSERT_TRUE(t);
    EXPECT_EQ(MakeDate(2024, 5, 1), t->Get("DueDate").AsDate());
    EXPECT_EQ("7", t->FindUserProp("HV Record ID")->value.AsText());
    EXPECT_TRUE(o.GetModel().offline);
    EXPECT_EQ(0u, o.InspectorCount());
    EXPECT_THROW(host.RunText("open \"No such\""), hvsim::ScriptError);
    EXPECT_THROW(host.RunText("fly away"), hvsim::ScriptError);
    host.RunText("quit\necho not reached");
    EXPECT_TRUE(host.QuitRequested());
    EXPECT_EQ("leaks: none\n", log.str());  // quit reports what add-ins still hold
}
