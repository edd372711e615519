#pragma once
#include "win/UniqueAny.h"
// The fixture of the whole-run tests: a fresh service user and a fresh simulated Outlook per
// test, the synchronisation dialog run and driven from a second thread as a user would, and
// the helpers that look at both stores afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Config.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/src/SimOutlook.h"
#include "sync/DlgSynch.h"
#include "win/ComTypes.h"

namespace e2e {

// The service's loopback address for these tests.
std::string Address();

// A service field as text, whatever its JSON type.
std::string Str(const nlohmann::json& j);

// The local calendar date `days` from today as "YYYY-MM-DD".
std::string DateFromToday(int days);

struct RunResult {
    INT_PTR result = 0;
    std::vector<std::vector<std::string>> uiRows;  // as the list view shows them
    std::vector<int> uiImages;                     // each row's image, as the list view shows it
    std::vector<int> uiSelection;                  // the selection after the last row was selected
    int uiFoundEvent = -2;                         // the list's own search for a row "event..."
    std::string status;
    std::vector<long> actions;  // the records' final action codes, row by row
    std::vector<std::string> titles;
    std::vector<std::string> starts;  // start_time as the records hold it (wire form)
    std::vector<long> sources, deleted;
    bool listVisibleAtStart = false;
    std::string detailsText;

    size_t Count(long action) const {
        size_t n = 0;
        for (long a : actions) n += a == action;
        return n;
    }
    bool AllNone() const { return Count(ACTION_NONE) == actions.size(); }
    std::string Describe() const;
};

enum class Drive { UntilClose, CancelEarly, Collapsed };

class SyncE2E : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    RunResult Sync(long incremental = 1, Drive drive = Drive::UntilClose, const std::string& password = std::string(),
                   long kinds = SYNC_TASKS | SYNC_EVENTS);

    nlohmann::json CreateTask(nlohmann::json fields);
    nlohmann::json CreateEvent(nlohmann::json fields);
    nlohmann::json Update(const char* kind, const std::string& id, nlohmann::json fields);

    std::vector<std::shared_ptr<hvsim::ItemData>> Tasks() const { return m_outlook->Items(hvsim::olFolderTasks); }
    std::vector<std::shared_ptr<hvsim::ItemData>> Appts() const { return m_outlook->Items(hvsim::olFolderCalendar); }
    static std::string RecordId(const std::shared_ptr<hvsim::ItemData>& item);
    // Today in Outlook's local time (midnight), and a local Outlook date as the service's wire
    // time ("YYYY-MM-DDThh:mm:ss", UTC).
    static DATE Today();
    static std::string Wire(DATE local);
    static std::string LastSync(const char* type);
    // The service's clock ("YYYY-MM-DDThh:mm:ssZ"), and a wait until it reads at least
    // `seconds` whole seconds past `stamp` (incremental downloads include a mark's own second,
    // so tests that need a change to fall before a later run's mark wait on this, not a sleep).
    std::string ServiceNow() const;
    void WaitForServiceClockPast(const std::string& stamp, int seconds) const;
    // The service methods that change data, received since `seq`.
    std::vector<std::string> Writes(long long seq) const;
    // Runs while Outlook's clock stands `seconds` from now.
    void AtOutlookTime(int seconds, const std::function<void()>& action);
    // Moves the last run's marks of `type` (the run's and its download's) to `second` seconds
    // into the next whole minute, and returns that moment as an Outlook (local) date.
    DATE MoveMarksIntoNextMinute(const char* type, int second);

    // Set by the driving thread once it has found the dialog of the current run (reset by Sync):
    // an action on the dialog's own thread that would end the run waits for it, or a run that
    // ends within milliseconds could close before the driver ever sees its window.
    hv::unique_handle m_dialogFound{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    // Waits for m_dialogFound on the dialog's thread, answering the driver's sent messages.
    bool WaitUntilDialogFound(DWORD timeoutMs) const;

    std::string m_user;
    std::string m_password = "pw-e2e";
    Admin m_admin{Address()};
    std::unique_ptr<hvsim::SimOutlook> m_outlook;
    hv::com_ptr<IDispatch> m_ns;
};

}  // namespace e2e
