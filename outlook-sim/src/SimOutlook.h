#pragma once
// The simulated Outlook for in-process tests: one session with its Application object (late
// bound, as the add-in reaches Outlook), its store, its explorer and inspectors, and the user
// actions that make Outlook raise its events.
//
//   hvsim::SimOutlook outlook;                               // Inbox, Calendar, Tasks, Sent ...
//   auto task = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "Buy milk"},
//                                                   {"DueDate", hvsim::DateValue(2024, 5, 1)}});
//   IDispatch* app = outlook.Application();                  // hand to the product
//   ...
//   outlook.FindBySubject(hvsim::olFolderTasks, "Buy milk")->Get("Complete").AsBool();
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "outlook-sim/src/SimModel.h"
#include "win/ComPtr.h"

namespace hvsim {

class Session;
class AddInHost;
class OptionsDialog;
class WordHost;
struct CommandBarSet;
class CommandBarRegistry;

class SimOutlook {
public:
    SimOutlook();
    // Closes the windows and lets go of every object; the product must have released the
    // Application by now, or its later calls fail with RPC_E_DISCONNECTED.
    ~SimOutlook();
    SimOutlook(const SimOutlook&) = delete;
    SimOutlook& operator=(const SimOutlook&) = delete;

    // The Application object (borrowed; AddRef to keep it).
    IDispatch* Application() const;
    Model& GetModel() const;
    // The clock behind LastModificationTime and CreationTime (real local time by default).
    void SetClock(std::function<DATE()> clock);

    // --- seeding and inspection ------------------------------------------------------------
    // A saved item in the folder (tasks in 13, appointments in 9, mail in 6 ...).
    std::shared_ptr<ItemData> Seed(long folderId, std::initializer_list<std::pair<const char*, Value>> props);
    // Items added in one go (as a paste or an import): more than kItemAddBatchLimit raise no ItemAdd.
    std::vector<std::shared_ptr<ItemData>> SeedMany(long folderId, const std::vector<std::string>& subjects);
    // How the Items events are delivered (asynchronous, ItemChange twice or late, Close order).
    EventDelivery& Delivery();
    // Runs this thread's message loop (where asynchronous and late events arrive) until `done`
    // answers true or the time is up; the last answer of `done` (true without one).
    bool PumpEventsUntil(const std::function<bool()>& done, DWORD timeoutMs);
    // Whether events are still to be delivered (asynchronous ones queued, late ones due).
    bool EventsPending() const;
    // A saved item of the class in the folder (53 meeting requests and 46 reports in the Inbox).
    std::shared_ptr<ItemData> SeedAs(long folderId, long cls,
                                     std::initializer_list<std::pair<const char*, Value>> props);
    // A saved recurring appointment with this pattern; the series' Start/End follow the pattern.
    std::shared_ptr<ItemData> SeedSeries(std::initializer_list<std::pair<const char*, Value>> props,
                                         const Recurrence& r);
    // Sets (creating if needed) a user property, without saving.
    static void SetUserProperty(ItemData& item, const std::string& name, const Value& v, long type = olText);
    std::vector<std::shared_ptr<ItemData>> Items(long folderId) const;
    std::shared_ptr<ItemData> FindBySubject(long folderId, const std::string& subject) const;
    std::shared_ptr<ItemData> FindByEntryId(const std::string& entryId) const;
    // The COM object for an item (the same one Outlook hands out while it is in use).
    IDispatch* ItemObject(const std::shared_ptr<ItemData>& item);  // borrowed

    // --- user actions (each raises the events Outlook raises) --------------------------------
    // Opens an inspector on the item: a window "<Subject> - Task" etc., then NewInspector.
    IDispatch* OpenInspector(const std::shared_ptr<ItemData>& item);  // borrowed
    // Closes the inspector on that item (the last one opened when null): ItemEvents "Close",
    // then the window goes. With save, a changed item is saved first (ItemChange).
    bool CloseInspector(const std::shared_ptr<ItemData>& item = nullptr, bool save = true);
    size_t InspectorCount() const;
    // Changes properties as a user editing the item would, then saves it (ItemChange).
    void EditAndSave(const std::shared_ptr<ItemData>& item, std::initializer_list<std::pair<const char*, Value>> props);
    // Selects items in the explorer: SelectionChange.
    void Select(const std::vector<std::shared_ptr<ItemData>>& items);
    // Switches the explorer's folder: BeforeFolderSwitch (which a sink may cancel), then the
    // switch and an empty selection. False when cancelled.
    bool SwitchFolder(long folderId);
    // Offline mail that is sent stays in the Outbox; going online sends it to Sent Items.
    void SetOffline(bool offline);
    // No main window: ActiveExplorer answers Nothing (the explorer's window is hidden).
    void SetExplorerOpen(bool open);
    // Brings the inspector on the item to the top: it becomes ActiveInspector.
    bool ActivateInspector(const std::shared_ptr<ItemData>& item);
    // Whether the inspector's window has been shown (after its NewInspector); null: the last opened.
    bool InspectorShown(const std::shared_ptr<ItemData>& item = nullptr) const;
    // Application events.
    void FireStartup();
    void FireQuit();
    // A mail arrives in the Inbox: ItemAdd on the Inbox items, then NewMail.
    std::shared_ptr<ItemData> ReceiveMail(std::initializer_list<std::pair<const char*, Value>> props);

    // --- windows ---------------------------------------------------------------------------------
    HWND ExplorerWindow() const;
    HWND InspectorWindow(const std::shared_ptr<ItemData>& item = nullptr) const;

    // --- add-ins ----------------------------------------------------------------------------------
    std::vector<AddInEntry>& AddIns();
    // The add-in host (registry loading, lifecycle, ribbon); see SimAddInHost.h.
    AddInHost& Host() const { return *m_host; }
    // Outlook starts: writes HKCR\Outlook.Application\CurVer for the profile's version, loads
    // the add-ins registered with LoadBehavior 3 (OnConnection, OnAddInsUpdate, the explorer
    // ribbon from version 14 on, OnStartupComplete), then raises Application "Startup".
    // Returns the number of add-ins connected.
    size_t StartAddIns();
    // Outlook exits: Application "Quit", OnBeginShutdown to every connected add-in, then
    // OnDisconnection(ext_dm_HostShutdown), then their final Release; the session closes and
    // the objects still alive are the leak report. Idempotent; the destructor calls it when
    // StartAddIns ran (otherwise the destructor closes without raising Quit).
    void Quit();
    bool HasQuit() const;
    // Quit, then start again on the same store (temporary command bars are gone, the Outlook
    // Bar's groups stay) and load the add-ins again. Application() is a new object afterwards.
    void Restart();
    // After Quit: one line "<Type>: <n> reference(s)" per Outlook object someone (the add-in)
    // still holds, and the total of those references.
    const std::vector<std::string>& LeakReport() const { return m_leaks; }
    long LeakedReferences() const { return m_leakedRefs; }
    // Objects of this session alive now (type and reference count), for tests that count what
    // an add-in holds while it runs.
    std::vector<std::pair<std::string, unsigned long>> LiveObjects() const;
    // Ribbon button click in the explorer (no item) or in the inspector of the item.
    // False with the reason when the control is not on that window's ribbon or onAction fails.
    bool ClickRibbon(const std::string& controlId, const std::shared_ptr<ItemData>& inspectorItem = nullptr,
                     std::string* error = nullptr);
    // The ribbon id of an inspector on the item ("Microsoft.Outlook.Task" ...).
    static std::string InspectorRibbonId(const ItemData& item);
    // Outlook's major version from the profile (11, 12, 14, 16); SetVersion changes the
    // profile's version and HKCR\Outlook.Application\CurVer.
    int VersionMajor() const;
    void SetVersion(int major);

    // --- persistence (JSON) -----------------------------------------------------------------------
    std::string ToJson() const;
    // Replaces the store; throws std::runtime_error on malformed JSON.
    void FromJson(const std::string& json);
    bool SaveFile(const std::string& path) const;
    bool LoadFile(const std::string& path);

    Session& GetSession() const { return *m_session; }

    // Tools / Options (SimOptions.h): Options().Open() raises OptionsPagesAdd and shows the
    // dialog with the added pages; Apply(), Ok(), Cancel() press its buttons.
    OptionsDialog& Options() const { return *m_options; }
    // Raises an Application event (ApplicationEvents, _10 and _11) with args in written order.
    void FireApplicationEvent(long dispid, std::vector<VARIANT*> args);

    // Command bars (SimCommandBars.h): the explorer's (kept across Restart but for temporary
    // bars and controls), an open inspector's (the last opened when item is null), and every
    // window's through the registry. ClickButton clicks a button as the user does: "Click" to
    // the sinks of every control with the same Tag; false with the reason when it cannot.
    CommandBarSet& ExplorerCommandBars() const;
    std::shared_ptr<CommandBarSet> InspectorCommandBars(const std::shared_ptr<ItemData>& item = nullptr) const;
    CommandBarRegistry& CommandBars() const;
    bool ClickButton(const std::string& bar, const std::string& caption,
                     const std::shared_ptr<ItemData>& inspectorItem = nullptr, bool* cancelDefault = nullptr,
                     std::string* error = nullptr);

    // Word as the mail editor (SimWord.h). With WordMail on, a mail's inspector is a Word
    // window: IsWordMail() true, EditorType olEditorWord (4), WordEditor is Word's Document,
    // CommandBars are Word's Application.CommandBars, and Word raises WindowActivate when the
    // inspector opens. Word().StartAddIns() loads Outlook's add-ins into Word.
    void SetWordMail(bool on) { m_wordMail = on; }
    bool WordMail() const { return m_wordMail; }
    WordHost& Word();

    // The COMAddIn object of the add-in at `index` in AddIns() (one per add-in and session).
    IDispatch* ComAddInObject(size_t index);

private:
    void NewSession();
    void Close();
    std::shared_ptr<Session> m_session;
    std::unique_ptr<AddInHost> m_host;
    std::unique_ptr<OptionsDialog> m_options;
    std::shared_ptr<CommandBarSet> m_explorerBars;
    std::unique_ptr<WordHost> m_word;
    bool m_wordMail = false;
    bool m_started = false;                      // StartAddIns ran
    std::vector<hv::com_ptr<IDispatch>> m_kept;  // item objects handed out by ItemObject
    std::vector<hv::com_ptr<IDispatch>> m_comAddIns;
    unsigned long long m_firstSerial = 0;
    std::vector<std::string> m_leaks;
    long m_leakedRefs = 0;
};

// The factory for code that only wants an Application: a new session that lives until the
// process ends; SimFromApplication finds the session behind an Application again.
HRESULT CreateOutlookApplication(IDispatch** application);
SimOutlook* SimFromApplication(IDispatch* application);

}  // namespace hvsim
