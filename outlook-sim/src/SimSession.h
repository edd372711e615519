#pragma once
// The session behind one simulated Outlook: the model, the live objects that raise events, and
// the windows; plus what the object classes share (event interfaces, errors, member tables).
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComPtr.h"

namespace hvsim {

// The event interfaces, by their public IIDs, and the DISPIDs of their members.
inline const IID IID_ApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ApplicationEvents_10 = {0x0006300E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ApplicationEvents_11 = {0x0006302C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ExplorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ExplorerEvents_10 = {0x0006300F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_InspectorsEvents = {0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ItemEvents = {0x0006303A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ItemEvents_10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID IID_ItemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr DISPID DISPID_ItemAdd = 0xF001, DISPID_ItemChange = 0xF002, DISPID_ItemRemove = 0xF003;
constexpr DISPID DISPID_ItemSend = 0xF002, DISPID_NewMail = 0xF003, DISPID_Startup = 0xF006, DISPID_Quit = 0xF007;
constexpr DISPID DISPID_FolderSwitch = 0xF002, DISPID_BeforeFolderSwitch = 0xF003, DISPID_SelectionChange = 0xF007;
constexpr DISPID DISPID_NewInspector = 0xF001;
constexpr DISPID DISPID_Close = 0xF004;

// MAPI_E_NOT_FOUND, and MAPI_E_OBJECT_CHANGED, which Outlook reports for a save over a newer
// version of the item.
constexpr HRESULT MAPI_E_NOT_FOUND_ = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT MAPI_E_OBJECT_CHANGED_SIM = static_cast<HRESULT>(0x80040109);

[[noreturn]] inline void Fail(HRESULT hr, const std::string& text) {
    throw SimError(hr, text);
}

// A class's member table: each name paired with the member id its Call switches on, so that the
// names (and the DISPIDs derived from their places) cannot drift from the switch. Every id from
// 0 to the table's size - 1 must be named exactly once; a gap or a repeat is a programming error
// that shows on the class's first call.
template <typename Id>
std::vector<const char*> MemberNames(std::initializer_list<std::pair<Id, const char*>> members) {
    std::vector<const char*> names(members.size(), nullptr);
    for (const auto& m : members) {
        const auto i = static_cast<size_t>(m.first);
        if (i >= names.size() || names[i]) throw std::logic_error(std::string("member table: ") + m.second);
        names[i] = m.second;
    }
    return names;
}

// The kind of an item, as an inspector's caption names it.
const char* KindName(long cls);

// Windows of class "rctrl_renwnd32", as Outlook's explorers and inspectors have. They stay
// hidden unless asked for (HVSIM_SHOW_WINDOWS=1, or the host's --show).
bool ShowWindows();
HWND CreateSimWindow(const std::string& caption, int offset, bool show = true);

class CApplication;
class CItems;
class CItem;
class CExplorer;
class CInspector;
class CInspectors;

// The session: the model, the live objects that raise events, and the windows.
class Session : public ModelEvents, public std::enable_shared_from_this<Session> {
public:
    // Out of line, where the object classes its members hold are complete.
    Session();
    ~Session() override;
    void Shutdown();

    void OnItemAdd(Folder& f, const std::shared_ptr<ItemData>& item) override;
    void OnItemChange(Folder& f, const std::shared_ptr<ItemData>& item) override;
    void OnItemRemove(Folder& f) override;
    void FireItems(Folder& f, DISPID id, const std::shared_ptr<ItemData>& item);
    // Raises an event now, or (asynchronous delivery) from the message loop once the call that
    // caused it has returned.
    void Deliver(std::function<void()> fire);
    HWND QueueWindow();
    static LRESULT CALLBACK QueueProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    std::vector<std::function<void()>> pending;
    std::map<UINT_PTR, std::pair<Folder*, std::weak_ptr<ItemData>>> lateChanges;
    UINT_PTR nextTimer = 0;
    HWND queueWindow = nullptr;

    hv::com_ptr<IDispatch> ItemObject(const std::shared_ptr<ItemData>& item);
    // A new object over a recurring item or occurrence, as GetItemFromID, GetOccurrence and
    // Exception.AppointmentItem give: it holds the series as it was at `snapshot` (the
    // series' current version when negative).
    hv::com_ptr<IDispatch> SnapshotObject(const std::shared_ptr<ItemData>& item, long snapshot = -1);
    hv::com_ptr<CInspector> OpenInspector(const std::shared_ptr<ItemData>& item);
    void InspectorClosed(CInspector* inspector);
    void ActivateInspector(CInspector* inspector);
    // The transport sends a mail of the Outbox: Sent, SentOn, then it moves to Sent Items.
    void Transmit(const std::shared_ptr<ItemData>& mail) {
        mail->props["Sent"] = Value(true);
        mail->props["SentOn"] = Value::FromDate(model.Now());
        model.Move(mail, model.GetFolder(olFolderSentMail));
    }

    Model model;
    SimOutlook* owner = nullptr;
    AddInHost* host = nullptr;  // the owner's add-in host; null once the owner is gone
    std::shared_ptr<CommandBarRegistry> barRegistry = std::make_shared<CommandBarRegistry>();
    std::shared_ptr<CommandBarSet> explorerBars;
    CApplication* app = nullptr;  // owned by `appRef`
    hv::com_ptr<IDispatch> appRef;
    hv::com_ptr<CExplorer> explorer;
    hv::com_ptr<CInspectors> inspectorsObj;
    std::vector<hv::com_ptr<CInspector>> inspectors;
    std::vector<CItems*> liveItems;  // unrestricted Items collections with possible sinks
    std::vector<std::shared_ptr<ItemData>> selection;
    std::vector<std::shared_ptr<ItemData>> outboxQueue;  // mail sent while offline
    bool explorerOpen = true;                            // false: no main window, ActiveExplorer is Nothing
    bool down = false;
};

// Every member call of a session's objects fails once Outlook has closed.
inline void CheckUp(const Session& s) {
    if (s.down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
}

}  // namespace hvsim
