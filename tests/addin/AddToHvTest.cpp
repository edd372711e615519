// "Add to HV" and "Sync with HV" as a user meets them: HvOut.dll registered with regsvr32 and
// loaded by the simulated Outlook, the buttons and ribbon clicked, the Add Item dialog driven
// from a second thread, and the results read from the Outlook store and the reference service.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestAddress.h"
#include "common/Config.h"
#include "common/Registration.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

using hv::uiauto::Automation;
using nlohmann::json;

namespace {

constexpr const char* kProgId = "Halvane.OutlookAddin";
constexpr const char* kAddinKey = "Software\\Microsoft\\Office\\Outlook\\Addins\\Halvane.OutlookAddin";
// Controls of the Add Item dialog.
constexpr int kTree = 26020, kCombo = 26032, kMembers = 26033, kNotify = 26034, kComments = 26035, kSendEmail = 26038,
              kCheckAll = 26049;

std::string Address() {
    const char* a = std::getenv("HV_SERVICE_ADDRESS");
    return a && *a ? std::string(a) : hvtest::Loopback(47);
}

std::wstring DllPath() {
    std::wstring path = L"Z:" + hv::ToWide(std::string(HV_OUT_DLL));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

DWORD Regsvr32(bool unregister) {
    std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + DllPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    hv::unique_handle process(pi.hProcess), thread(pi.hThread);
    ::WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = ~0u;
    ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

// The state image of a member row: 3 ticked, 2 not.
int MemberState(HWND dialog, int row) {
    const LRESULT state = ::SendMessageW(::GetDlgItem(dialog, kMembers), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
}

std::string UserProp(const hvsim::ItemData& item, const char* name) {
    const hvsim::UserProperty* p = item.FindUserProp(name);
    return p ? p->value.AsText() : std::string();
}

class AddToHv : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hvsim::WriteCurVer(14);
        ASSERT_EQ(0u, Regsvr32(false));
    }
    static void TearDownTestSuite() {
        Regsvr32(true);
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) CRegistration::DeleteKeyTree(root, kAddinKey);
        hvsim::WriteCurVer(11);
    }
    void SetUp() override {
        CConfig config;
        config.DeleteAllSettings();
        config.SetKey("Host", Address());
        config.SetKey("SSL", static_cast<DWORD>(0));
        ASSERT_EQ(S_OK, config.SetCredentials("alice", "alice-pass"));
        // The items these tests seed are sent by the Add dialog, not at once when they appear.
        config.SetAutoPush(0);
        // The add-in key lives under the machine from 14 on, under the user below.
        hvsim::RegisterOutlookAddIn(kProgId, 3);
    }
    void TearDown() override {
        if (m_outlook) {
            // Whatever the add-in took from Outlook, it gave back by the end.
            m_outlook->Quit();
            EXPECT_EQ(0, m_outlook->LeakedReferences()) << ::testing::PrintToString(m_outlook->LeakReport());
            m_outlook.reset();
        }
        CConfig().DeleteAllSettings();
    }
    void Start(int version) {
        m_outlook = std::make_unique<hvsim::SimOutlook>();
        m_outlook->SetVersion(version);
        ASSERT_EQ(1u, m_outlook->StartAddIns());
        ASSERT_TRUE(m_outlook->Host().IsConnected(kProgId));
        m_seq = m_admin.LastSeq();
    }
    std::vector<std::string> Methods() const { return m_admin.MethodsSince(m_seq); }
    static size_t Count(const std::vector<std::string>& list, const std::string& what) {
        return static_cast<size_t>(std::count(list.begin(), list.end(), what));
    }
    json TasksTitled(const std::string& prefix) const {
        json out = json::array();
        for (const auto& t : m_admin.Tasks("alice"))
            if (t.value("title", std::string()).rfind(prefix, 0) == 0) out.push_back(t);
        return out;
    }
    json EventsTitled(const std::string& prefix) const {
        json out = json::array();
        for (const auto& e : m_admin.Events("alice"))
            if (e.value("title", std::string()).rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    // Waits until the tree holds the path, selects it and waits until OK can be pressed.
    static void Choose(Automation& ui, HWND dlg, const std::string& path) {
        ASSERT_TRUE(ui.WaitUntil([&] { return Automation::TreeViewFind(dlg, kTree, path) != nullptr; }));
        Automation::TreeViewSelect(dlg, kTree, path);
        ASSERT_TRUE(ui.WaitUntil([&] { return Automation::IsEnabled(dlg, IDOK); }));
    }

    std::unique_ptr<hvsim::SimOutlook> m_outlook;
    e2e::Admin m_admin{Address()};
    long long m_seq = 0;
};

}  // namespace

// ---- the dialog with mail, tasks and events --------------------------------------------------

TEST_F(AddToHv, ThreeMailsNeedOneGetCategoryAndAreForwardedWithTheCommentAndMetadata) {
    Start(14);
    auto m1 = m_outlook->Seed(hvsim::olFolderInbox, {{"Subject", "Minutes 1"}, {"Body", "one"}});
    auto m2 = m_outlook->Seed(hvsim::olFolderInbox, {{"Subject", "Minutes 2"}, {"Body", "two"}});
    auto m3 = m_outlook->Seed(hvsim::olFolderInbox, {{"Subject", "Minutes 3"}, {"Body", "three"}});
    m_outlook->SwitchFolder(hvsim::olFolderInbox);
    m_outlook->Select({m1, m2, m3});
    std::vector<std::string> tree;
    bool clicked = false;
    hv::uiauto::RunWhileDriving(
        [&] { clicked = m_outlook->ClickRibbon("hvAdd"); },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Add File(s) to Halvane");
            Choose(ui, dlg, "Halvane\\Alpha\\Docs");
            for (const auto& item : Automation::TreeViewItems(dlg, kTree)) tree.push_back(item.path);
            EXPECT_FALSE(Automation::IsVisible(dlg, kSendEmail));
            ui.SetChecked(dlg, kNotify, true);
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::ListViewCount(dlg, kMembers) == 4; }));
            EXPECT_EQ(3, MemberState(dlg, 0));  // alice herself
            EXPECT_EQ(2, MemberState(dlg, 1));
            Automation::SetText(dlg, kComments, "Please file these");
            Automation::Click(dlg, IDOK);
            EXPECT_TRUE(ui.WaitForClose(dlg));
        });
    EXPECT_TRUE(clicked);
    // A database record never shows.
    EXPECT_EQ(tree.end(), std::find(tree.begin(), tree.end(), "Halvane\\Alpha\\Records"));
    EXPECT_NE(tree.end(), std::find(tree.begin(), tree.end(), "Halvane\\Gamma\\Notes"));

    const auto methods = Methods();
    EXPECT_EQ(1u, Count(methods, "GetCategory"));
    const auto sent = m_outlook->Items(hvsim::olFolderSentMail);
    ASSERT_EQ(3u, sent.size());
    const std::string meta =
        "<hv>\n<notification>\n1\n</notification>\n<comments>\nPlease file these\n</comments>\n</hv>\n";
    std::vector<std::string> subjects;
    for (const auto& mail : sent) {
        subjects.push_back(mail->Subject());
        ASSERT_EQ(1u, mail->recipients.size());
        EXPECT_EQ("docs@halvane.invalid",
                  mail->recipients[0].address.empty() ? mail->recipients[0].name : mail->recipients[0].address);
        ASSERT_FALSE(mail->attachments.empty());
        EXPECT_EQ("hvmeta.xml", mail->attachments.back().displayName);
        EXPECT_EQ(meta, mail->attachments.back().data);
    }
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ((std::vector<std::string>{"FW: Minutes 1", "FW: Minutes 2", "FW: Minutes 3"}), subjects);
}

TEST_F(AddToHv, ThreeTasksArePushedInOrderAndEachIsLinkedOnItsItem) {
    Start(14);
    auto t1 = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Order A"}});
    auto t2 = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Order B"}});
    auto t3 = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Order C"}});
    m_outlook->SwitchFolder(hvsim::olFolderTasks);
    m_outlook->Select({t1, t2, t3});
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickRibbon("hvAdd"); },
                                [&](Automation& ui) {
                                    HWND dlg = ui.WaitForDialog("Add Task(s) to Halvane");
                                    EXPECT_EQ("Assign to Users", Automation::GetText(dlg, kNotify));
                                    EXPECT_FALSE(Automation::IsVisible(dlg, kComments));
                                    Choose(ui, dlg, "Halvane\\Alpha\\Launch");
                                    Automation::Click(dlg, IDOK);
                                    EXPECT_TRUE(ui.WaitForClose(dlg));
                                });
    std::vector<std::string> creates;
    for (const auto& m : Methods())
        if (m == "CreateTask" || m == "UpdateTask") creates.push_back(m);
    EXPECT_EQ(3u, creates.size());
    const json tasks = TasksTitled("Order ");
    ASSERT_EQ(3u, tasks.size());
    std::vector<std::pair<long long, std::string>> byId;
    for (const auto& t : tasks) {
        byId.emplace_back(std::stoll(t["task_id"].is_string() ? t["task_id"].get<std::string>()
                                                              : std::to_string(t["task_id"].get<long long>())),
                          t["title"].get<std::string>());
        EXPECT_EQ(14, t["tasklist_id"].is_string() ? std::stoi(t["tasklist_id"].get<std::string>())
                                                   : t["tasklist_id"].get<int>());
    }
    std::sort(byId.begin(), byId.end());
    EXPECT_EQ("Order A", byId[0].second);
    EXPECT_EQ("Order B", byId[1].second);
    EXPECT_EQ("Order C", byId[2].second);
    for (size_t i = 0; i < 3; ++i) {
        auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, byId[i].second);
        ASSERT_TRUE(item);
        EXPECT_EQ(std::to_string(byId[i].first), UserProp(*item, "HV Record ID"));
        EXPECT_EQ("14", UserProp(*item, "HV Category ID"));
        EXPECT_EQ("1", UserProp(*item, "HV Workspace ID"));
        EXPECT_FALSE(UserProp(*item, "HV Hash").empty());
    }
    // The list chosen is remembered for the next unlinked task.
    std::string last;
    EXPECT_EQ(S_OK, CConfig().GetLastCategory("Task", last));
    EXPECT_EQ("14", last);
}

TEST_F(AddToHv, AnEventGoesToAWorkspaceForEveryoneWithANotification) {
    Start(14);
    auto appt = m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Kick-off"},
                                                          {"Start", hvsim::DateValue(2031, 5, 6, 10, 0)},
                                                          {"End", hvsim::DateValue(2031, 5, 6, 11, 0)}});
    m_outlook->SwitchFolder(hvsim::olFolderCalendar);
    m_outlook->Select({appt});
    std::vector<std::vector<std::string>> rows;
    hv::uiauto::RunWhileDriving(
        [&] { m_outlook->ClickRibbon("hvAdd"); },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Add Event(s) to Halvane");
            EXPECT_EQ("Select Participants", Automation::GetText(dlg, kNotify));
            Choose(ui, dlg, "Halvane\\Alpha");
            // A workspace ticks the box and loads its members, Everyone first.
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::ListViewCount(dlg, kMembers) == 5; }));
            EXPECT_TRUE(Automation::IsChecked(dlg, kNotify));
            EXPECT_TRUE(Automation::IsChecked(dlg, kSendEmail));
            rows = Automation::ListViewRows(dlg, kMembers);
            // "Check None" leaves alice's own entry ticked.
            Automation::Click(dlg, kCheckAll);
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::GetText(dlg, kCheckAll) == "Check None"; }));
            Automation::Click(dlg, kCheckAll);
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::GetText(dlg, kCheckAll) == "Check All"; }));
            EXPECT_EQ(2, MemberState(dlg, 0));
            EXPECT_EQ(3, MemberState(dlg, 1));  // alice
            EXPECT_EQ(2, MemberState(dlg, 2));
            // Everyone is ticked by a click on its state icon.
            RECT rc = {};
            HWND list = ::GetDlgItem(dlg, kMembers);
            ListView_GetItemRect(list, 0, &rc, LVIR_BOUNDS);
            const LPARAM at = MAKELPARAM(rc.left + 8, (rc.top + rc.bottom) / 2);
            ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
            ::SendMessageW(list, WM_LBUTTONUP, 0, at);
            ASSERT_TRUE(ui.WaitUntil([&] { return MemberState(dlg, 0) == 3; }));
            Automation::Click(dlg, IDOK);
            EXPECT_TRUE(ui.WaitForClose(dlg));
        });
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ("Everyone", rows[0][0]);
    const json events = EventsTitled("Kick-off");
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("-1", events[0]["assigned_to_userids"].get<std::string>());
    EXPECT_EQ("1", events[0]["space_id"].is_string() ? events[0]["space_id"].get<std::string>()
                                                     : std::to_string(events[0]["space_id"].get<int>()));
    bool notified = false;
    for (const auto& a : m_admin.Get("/admin/activity"))
        if (a.value("title", std::string()) == "Kick-off") notified = notified || a.value("send_email", false);
    EXPECT_TRUE(notified);
    EXPECT_FALSE(UserProp(*appt, "HV Record ID").empty());
    std::string last;
    EXPECT_EQ(S_OK, CConfig().GetLastWorkspace("Event", last));
    EXPECT_EQ("1", last);
}

TEST_F(AddToHv, ALinkedTaskReopensForUpdateWithItsAssigneesTicked) {
    Start(14);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Linked task"}});
    hvsim::SimOutlook::SetUserProperty(*task, "HV Record ID", "500");
    hvsim::SimOutlook::SetUserProperty(*task, "HV Category ID", "14");
    hvsim::SimOutlook::SetUserProperty(*task, "HV Workspace ID", "1");
    m_outlook->OpenInspector(task);
    std::vector<int> states;
    std::vector<std::vector<std::string>> rows;
    hv::uiauto::RunWhileDriving(
        [&] { m_outlook->ClickRibbon("hvAdd", task); },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Update Task within Halvane");
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::ListViewCount(dlg, kMembers) == 4; }));
            EXPECT_TRUE(Automation::IsChecked(dlg, kNotify));
            rows = Automation::ListViewRows(dlg, kMembers);
            for (int i = 0; i < 4; ++i) states.push_back(MemberState(dlg, i));
            // Nothing remembered is selected for a linked task.
            EXPECT_EQ("", Automation::TreeViewSelectedPath(dlg, kTree));
            Automation::Click(dlg, IDCANCEL);
            EXPECT_TRUE(ui.WaitForClose(dlg));
        });
    ASSERT_EQ(4u, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& name = rows[i][0];
        if (name == "Bob Baker") {
            EXPECT_EQ(2, states[i]) << name;
        } else if (name == "Carol Cole" || name == "Dave Dunn") {
            EXPECT_EQ(3, states[i]) << name;
        }
    }
    EXPECT_EQ(1u, Count(Methods(), "GetTask"));
}

TEST_F(AddToHv, AnUnlinkedTaskOpensOnTheTaskListChosenLastTime) {
    CConfig config;
    config.SetLastCategory("Task", "15");
    config.SetLastWorkspace("Task", "1");
    Start(14);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Fresh"}});
    m_outlook->SwitchFolder(hvsim::olFolderTasks);
    m_outlook->Select({task});
    std::string selected;
    hv::uiauto::RunWhileDriving(
        [&] { m_outlook->ClickRibbon("hvAdd"); },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Add Task(s) to Halvane");
            ASSERT_TRUE(ui.WaitUntil([&] { return !Automation::TreeViewSelectedPath(dlg, kTree).empty(); }));
            selected = Automation::TreeViewSelectedPath(dlg, kTree);
            EXPECT_EQ("Alpha > Backlog", Automation::GetText(dlg, kCombo));
            Automation::Click(dlg, IDCANCEL);
            EXPECT_TRUE(ui.WaitForClose(dlg));
        });
    EXPECT_EQ("Halvane\\Alpha\\Backlog", selected);
    EXPECT_EQ(0u, Count(Methods(), "CreateTask"));
}

// ---- refusals --------------------------------------------------------------------------------

TEST_F(AddToHv, AMixedSelectionIsRefusedWithoutADialog) {
    Start(14);
    auto mail = m_outlook->Seed(hvsim::olFolderInbox, {{"Subject", "A mail"}});
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "A task"}});
    m_outlook->Select({mail, task});
    std::string details;
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickRibbon("hvAdd"); },
                                [&](Automation& ui) {
                                    HWND err = ui.WaitForDialog("Halvane Error");
                                    details = Automation::GetText(err, 26003);
                                    EXPECT_FALSE(Automation::FindTopLevelByPrefix("Add "));
                                    Automation::Click(err, IDOK);
                                    EXPECT_TRUE(ui.WaitForClose(err));
                                });
    EXPECT_NE(std::string::npos, details.find("are not all of the same class"));
    EXPECT_EQ(0u, Count(Methods(), "GetUserPaths"));
}

TEST_F(AddToHv, AnInspectorItemWithoutSubjectIsRefused) {
    Start(14);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", ""}});
    m_outlook->OpenInspector(task);
    std::string details;
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickRibbon("hvAdd", task); },
                                [&](Automation& ui) {
                                    HWND err = ui.WaitForDialog("Halvane Error");
                                    details = Automation::GetText(err, 26003);
                                    Automation::Click(err, IDOK);
                                    EXPECT_TRUE(ui.WaitForClose(err));
                                });
    EXPECT_EQ("The current item does not have a subject.", details);
}

TEST_F(AddToHv, AnOfflineClickSaysOfflineThenThatItCannotRun) {
    Start(11);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Offline"}});
    m_outlook->SwitchFolder(hvsim::olFolderTasks);
    m_outlook->Select({task});  // shows the bar
    m_outlook->SetOffline(true);
    std::vector<std::string> texts;
    bool clicked = false;
    std::string why;
    hv::uiauto::RunWhileDriving(
        [&] { clicked = m_outlook->ClickButton("Halvane", "Add to HV", nullptr, nullptr, &why); },
        [&](Automation& ui) {
            for (int i = 0; i < 2; ++i) {
                HWND err = ui.WaitForDialog("Halvane Error");
                texts.push_back(Automation::GetText(err, 26003));
                Automation::Click(err, IDOK);
                ASSERT_TRUE(ui.WaitForClose(err));
            }
        });
    EXPECT_TRUE(clicked) << why;
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("This Halvane capability is not available in offline mode.", texts[0]);
    EXPECT_EQ("The operation cannot be performed because you are offline or the system is busy.", texts[1]);
}

namespace {
hvsim::SimOutlook* g_outlook = nullptr;
bool g_secondClicked = false;
void CALLBACK SecondClick(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    g_secondClicked = true;
    g_outlook->ClickButton("Halvane", "Sync with HV");
}
}  // namespace

TEST_F(AddToHv, ASecondClickWhileAnOperationRunsIsRefused) {
    Start(11);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Busy"}});
    m_outlook->SwitchFolder(hvsim::olFolderTasks);
    m_outlook->Select({task});
    g_outlook = m_outlook.get();
    g_secondClicked = false;
    std::string details;
    hv::uiauto::RunWhileDriving(
        [&] {
            // The second click arrives on Outlook's thread while the Add dialog is open.
            ::SetTimer(nullptr, 0, 300, &SecondClick);
            m_outlook->ClickButton("Halvane", "Add to HV");
        },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Add Task(s) to Halvane");
            HWND err = ui.WaitForDialog("Halvane Error");
            details = Automation::GetText(err, 26003);
            Automation::Click(err, IDOK);
            ASSERT_TRUE(ui.WaitForClose(err));
            EXPECT_FALSE(Automation::FindTopLevel("Synchronizing with Halvane"));
            Automation::Click(dlg, IDCANCEL);
            EXPECT_TRUE(ui.WaitForClose(dlg));
        });
    EXPECT_TRUE(g_secondClicked);
    EXPECT_EQ("The operation cannot be performed because you are offline or the system is busy.", details);
    EXPECT_EQ(0u, Count(Methods(), "GetMyTasks"));
}

// ---- command bars below Outlook 13 -----------------------------------------------------------

TEST_F(AddToHv, Outlook10PastesTheFacesThroughTheClipboardAndLeavesItAsItWas) {
    const UINT privateFormat = ::RegisterClipboardFormatA("HvTest Private");
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    for (auto [format, text] : {std::pair<UINT, const char*>{CF_TEXT, "user text"}, {privateFormat, "private"}}) {
        HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
        std::memcpy(::GlobalLock(block), text, std::strlen(text) + 1);
        ::GlobalUnlock(block);
        ::SetClipboardData(format, block);
    }
    ::CloseClipboard();

    Start(10);
    auto bar = m_outlook->ExplorerCommandBars().Find("Halvane");
    ASSERT_TRUE(bar);
    ASSERT_EQ(2u, bar->controls.size());
    for (const auto& control : bar->controls) {
        EXPECT_EQ(1, control->pasteCount) << control->caption;
        EXPECT_FALSE(control->faceDib.empty());
        EXPECT_FALSE(control->toolbarMask.empty());
        EXPECT_EQ(3, control->style);
    }
    EXPECT_EQ("Add to HV", bar->controls[0]->caption);
    EXPECT_EQ("Sync with HV", bar->controls[1]->caption);
    auto read = [](UINT format) {
        std::string out;
        if (!::OpenClipboard(nullptr)) return out;
        if (HANDLE data = ::GetClipboardData(format)) {
            out = static_cast<const char*>(::GlobalLock(data));
            ::GlobalUnlock(data);
        }
        ::CloseClipboard();
        return out;
    };
    EXPECT_EQ("user text", read(CF_TEXT));
    EXPECT_EQ("private", read(privateFormat));
}

TEST_F(AddToHv, Outlook10LeavesAnEmptyClipboardEmpty) {
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    Start(10);
    auto bar = m_outlook->ExplorerCommandBars().Find("Halvane");
    ASSERT_TRUE(bar);
    ASSERT_EQ(2u, bar->controls.size());
    EXPECT_EQ(1, bar->controls[0]->pasteCount);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    EXPECT_EQ(0, ::CountClipboardFormats());
    ::CloseClipboard();
}

TEST_F(AddToHv, Outlook11PutsPicturesOnAHiddenExplorerBarThatASelectionShows) {
    Start(11);
    auto bar = m_outlook->ExplorerCommandBars().Find("Halvane");
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->temporary);
    EXPECT_FALSE(bar->visible);
    ASSERT_EQ(2u, bar->controls.size());
    EXPECT_TRUE(bar->controls[0]->picture);
    EXPECT_TRUE(bar->controls[0]->mask);
    EXPECT_EQ(0, bar->controls[0]->pasteCount);
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Shown"}});
    m_outlook->Select({task});
    EXPECT_TRUE(bar->visible);
}

TEST_F(AddToHv, TwoInspectorsGetDistinctTagsAndEachButtonActsOnItsOwnItem) {
    Start(11);
    auto t1 = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Inspector one"}});
    auto t2 = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Inspector two"}});
    m_outlook->OpenInspector(t1);
    m_outlook->OpenInspector(t2);
    auto bars1 = m_outlook->InspectorCommandBars(t1);
    auto bars2 = m_outlook->InspectorCommandBars(t2);
    ASSERT_TRUE(bars1 && bars2);
    auto bar1 = bars1->Find("Halvane");
    auto bar2 = bars2->Find("Halvane");
    ASSERT_TRUE(bar1 && bar2);
    ASSERT_EQ(1u, bar1->controls.size());
    EXPECT_EQ("Halvane0", bar1->controls[0]->tag);
    EXPECT_EQ("Halvane1", bar2->controls[0]->tag);
    EXPECT_TRUE(bar1->visible);
    // The first inspector's button, while the second is on top.
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickButton("Halvane", "Add to HV", t1); },
                                [&](Automation& ui) {
                                    HWND dlg = ui.WaitForDialog("Add Task(s) to Halvane");
                                    Choose(ui, dlg, "Halvane\\Alpha\\Launch");
                                    Automation::Click(dlg, IDOK);
                                    EXPECT_TRUE(ui.WaitForClose(dlg));
                                });
    EXPECT_EQ(1u, TasksTitled("Inspector one").size());
    EXPECT_EQ(0u, TasksTitled("Inspector two").size());
    // Closing an inspector lets go of its button's Click.
    EXPECT_EQ(1u, m_outlook->CommandBars().ClickSinks("Halvane1"));
    m_outlook->CloseInspector(t2, false);
    EXPECT_EQ(0u, m_outlook->CommandBars().ClickSinks("Halvane1"));
}

TEST_F(AddToHv, AnExistingHalvaneBarWithItsAddButtonIsReused) {
    m_outlook = std::make_unique<hvsim::SimOutlook>();
    m_outlook->SetVersion(11);
    {
        // A bar of that name with an "Add to HV" control is already there.
        IDispatch* app = m_outlook->Application();
        hv::unique_variant explorer, bars, bar, controls, control;
        ASSERT_EQ(S_OK, CDispatcher::GetProperty(app, L"ActiveExplorer", explorer.put()));
        ASSERT_EQ(S_OK, CDispatcher::GetProperty(explorer.AsDispatch(), L"CommandBars", bars.put()));
        hv::unique_variant name = hv::unique_variant::FromString("Halvane");
        ASSERT_EQ(S_OK, CDispatcher::CallMethod(bars.AsDispatch(), L"Add", bar.put(), 1, &name));
        ASSERT_EQ(S_OK, CDispatcher::GetProperty(bar.AsDispatch(), L"Controls", controls.put()));
        hv::unique_variant type = hv::unique_variant::FromLong(1);
        ASSERT_EQ(S_OK, CDispatcher::CallMethod(controls.AsDispatch(), L"Add", control.put(), 1, &type));
        hv::unique_variant caption = hv::unique_variant::FromString("Add to HV");
        ASSERT_EQ(S_OK, CDispatcher::PutProperty(control.AsDispatch(), L"Caption", &caption));
    }
    ASSERT_EQ(1u, m_outlook->StartAddIns());
    size_t halvaneBars = 0;
    for (const auto& b : m_outlook->ExplorerCommandBars().bars) halvaneBars += b->name == "Halvane" ? 1 : 0;
    EXPECT_EQ(1u, halvaneBars);
    auto bar = m_outlook->ExplorerCommandBars().Find("Halvane");
    ASSERT_TRUE(bar);
    ASSERT_EQ(2u, bar->controls.size());
    EXPECT_EQ("Add to HV", bar->controls[0]->caption);
    EXPECT_EQ("Sync with HV", bar->controls[1]->caption);
}

// ---- Sync with HV ------------------------------------------------------------------------------

TEST_F(AddToHv, SyncInTheCalendarWithTwoSelectedAppointmentsSendsOnlyThose) {
    Start(14);
    auto a1 = m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Sel one"},
                                                        {"Start", hvsim::DateValue(2031, 6, 1, 9, 0)},
                                                        {"End", hvsim::DateValue(2031, 6, 1, 10, 0)}});
    auto a2 = m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Sel two"},
                                                        {"Start", hvsim::DateValue(2031, 6, 2, 9, 0)},
                                                        {"End", hvsim::DateValue(2031, 6, 2, 10, 0)}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Sel not"},
                                              {"Start", hvsim::DateValue(2031, 6, 3, 9, 0)},
                                              {"End", hvsim::DateValue(2031, 6, 3, 10, 0)}});
    m_outlook->SwitchFolder(hvsim::olFolderCalendar);
    m_outlook->Select({a1, a2});
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickRibbon("hvSyncCalendar"); },
                                [&](Automation& ui) {
                                    HWND dlg = ui.WaitForDialog("Synchronizing with Halvane");
                                    EXPECT_TRUE(ui.WaitForClose(dlg, 60000));
                                });
    const auto methods = Methods();
    EXPECT_EQ(0u, Count(methods, "GetMyTasks"));
    EXPECT_EQ(1u, Count(methods, "GetMyEvents"));
    EXPECT_EQ(2u, EventsTitled("Sel ").size());
    EXPECT_EQ(0u, EventsTitled("Sel not").size());
}

// ---- the recurring hand-over ----------------------------------------------------------------

TEST_F(AddToHv, ARecurringAppointmentIsHandedToASynchronisationThatSendsItsOccurrences) {
    Start(14);
    hvsim::Recurrence weekly;
    weekly.type = hvsim::olRecursWeekly;
    weekly.dayOfWeekMask = hvsim::olMonday;
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    weekly.patternStart = hvsim::MakeDate(now.wYear, now.wMonth, now.wDay);
    weekly.startTime = 9 / 24.0;
    weekly.duration = 1 / 24.0;
    weekly.noEndDate = false;
    weekly.occurrences = 3;
    auto series = m_outlook->SeedSeries({{"Subject", "Weekly sync"}}, weekly);
    m_outlook->SwitchFolder(hvsim::olFolderCalendar);
    m_outlook->Select({series});
    hv::uiauto::RunWhileDriving(
        [&] { m_outlook->ClickRibbon("hvAdd"); },
        [&](Automation& ui) {
            HWND dlg = ui.WaitForDialog("Add Event(s) to Halvane");
            Choose(ui, dlg, "Halvane\\Alpha");
            ASSERT_TRUE(ui.WaitUntil([&] { return Automation::ListViewCount(dlg, kMembers) == 5; }));
            // bob (2) and carol (12) besides alice herself.
            const auto rows = Automation::ListViewRows(dlg, kMembers);
            for (int i = 0; i < static_cast<int>(rows.size()); ++i)
                if (rows[i][0] == "Bob Baker" || rows[i][0] == "Carol Cole") {
                    HWND list = ::GetDlgItem(dlg, kMembers);
                    RECT rc = {};
                    ListView_GetItemRect(list, i, &rc, LVIR_BOUNDS);
                    const LPARAM at = MAKELPARAM(rc.left + 8, (rc.top + rc.bottom) / 2);
                    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
                    ::SendMessageW(list, WM_LBUTTONUP, 0, at);
                }
            Automation::Click(dlg, IDOK);
            EXPECT_TRUE(ui.WaitForClose(dlg));
            HWND sync = ui.WaitForDialog("Synchronizing with Halvane");
            EXPECT_TRUE(ui.WaitForClose(sync, 60000));
        });
    const json events = EventsTitled("Weekly sync");
    ASSERT_EQ(3u, events.size());
    for (const auto& e : events) {
        EXPECT_EQ("1", e["space_id"].is_string() ? e["space_id"].get<std::string>()
                                                 : std::to_string(e["space_id"].get<int>()));
        EXPECT_EQ("1,2,12", e["assigned_to_userids"].get<std::string>());
    }
    // A second run finds every occurrence linked and unchanged.
    const long long before = m_admin.LastSeq();
    CConfig().SetKey("LastEventSync", "");
    m_outlook->Select({});
    hv::uiauto::RunWhileDriving([&] { m_outlook->ClickRibbon("hvSyncCalendar"); },
                                [&](Automation& ui) {
                                    HWND dlg = ui.WaitForDialog("Synchronizing with Halvane");
                                    EXPECT_TRUE(ui.WaitForClose(dlg, 60000));
                                });
    const auto second = m_admin.MethodsSince(before);
    // Nothing selected: everything, tasks and events.
    EXPECT_EQ(1u, Count(second, "GetMyTasks"));
    EXPECT_EQ(1u, Count(second, "GetMyEvents"));
    for (const auto& m : second) EXPECT_TRUE(m != "CreateEvent" && m != "UpdateEvent" && m != "DeleteEvent") << m;
    EXPECT_EQ(3u, EventsTitled("Weekly sync").size());
}
