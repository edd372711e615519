// A large run while it plans: the dialog keeps answering, and "Cancel All" ends it at once.
#include "e2e/SyncE2EFixture.h"

#include <atomic>

#include "outlook-sim/automation/UiAutomation.h"
#include "service/Protocol.h"
#include "win/Strings.h"

namespace {

using hv::uiauto::Automation;

class PlanningE2E : public e2e::SyncE2E {};

TEST_F(PlanningE2E, CancelAllWhilePlanningEndsTheDialogAtOnce) {
    // Enough Outlook tasks that the planning takes many slices.
    for (int k = 0; k < 6000; ++k)
        m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", hv::Format("Outlook task %d", k)}, {"Body", "Notes"}});
    CreateTask({{"title", "On the service"}});
    const long long seq = m_admin.LastSeq();

    CDlgSynch dlg(TheAPI(), nullptr);
    dlg.m_credentials.m_strUser = m_user;
    dlg.m_credentials.m_strPassword = m_password;
    dlg.m_pNameSpace = m_ns;
    dlg.m_fIncremental = 0;
    dlg.m_nSyncKinds = SYNC_TASKS;
    INT_PTR result = 0;
    bool sawPlanning = false;
    DWORD closeMs = 0;
    hv::uiauto::RunWhileDriving([&] { result = dlg.Run(); },
                                [&](Automation& a) {
                                    HWND h = a.WaitForDialog("Synchronizing with Halvane", 20000);
                                    sawPlanning = a.WaitUntil([&] { return dlg.Planning(); }, 60000);
                                    const DWORD clicked = ::GetTickCount();
                                    Automation::Click(h, IDCANCEL);
                                    EXPECT_TRUE(a.WaitForClose(h, 20000));
                                    closeMs = ::GetTickCount() - clicked;
                                },
                                120000);
    ASSERT_TRUE(sawPlanning);
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_LT(closeMs, 1000u);
    EXPECT_EQ(0, dlg.m_fMyOpsDone) << "the planning ran to its end";
    // Nothing was carried out and no mark was written.
    EXPECT_EQ("", LastSync("Task"));
    EXPECT_EQ("", LastSync("Event"));
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(6000u, Tasks().size());
}

}  // namespace
