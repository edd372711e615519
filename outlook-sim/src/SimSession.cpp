// The session: item objects over the model, the Items events it raises (at once, later from the
// message loop, twice or late as the delivery asks) and the inspectors it opens.
#include "outlook-sim/src/SimSession.h"

#include <algorithm>

#include "outlook-sim/src/SimApplication.h"
#include "outlook-sim/src/SimExplorer.h"
#include "outlook-sim/src/SimFolder.h"
#include "outlook-sim/src/SimItemWindow.h"
#include "outlook-sim/src/SimItem.h"
#include "outlook-sim/src/SimWord.h"

namespace hvsim {

const char* KindName(long cls) {
    switch (cls) {
        case olAppointment:
            return "Appointment";
        case olMail:
            return "Message";
        case olContact:
            return "Contact";
        case olMeetingRequest:
            return "Meeting";
        case olReport:
            return "Report";
        default:
            return "Task";
    }
}

namespace {
const wchar_t kWindowClass[] = L"rctrl_renwnd32";

LRESULT CALLBACK SimWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) return 0;  // closing goes through the object model
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}
}  // namespace

// Windows stay hidden unless asked for (HVSIM_SHOW_WINDOWS=1, or the host's --show): under
// Wine without a window manager every shown top-level window costs seconds, and the add-in
// finds its parent window by class and caption either way.
bool ShowWindows() {
    wchar_t value[8] = {};
    return ::GetEnvironmentVariableW(L"HVSIM_SHOW_WINDOWS", value, 8) > 0 && value[0] == L'1';
}

HWND CreateSimWindow(const std::string& caption, int offset, bool show) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = SimWindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        ::RegisterClassW(&wc);
        registered = true;
    }
    HWND hwnd = ::CreateWindowExW(0, kWindowClass, Wide(caption).c_str(), WS_OVERLAPPEDWINDOW, 20 + offset, 20 + offset,
                                  640, 480, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd && show && ShowWindows()) ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    return hwnd;
}

hv::com_ptr<IDispatch> Session::SnapshotObject(const std::shared_ptr<ItemData>& item, long snapshot) {
    if (!item) return nullptr;
    if (snapshot < 0) snapshot = (item->series.lock() ? item->series.lock() : item)->version;
    auto obj = MakeSim<CItem>(shared_from_this(), item, snapshot);
    return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(obj.get()));
}

hv::com_ptr<IDispatch> Session::ItemObject(const std::shared_ptr<ItemData>& item) {
    if (!item) return nullptr;
    if (item->liveObject) return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(static_cast<CItem*>(item->liveObject)));
    auto obj = MakeSim<CItem>(shared_from_this(), item);
    return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(obj.get()));
}

Session::Session() {
    model.listeners.push_back(this);
}

Session::~Session() {
    if (queueWindow) ::DestroyWindow(queueWindow);
}

void Session::Shutdown() {
    if (down) return;
    down = true;
    pending.clear();
    if (queueWindow) ::DestroyWindow(queueWindow);
    queueWindow = nullptr;
    std::vector<hv::com_ptr<CInspector>> open;
    open.swap(inspectors);
    open.clear();
    explorer.reset();
    inspectorsObj.reset();
    appRef.reset();
    model.listeners.clear();
}

void Session::FireItems(Folder& f, DISPID id, const std::shared_ptr<ItemData>& item) {
    if (down) return;
    hv::com_ptr<IDispatch> obj;
    if (item) obj = ItemObject(item);
    std::vector<hv::com_ptr<IDispatch>> targets;
    for (CItems* items : liveItems)
        if (items->GetFolder() == &f) targets.emplace_back(static_cast<IDispatch*>(items));
    for (auto& t : targets) static_cast<CItems*>(t.get())->FireItem(id, obj.get());
}

LRESULT CALLBACK Session::QueueProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Session*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_APP + 1) {
        auto due = std::move(self->pending);
        self->pending.clear();
        for (auto& fire : due) fire();
        return 0;
    }
    if (self && msg == WM_TIMER) {
        ::KillTimer(hwnd, wParam);
        auto it = self->lateChanges.find(wParam);
        if (it == self->lateChanges.end()) return 0;
        auto late = it->second;
        self->lateChanges.erase(it);
        if (auto item = late.second.lock()) self->FireItems(*late.first, DISPID_ItemChange, item);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND Session::QueueWindow() {
    if (queueWindow) return queueWindow;
    static const wchar_t kClass[] = L"HvSimEventQueue";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QueueProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);  // fails harmlessly once registered
    queueWindow = ::CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (queueWindow) ::SetWindowLongPtrW(queueWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return queueWindow;
}

void Session::Deliver(std::function<void()> fire) {
    if (!model.delivery.asynchronous || !QueueWindow()) return fire();
    pending.push_back(std::move(fire));
    ::PostMessageW(queueWindow, WM_APP + 1, 0, 0);
}

void Session::OnItemAdd(Folder& f, const std::shared_ptr<ItemData>& item) {
    Deliver([this, folder = &f, item] { FireItems(*folder, DISPID_ItemAdd, item); });
}

void Session::OnItemChange(Folder& f, const std::shared_ptr<ItemData>& item) {
    const int times = model.delivery.itemChangeTwice ? 2 : 1;
    for (int i = 0; i < times; ++i) Deliver([this, folder = &f, item] { FireItems(*folder, DISPID_ItemChange, item); });
    // Cached mode: the server's copy comes back a little later and changes the item once more.
    if (model.delivery.lateItemChangeMs > 0 && QueueWindow()) {
        lateChanges[++nextTimer] = {&f, item};
        ::SetTimer(queueWindow, nextTimer, static_cast<UINT>(model.delivery.lateItemChangeMs), nullptr);
    }
}

void Session::OnItemRemove(Folder& f) {
    Deliver([this, folder = &f] { FireItems(*folder, DISPID_ItemRemove, nullptr); });
}

hv::com_ptr<CInspector> Session::OpenInspector(const std::shared_ptr<ItemData>& item) {
    CheckUp(*this);
    auto obj = ItemObject(item);
    for (auto& insp : inspectors)
        if (insp->Item() == static_cast<CItem*>(obj.get())) return insp;
    auto insp = MakeSim<CInspector>(shared_from_this(), obj, 30 * static_cast<int>(inspectors.size() + 1));
    const bool word = owner && owner->WordMail() && item->cls == olMail;
    insp->wordMail = word;
    inspectors.push_back(insp);
    inspectorsObj->FireNew(insp.get());
    insp->Show();
    // Word, editing the mail, activates its window once the inspector is up.
    if (word) owner->Word().Activate(item, true);
    // The inspector's ribbon is built after NewInspector, once per inspector type (12 and later).
    if (host && owner && owner->VersionMajor() >= 12)
        host->LoadRibbon(SimOutlook::InspectorRibbonId(*item), insp.get());
    return insp;
}

void Session::ActivateInspector(CInspector* inspector) {
    // The inspectors list runs from the bottom of the z-order to the top.
    for (auto it = inspectors.begin(); it != inspectors.end(); ++it) {
        if (it->get() != inspector) continue;
        hv::com_ptr<CInspector> keep = *it;
        inspectors.erase(it);
        inspectors.push_back(keep);
        if (keep->Window())
            ::SetWindowPos(keep->Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return;
    }
}

void Session::InspectorClosed(CInspector* inspector) {
    inspectors.erase(std::remove_if(inspectors.begin(), inspectors.end(),
                                    [&](const hv::com_ptr<CInspector>& p) { return p.get() == inspector; }),
                     inspectors.end());
}

}  // namespace hvsim
