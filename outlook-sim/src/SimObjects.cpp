// Outlook's objects over the model: Application, NameSpace, MAPIFolder, Items, the item
// classes, UserProperties, RecurrencePattern and Exceptions, Recipients, Attachments,
// Explorer, Selection, Inspectors, Inspector and COMAddIns; plus the session that owns them
// and raises their events.
#include "outlook-sim/src/SimOutlook.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimOutlookBar.h"
#include "outlook-sim/src/SimWord.h"

namespace hvsim {

// The event interfaces, by their public IIDs, and the DISPIDs of their members.
namespace {
const IID IID_ApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ApplicationEvents_10 = {0x0006300E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ApplicationEvents_11 = {0x0006302C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ExplorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ExplorerEvents_10 = {0x0006300F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_InspectorsEvents = {0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ItemEvents = {0x0006303A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ItemEvents_10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ItemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr DISPID DISPID_ItemAdd = 0xF001, DISPID_ItemChange = 0xF002, DISPID_ItemRemove = 0xF003;
constexpr DISPID DISPID_ItemSend = 0xF002, DISPID_NewMail = 0xF003, DISPID_Startup = 0xF006, DISPID_Quit = 0xF007;
constexpr DISPID DISPID_FolderSwitch = 0xF002, DISPID_BeforeFolderSwitch = 0xF003, DISPID_SelectionChange = 0xF007;
constexpr DISPID DISPID_NewInspector = 0xF001;
constexpr DISPID DISPID_Close = 0xF004;

constexpr HRESULT MAPI_E_NOT_FOUND_ = static_cast<HRESULT>(0x8004010F);

std::vector<const char*> MakeNames(std::initializer_list<const char*> names) {
    return std::vector<const char*>(names);
}

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

[[noreturn]] void Fail(HRESULT hr, const std::string& text) {
    throw SimError(hr, text);
}

// MAPI_E_OBJECT_CHANGED, which Outlook reports for a save over a newer version of the item.
constexpr HRESULT MAPI_E_OBJECT_CHANGED_SIM = static_cast<HRESULT>(0x80040109);

}  // namespace

class CApplication;
class CItems;
class CItem;
class CExplorer;
class CInspector;
class CInspectors;

// ---------------------------------------------------------------------------------------------
// The session: the model, the live objects that raise events, and the windows.

class Session : public ModelEvents, public std::enable_shared_from_this<Session> {
public:
    Session() { model.listeners.push_back(this); }
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

void CheckUp(const Session& s) {
    if (s.down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
}

// ---------------------------------------------------------------------------------------------
// Window of class "rctrl_renwnd32", as Outlook's explorers and inspectors have.

namespace {
const wchar_t kWindowClass[] = L"rctrl_renwnd32";

LRESULT CALLBACK SimWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) return 0;  // closing goes through the object model
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Windows stay hidden unless asked for (HVSIM_SHOW_WINDOWS=1, or the host's --show): under
// Wine without a window manager every shown top-level window costs seconds, and the add-in
// finds its parent window by class and caption either way.
bool ShowWindows() {
    wchar_t value[8] = {};
    return ::GetEnvironmentVariableW(L"HVSIM_SHOW_WINDOWS", value, 8) > 0 && value[0] == L'1';
}

HWND CreateSimWindow(const std::string& caption, int offset, bool show = true) {
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
}  // namespace

// ---------------------------------------------------------------------------------------------
// Small collections

class CUserProperty : public CSimObject {
public:
    CUserProperty(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item, std::string name)
        : m_s(std::move(s)), m_item(std::move(item)), m_name(std::move(name)) {}
    const char* TypeName() const override { return "UserProperty"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Value", "Name", "Type", "Delete", "Class"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        UserProperty* p = m_item->FindUserProp(m_name);
        if (!p) Fail(E_FAIL, "The property has been deleted");
        switch (member) {
            case 0:
                if (put) {
                    const VARIANT& v = args.PutValue();
                    if (p->type == olYesNo)
                        p->value = Value(args.PutBool());
                    else if (p->type == olDateTime)
                        p->value = Value::FromDate(args.PutDate());
                    else if (p->type == olNumber || p->type == olInteger)
                        p->value = Value(args.PutLong());
                    else
                        p->value = Value(args.PutText());
                    (void)v;
                    m_item->dirty = true;
                    return;
                }
                switch (p->value.kind) {
                    case Value::Bool:
                        SetBool(result, p->value.l != 0);
                        break;
                    case Value::Long:
                        SetLong(result, p->value.l);
                        break;
                    case Value::Date:
                        SetDate(result, p->value.d);
                        break;
                    default:
                        SetText(result, p->value.AsText());
                        break;
                }
                return;
            case 1:
                if (put) NotFound();
                SetText(result, p->name);
                return;
            case 2:
                if (put) NotFound();
                SetLong(result, p->type);
                return;
            case 3: {
                auto& v = m_item->userProps;
                v.erase(std::remove_if(v.begin(), v.end(), [&](const UserProperty& u) { return &u == p; }), v.end());
                m_item->dirty = true;
                return;
            }
            case 4:
                SetLong(result, 39);
                return;  // olUserProperty
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
    std::string m_name;
};

class CUserProperties : public CSimObject {
public:
    CUserProperties(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item)
        : m_s(std::move(s)), m_item(std::move(item)) {}
    const char* TypeName() const override { return "UserProperties"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Find", "Add", "Remove", "Class"});
        return n;
    }
    hv::com_ptr<IDispatch> Prop(const std::string& name) {
        return hv::com_ptr<IDispatch>(MakeSim<CUserProperty>(m_s, m_item, name).get());
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        auto& props = m_item->userProps;
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(props.size()));
                return;
            case 1: {
                const VARIANT* a = args.At(0);
                if (!a) Fail(DISP_E_PARAMNOTFOUND, "Index missing");
                std::string name;
                if (a->vt == VT_BSTR) {
                    name = args.Text(0);
                    if (!m_item->FindUserProp(name)) Fail(MAPI_E_NOT_FOUND_, "The property was not found");
                } else {
                    long i = args.Long(0);
                    if (i < 1 || i > static_cast<long>(props.size()))
                        Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                    name = props[static_cast<size_t>(i - 1)].name;
                }
                SetDispatch(result, Prop(name).get());
                return;
            }
            case 2: {  // Find(Name, [Custom]): Nothing when absent
                std::string name = args.Text(0);
                SetDispatch(result, m_item->FindUserProp(name) ? Prop(name).get() : nullptr);
                return;
            }
            case 3: {  // Add(Name, Type, [AddToFolderFields], [DisplayFormat])
                std::string name = args.Text(0);
                long type = args.Long(1);
                bool toFolder = args.BoolOr(2, true);
                if (name.empty() || name.find_first_of("[]_#") != std::string::npos)
                    Fail(E_INVALIDARG, "The property name is not valid");
                if (!m_item->FindUserProp(name)) {
                    UserProperty p;
                    p.name = name;
                    p.type = type;
                    if (type == olYesNo)
                        p.value = Value(false);
                    else if (type == olDateTime)
                        p.value = Value::FromDate(kNoDate);
                    else if (type == olNumber || type == olInteger)
                        p.value = Value(0L);
                    else
                        p.value = Value(std::string());
                    props.push_back(p);
                    m_item->dirty = true;
                }
                if (toFolder && m_item->folder && !m_item->folder->HasUserField(name))
                    m_item->folder->UserFields().push_back(name);
                SetDispatch(result, Prop(name).get());
                return;
            }
            case 4: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(props.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                props.erase(props.begin() + (i - 1));
                m_item->dirty = true;
                return;
            }
            case 5:
                SetLong(result, 38);
                return;  // olUserProperties
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
};

class CRecipient : public CSimObject {
public:
    CRecipient(std::shared_ptr<ItemData> item, size_t index) : m_item(std::move(item)), m_index(index) {}
    const char* TypeName() const override { return "Recipient"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Name", "Address", "Resolved", "Resolve", "Type", "Delete"});
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        if (put || m_index >= m_item->recipients.size()) NotFound();
        Recipient& r = m_item->recipients[m_index];
        switch (member) {
            case 0:
                SetText(result, r.name);
                return;
            case 1:
                SetText(result, r.address);
                return;
            case 2:
                SetBool(result, r.resolved);
                return;
            case 3:
                r.resolved = true;
                SetBool(result, true);
                return;
            case 4:
                SetLong(result, 1);
                return;  // olTo
            case 5:
                m_item->recipients.erase(m_item->recipients.begin() + static_cast<long>(m_index));
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
    size_t m_index;
};

class CRecipients : public CSimObject {
public:
    explicit CRecipients(std::shared_ptr<ItemData> item) : m_item(std::move(item)) {}
    const char* TypeName() const override { return "Recipients"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Add", "ResolveAll", "Remove"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_item->recipients;
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case 1: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CRecipient>(m_item, static_cast<size_t>(i - 1)).get());
                return;
            }
            case 2: {
                Recipient r;
                r.name = args.Text(0);
                r.address = r.name;
                list.push_back(r);
                m_item->dirty = true;
                SetDispatch(result, MakeSim<CRecipient>(m_item, list.size() - 1).get());
                return;
            }
            case 3: {
                // Every address with an "@" resolves; plain names do not.
                bool all = true;
                for (auto& r : list) {
                    r.resolved = r.address.find('@') != std::string::npos;
                    all = all && r.resolved;
                }
                SetBool(result, all);
                return;
            }
            case 4: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                list.erase(list.begin() + (i - 1));
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
};

class CAttachment : public CSimObject {
public:
    CAttachment(std::shared_ptr<ItemData> item, size_t index) : m_item(std::move(item)), m_index(index) {}
    const char* TypeName() const override { return "Attachment"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n =
            MakeNames({"DisplayName", "FileName", "Type", "Position", "Size", "Delete", "SaveAsFile"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put || m_index >= m_item->attachments.size()) NotFound();
        Attachment& a = m_item->attachments[m_index];
        switch (member) {
            case 0:
                SetText(result, a.displayName);
                return;
            case 1:
                SetText(result, a.fileName);
                return;
            case 2:
                SetLong(result, a.type);
                return;
            case 3:
                SetLong(result, a.position);
                return;
            case 4:
                SetLong(result, static_cast<long>(a.data.size()));
                return;
            case 5:
                m_item->attachments.erase(m_item->attachments.begin() + static_cast<long>(m_index));
                return;
            case 6: {
                std::ofstream out(Wide(args.Text(0)).c_str(), std::ios::binary);
                out.write(a.data.data(), static_cast<std::streamsize>(a.data.size()));
                if (!out) Fail(E_FAIL, "Cannot save the attachment");
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
    size_t m_index;
};

class CAttachments : public CSimObject {
public:
    explicit CAttachments(std::shared_ptr<ItemData> item) : m_item(std::move(item)) {}
    const char* TypeName() const override { return "Attachments"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Add", "Remove"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_item->attachments;
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case 1: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CAttachment>(m_item, static_cast<size_t>(i - 1)).get());
                return;
            }
            case 2: {  // Add(Source, [Type], [Position], [DisplayName]): a copy of the file's bytes
                Attachment a;
                std::string path = args.Text(0);
                a.type = args.LongOr(1, 1);
                a.position = args.LongOr(2, 0);
                std::ifstream in(Wide(path).c_str(), std::ios::binary);
                if (!in)
                    Fail(static_cast<HRESULT>(0x80070002),
                         "Cannot find this file. Verify the path and file name are correct.");
                std::ostringstream bytes;
                bytes << in.rdbuf();
                a.data = bytes.str();
                size_t slash = path.find_last_of("\\/");
                a.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
                a.displayName = args.TextOr(3, a.fileName);
                list.push_back(a);
                m_item->dirty = true;
                SetDispatch(result, MakeSim<CAttachment>(m_item, list.size() - 1).get());
                return;
            }
            case 3: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                list.erase(list.begin() + (i - 1));
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
};

// ---------------------------------------------------------------------------------------------
// Recurrence

class CException : public CSimObject {
public:
    CException(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, size_t index, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_index(index), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "Exception"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"OriginalDate", "Deleted", "AppointmentItem", "Class"});
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        CheckUp(*m_s);
        if (put || !m_series->recurrence || m_index >= m_series->recurrence->exceptions.size()) NotFound();
        const ExceptionData& e = m_series->recurrence->exceptions[m_index];
        switch (member) {
            // A deleted occurrence's original date has no time part.
            case 0:
                SetDate(result, e.deleted ? static_cast<DATE>(DayNumber(e.originalDate)) : e.originalDate);
                return;
            case 1:
                SetBool(result, e.deleted);
                return;
            case 2:
                // A deleted occurrence has no item: Outlook raises an error.
                if (e.deleted || !e.item)
                    Fail(E_FAIL,
                         "You changed one of the recurrences of this item, and this instance no longer exists.");
                SetDispatch(result, m_s->SnapshotObject(e.item, m_snapshot).get());
                return;
            case 3:
                SetLong(result, 30);
                return;  // olException
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    size_t m_index;
    long m_snapshot;
};

class CExceptions : public CSimObject {
public:
    CExceptions(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "Exceptions"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        const size_t count = m_series->recurrence ? m_series->recurrence->exceptions.size() : 0;
        if (member == 0) return SetLong(result, static_cast<long>(count));
        if (member == 1) {
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(count)) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            SetDispatch(result, MakeSim<CException>(m_s, m_series, static_cast<size_t>(i - 1), m_snapshot).get());
            return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    long m_snapshot;
};

class CRecurrencePattern : public CSimObject {
public:
    // `snapshot`: the series version of the item object it came from.
    CRecurrencePattern(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "RecurrencePattern"; }

protected:
    enum {
        RecurrenceType,
        Interval,
        DayOfWeekMask,
        DayOfMonth,
        MonthOfYear,
        Instance,
        PatternStartDate,
        PatternEndDate,
        NoEndDate,
        Occurrences,
        StartTime,
        EndTime,
        Duration,
        GetOccurrence,
        Exceptions,
        Parent,
        Class
    };
    const std::vector<const char*>& Names() const override {
        static const auto n =
            MakeNames({"RecurrenceType", "Interval", "DayOfWeekMask", "DayOfMonth", "MonthOfYear", "Instance",
                       "PatternStartDate", "PatternEndDate", "NoEndDate", "Occurrences", "StartTime", "EndTime",
                       "Duration", "GetOccurrence", "Exceptions", "Parent", "Class"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        Recurrence& r = m_s->model.EnsureRecurrence(*m_series);
        auto changed = [&] {
            if (r.occurrences > 0) r.ApplyOccurrenceCount();
            m_s->model.SyncSeriesTimes(*m_series);
            m_series->dirty = true;
        };
        switch (member) {
            case RecurrenceType:
                if (!put) return SetLong(result, r.type);
                {
                    // A new type starts from Outlook's defaults for it, taken from the pattern start.
                    long t = args.PutLong();
                    if (t != 0 && t != 1 && t != 2 && t != 3 && t != 5 && t != 6)
                        Fail(E_INVALIDARG, "The value is out of range.");
                    int y, m, d;
                    SplitDate(r.patternStart, &y, &m, &d);
                    r.type = t;
                    r.interval = (t == olRecursYearly || t == olRecursYearNth) ? 12 : 1;
                    r.dayOfWeekMask = (t == olRecursWeekly || t == olRecursMonthNth || t == olRecursYearNth)
                                          ? (1L << Weekday(r.patternStart))
                                          : 0;
                    r.dayOfMonth = (t == olRecursMonthly || t == olRecursYearly) ? d : 0;
                    r.monthOfYear = (t == olRecursYearly || t == olRecursYearNth) ? m : 0;
                    r.instance = (t == olRecursMonthNth || t == olRecursYearNth) ? std::min(5, (d - 1) / 7 + 1) : 0;
                    changed();
                }
                return;
            case Interval:
                if (!put) return SetLong(result, r.interval);
                r.interval = args.PutLong();
                changed();
                return;
            case DayOfWeekMask:
                if (!put) return SetLong(result, r.dayOfWeekMask);
                r.dayOfWeekMask = args.PutLong();
                changed();
                return;
            case DayOfMonth:
                if (!put) return SetLong(result, r.dayOfMonth);
                r.dayOfMonth = args.PutLong();
                changed();
                return;
            case MonthOfYear:
                if (!put) return SetLong(result, r.monthOfYear);
                r.monthOfYear = args.PutLong();
                changed();
                return;
            case Instance:
                if (!put) return SetLong(result, r.instance);
                r.instance = args.PutLong();
                changed();
                return;
            case PatternStartDate:
                if (!put) return SetDate(result, r.patternStart);
                r.patternStart = DayNumber(args.PutDate());
                changed();
                return;
            case PatternEndDate:
                if (!put) return SetDate(result, r.noEndDate ? kNoDate : r.patternEnd);
                r.patternEnd = DayNumber(args.PutDate());
                r.noEndDate = false;
                r.occurrences = 0;
                changed();
                return;
            case NoEndDate:
                if (!put) return SetBool(result, r.noEndDate);
                r.noEndDate = args.PutBool();
                if (r.noEndDate) {
                    r.occurrences = 0;
                    r.patternEnd = kNoDate;
                }
                changed();
                return;
            case Occurrences:
                if (!put) {
                    if (r.noEndDate) return SetLong(result, 0);
                    if (r.occurrences > 0) return SetLong(result, r.occurrences);
                    return SetLong(
                        result, static_cast<long>(
                                    r.OccurrencesBetween(DayNumber(r.patternStart), DayNumber(r.patternEnd)).size()));
                }
                r.occurrences = args.PutLong();
                changed();
                return;
            case StartTime:
                if (!put) return SetDate(result, r.startTime);
                r.startTime = TimeOfDay(args.PutDate());
                changed();
                return;
            case EndTime:
                if (!put) return SetDate(result, TimeOfDay(r.startTime + r.duration));
                {
                    double end = TimeOfDay(args.PutDate());
                    r.duration = end >= r.startTime ? end - r.startTime : end + 1 - r.startTime;
                    changed();
                }
                return;
            case Duration:
                if (!put) return SetLong(result, static_cast<long>(std::lround(r.duration * 1440)));
                r.duration = args.PutLong() / 1440.0;
                changed();
                return;
            case GetOccurrence: {
                if (put) NotFound();
                DATE when = args.Date(0);
                auto occ = m_s->model.GetOccurrence(m_series, when);
                if (!occ)
                    Fail(static_cast<HRESULT>(0x8004010F),
                         "You changed one of the recurrences of this item, and this instance no longer exists. Close "
                         "any open items and try again.");
                SetDispatch(result, m_s->SnapshotObject(occ, m_snapshot).get());
                return;
            }
            case Exceptions:
                if (put) NotFound();
                SetDispatch(result, MakeSim<CExceptions>(m_s, m_series, m_snapshot).get());
                return;
            case Parent:
                if (put) NotFound();
                SetDispatch(result, m_s->ItemObject(m_series).get());
                return;
            case Class:
                SetLong(result, 28);
                return;  // olRecurrencePattern
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    long m_snapshot;
};

// ---------------------------------------------------------------------------------------------
// Items

class CItem : public CSimObject {
public:
    // `snapshot` >= 0: a copy of its own over a recurring item (see Session::SnapshotObject),
    // which is not the item's shared object.
    CItem(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item, long snapshot = -1)
        : m_s(std::move(s)), m_item(std::move(item)) {
        AddConnectionPoint(IID_ItemEvents);
        AddConnectionPoint(IID_ItemEvents_10);
        if (snapshot < 0) m_item->liveObject = this;
        m_snapshot = snapshot >= 0 ? snapshot : Owner()->version;
    }
    ~CItem() override {
        if (m_item->liveObject == this) m_item->liveObject = nullptr;
    }
    const char* TypeName() const override { return "Item"; }
    const std::shared_ptr<ItemData>& Data() const { return m_item; }

    void FireClose(bool* cancel) {
        VARIANT_BOOL c = VARIANT_FALSE;
        VARIANT arg;
        arg.vt = VT_BYREF | VT_BOOL;
        arg.pboolVal = &c;
        Fire(IID_ItemEvents, DISPID_Close, {&arg});
        Fire(IID_ItemEvents_10, DISPID_Close, {&arg});
        if (cancel) *cancel = c != VARIANT_FALSE;
    }

protected:
    enum {
        Save,
        Delete,
        Close,
        Display,
        Forward,
        ForwardAsVcal,
        ForwardAsVcard,
        Send,
        GetRecurrencePattern,
        ClearRecurrencePattern,
        Move,
        GetInspector,
        UserProperties,
        Recipients,
        Attachments,
        Application,
        Session_,
        Parent,
        Class,
        EntryID,
        IsRecurring,
        RecurrenceState,
        Saved,
        Duration,
        Size,
        kFirstProperty
    };
    static const std::vector<std::string>& PropertyNames() {
        static const std::vector<std::string> names = [] {
            std::vector<std::string> all;
            for (long cls : {olTask, olAppointment, olMail, olContact})
                for (const auto& kv : ClassDefaults(cls))
                    if (std::find(all.begin(), all.end(), kv.first) == all.end()) all.push_back(kv.first);
            std::sort(all.begin(), all.end());
            return all;
        }();
        return names;
    }
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = [] {
            std::vector<const char*> v = {"Save",
                                          "Delete",
                                          "Close",
                                          "Display",
                                          "Forward",
                                          "ForwardAsVcal",
                                          "ForwardAsVcard",
                                          "Send",
                                          "GetRecurrencePattern",
                                          "ClearRecurrencePattern",
                                          "Move",
                                          "GetInspector",
                                          "UserProperties",
                                          "Recipients",
                                          "Attachments",
                                          "Application",
                                          "Session",
                                          "Parent",
                                          "Class",
                                          "EntryID",
                                          "IsRecurring",
                                          "RecurrenceState",
                                          "Saved",
                                          "Duration",
                                          "Size"};
            for (const auto& p : PropertyNames()) v.push_back(p.c_str());
            return v;
        }();
        return n;
    }

    hv::com_ptr<IDispatch> NewMailFrom(const std::string& subjectPrefix);
    void Call(int member, bool put, Args& args, VARIANT* result) override;
    // The item whose saves count for this one: the series of an occurrence, else the item.
    std::shared_ptr<ItemData> Owner() const {
        auto series = m_item->series.lock();
        return series ? series : m_item;
    }
    // A recurring item saved through another object since this one was opened.
    bool Stale() const { return m_item->IsRecurring() && Owner()->version != m_snapshot; }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
    long m_snapshot = 0;
    std::map<std::string, Value> m_pending;  // unsaved changes of a copy of a recurring item
};

class CItems : public CSimObject {
public:
    // Unrestricted (live over the folder, raising ItemsEvents) or a restricted snapshot.
    CItems(std::shared_ptr<Session> s, Folder* folder, std::vector<std::shared_ptr<ItemData>>* snapshot = nullptr)
        : m_s(std::move(s)), m_folder(folder) {
        if (snapshot) {
            m_restricted = true;
            m_snapshot = *snapshot;
        } else {
            AddConnectionPoint(IID_ItemsEvents);
            m_s->liveItems.push_back(this);
        }
    }
    ~CItems() override {
        auto& v = m_s->liveItems;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    const char* TypeName() const override { return "Items"; }
    Folder* GetFolder() const { return m_folder; }
    void FireItem(DISPID id, IDispatch* item) {
        if (id == DISPID_ItemRemove) return Fire(IID_ItemsEvents, id, {});
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = item;
        Fire(IID_ItemsEvents, id, {&arg});
    }

protected:
    enum {
        Count,
        Item,
        Add,
        Restrict,
        Find,
        FindNext,
        GetFirst,
        GetNext,
        GetLast,
        GetPrevious,
        Sort,
        IncludeRecurrences,
        Remove,
        Class,
        Parent
    };
    const std::vector<const char*>& Names() const override {
        static const auto n =
            MakeNames({"Count", "Item", "Add", "Restrict", "Find", "FindNext", "GetFirst", "GetNext", "GetLast",
                       "GetPrevious", "Sort", "IncludeRecurrences", "Remove", "Class", "Parent"});
        return n;
    }
    std::vector<std::shared_ptr<ItemData>>& List() { return m_restricted ? m_snapshot : m_folder->Items(); }
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    std::shared_ptr<Session> m_s;
    Folder* m_folder;
    bool m_restricted = false;
    std::vector<std::shared_ptr<ItemData>> m_snapshot;
    std::shared_ptr<Filter> m_findFilter;
    size_t m_cursor = 0;
    bool m_includeRecurrences = false;
};

class CFolder : public CSimObject {
public:
    CFolder(std::shared_ptr<Session> s, Folder* folder) : m_s(std::move(s)), m_folder(folder) {}
    const char* TypeName() const override { return "MAPIFolder"; }
    Folder* GetFolder() const { return m_folder; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Name", "Items", "DefaultItemType", "EntryID", "Application", "Class",
                                         "DefaultMessageClass", "Session", "Display"});
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        switch (member) {
            case 0:
                SetText(result, m_folder->Name());
                return;
            case 1: {
                // Outlook gives a fresh Items object per call; each raises the folder's events.
                SetDispatch(result, MakeSim<CItems>(m_s, m_folder).get());
                return;
            }
            case 2:
                SetLong(result, m_folder->DefaultItemType());
                return;
            case 3:
                SetText(result, m_folder->EntryId());
                return;
            case 4:
            case 7:
                SetDispatch(result, m_s->appRef.get());
                return;
            case 5:
                SetLong(result, 2);
                return;  // olFolder
            case 6: {
                static const char* classes[] = {"IPM.Note", "IPM.Appointment", "IPM.Contact", "IPM.Task"};
                SetText(result, classes[std::min(3L, m_folder->DefaultItemType())]);
                return;
            }
            case 8:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    Folder* m_folder;
};

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

void CItems::Call(int member, bool put, Args& args, VARIANT* result) {
    CheckUp(*m_s);
    auto& list = List();
    if (put && member != IncludeRecurrences) NotFound();
    switch (member) {
        case Count:
            SetLong(result, static_cast<long>(list.size()));
            return;
        case Item: {
            const VARIANT* a = args.At(0);
            if (!a) Fail(DISP_E_PARAMNOTFOUND, "Index missing");
            if (a->vt == VT_BSTR) {
                std::string subject = args.Text(0);
                for (const auto& it : list)
                    if (_stricmp(it->Subject().c_str(), subject.c_str()) == 0)
                        return SetDispatch(result, m_s->ItemObject(it).get());
                Fail(MAPI_E_NOT_FOUND_, "The attempted operation failed.  An object could not be found.");
            }
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            SetDispatch(result, m_s->ItemObject(list[static_cast<size_t>(i - 1)]).get());
            return;
        }
        case Add: {
            // Add([Type]): an OlItemType number or a message class; by default the folder's kind.
            long kind = m_folder->DefaultItemType();
            if (const VARIANT* a = args.At(0)) {
                if (a->vt == VT_BSTR) {
                    std::string cls = args.Text(0);
                    if (_strnicmp(cls.c_str(), "IPM.Task", 8) == 0)
                        kind = olTaskItem;
                    else if (_strnicmp(cls.c_str(), "IPM.Appointment", 15) == 0)
                        kind = olAppointmentItem;
                    else if (_strnicmp(cls.c_str(), "IPM.Contact", 11) == 0)
                        kind = olContactItem;
                    else
                        kind = olMailItem;
                } else {
                    kind = args.Long(0);
                }
            }
            long cls;
            switch (kind) {
                case olMailItem:
                    cls = olMail;
                    break;
                case olAppointmentItem:
                    cls = olAppointment;
                    break;
                case olContactItem:
                    cls = olContact;
                    break;
                case olTaskItem:
                    cls = olTask;
                    break;
                default:
                    Fail(E_INVALIDARG, "Could not complete the operation. One or more parameter values are not valid.");
            }
            // Outlook lets a folder hold only items of its own kind (mail folders take any note).
            if (cls != olMail && kind != m_folder->DefaultItemType())
                Fail(E_INVALIDARG, "Could not complete the operation. One or more parameter values are not valid.");
            SetDispatch(result, m_s->ItemObject(m_s->model.NewItem(m_folder, cls)).get());
            return;
        }
        case Restrict: {
            Filter f;
            try {
                f = Filter::Parse(args.Text(0));
                std::vector<std::shared_ptr<ItemData>> matched;
                for (const auto& it : list)
                    if (f.Matches(*it, *m_folder)) matched.push_back(it);
                SetDispatch(result, MakeSim<CItems>(m_s, m_folder, &matched).get());
            } catch (const FilterError& e) {
                Fail(E_INVALIDARG, e.what());
            }
            return;
        }
        case Find:
        case FindNext: {
            try {
                if (member == Find) {
                    m_findFilter = std::make_shared<Filter>(Filter::Parse(args.Text(0)));
                    m_cursor = 0;
                } else if (!m_findFilter) {
                    Fail(E_FAIL, "Find must be called before FindNext");
                }
                for (; m_cursor < list.size(); ++m_cursor) {
                    if (m_findFilter->Matches(*list[m_cursor], *m_folder)) {
                        SetDispatch(result, m_s->ItemObject(list[m_cursor++]).get());
                        return;
                    }
                }
                SetDispatch(result, nullptr);  // Nothing
            } catch (const FilterError& e) {
                Fail(E_INVALIDARG, e.what());
            }
            return;
        }
        case GetFirst:
        case GetNext:
        case GetLast:
        case GetPrevious: {
            if (member == GetFirst)
                m_cursor = 0;
            else if (member == GetNext)
                ++m_cursor;
            else if (member == GetLast)
                m_cursor = list.empty() ? 0 : list.size() - 1;
            else
                m_cursor = m_cursor == 0 ? list.size() : m_cursor - 1;
            SetDispatch(result, m_cursor < list.size() ? m_s->ItemObject(list[m_cursor]).get() : nullptr);
            return;
        }
        case Sort: {
            std::string prop = args.Text(0);
            bool desc = args.BoolOr(1, false);
            if (!prop.empty() && prop.front() == '[') prop = prop.substr(1, prop.size() - 2);
            if (!m_restricted) {
                m_snapshot = list;
                m_restricted = true;
            }
            std::stable_sort(m_snapshot.begin(), m_snapshot.end(), [&](const auto& a, const auto& b) {
                Value x = a->Get(CanonicalProperty(a->cls, prop)), y = b->Get(CanonicalProperty(b->cls, prop));
                bool less = (x.kind == Value::Text) ? x.text < y.text : (x.kind == Value::Date ? x.d < y.d : x.l < y.l);
                bool greater =
                    (x.kind == Value::Text) ? y.text < x.text : (x.kind == Value::Date ? y.d < x.d : y.l < x.l);
                return desc ? greater : less;
            });
            return;
        }
        case IncludeRecurrences:
            if (put)
                m_includeRecurrences = args.PutBool();
            else
                SetBool(result, m_includeRecurrences);
            return;
        case Remove: {
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            m_s->model.Delete(list[static_cast<size_t>(i - 1)]);
            return;
        }
        case Class:
            SetLong(result, 16);
            return;  // olItems
        case Parent:
            SetDispatch(result, MakeSim<CFolder>(m_s, m_folder).get());
            return;
    }
    NotFound();
}

// ---------------------------------------------------------------------------------------------
// Inspectors and the explorer

class CInspector : public CSimObject {
public:
    CInspector(std::shared_ptr<Session> s, hv::com_ptr<IDispatch> item, int offset)
        : m_s(std::move(s)), m_item(std::move(item)) {
        auto* data = static_cast<CItem*>(m_item.get())->Data().get();
        std::string subject = data->Subject();
        m_caption = (subject.empty() ? std::string("Untitled") : subject) + " - " + KindName(data->cls);
        m_bars = m_s->barRegistry->NewSet("Inspector");
        // Shown only after NewInspector, as Outlook does.
        m_hwnd = CreateSimWindow(m_caption, offset, false);
    }
    const std::shared_ptr<CommandBarSet>& Bars() const { return m_bars; }
    void Show() {
        if (m_hwnd && ShowWindows()) ::ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
        shown = true;
    }
    bool shown = false;  // the window was shown (NewInspector has run)
    ~CInspector() override { DestroyWindowNow(); }
    const char* TypeName() const override { return "Inspector"; }
    CItem* Item() const { return static_cast<CItem*>(m_item.get()); }
    HWND Window() const { return m_hwnd; }
    bool wordMail = false;

    // Close as the user does: ItemEvents "Close" (which may cancel), save, window gone.
    bool CloseNow(bool save) {
        hv::com_ptr<CInspector> self(this);
        auto data = Item()->Data();
        // Outlook raises "Close" before the save, or (EventDelivery::closeAfterWrite) after it.
        const bool writeFirst = m_s->model.delivery.closeAfterWrite;
        if (writeFirst && save && data->dirty) m_s->model.Save(data);
        bool cancel = false;
        Item()->FireClose(&cancel);
        if (cancel) return false;
        if (!writeFirst && save && data->dirty) m_s->model.Save(data);
        if (wordMail && m_s->owner) m_s->owner->Word().Forget(data);
        DestroyWindowNow();
        m_s->InspectorClosed(this);
        return true;
    }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Caption", "CurrentItem", "IsWordMail", "Close", "Display", "Activate",
                                         "Application", "Class", "WordEditor", "EditorType", "CommandBars"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        switch (member) {
            case 0:
                SetText(result, m_caption);
                return;
            case 1:
                SetDispatch(result, m_item.get());
                return;
            case 2:
                SetBool(result, wordMail);
                return;
            case 3: {
                long mode = args.LongOr(0, 2);  // olSave 0, olDiscard 1, olPromptForSave 2
                CloseNow(mode == 0);
                return;
            }
            case 4:
            case 5:
                m_s->ActivateInspector(this);
                return;  // Display, Activate: brought to the top
            case 6:
                SetDispatch(result, m_s->appRef.get());
                return;
            case 7:
                SetLong(result, 35);
                return;  // olInspector
            case 8:      // WordEditor: Word's Document for a WordMail inspector
                SetDispatch(result, wordMail && m_s->owner ? m_s->owner->Word().Document(Item()->Data()) : nullptr);
                return;
            case 9:
                SetLong(result, wordMail ? 4 : 2);
                return;  // olEditorWord / olEditorHTML
            case 10:
                // In a WordMail inspector the bars are Word's own.
                if (wordMail && m_s->owner) {
                    auto& word = m_s->owner->Word();
                    return SetDispatch(result, NewCommandBars(word.Bars(), word.Application()).get());
                }
                SetDispatch(result, NewCommandBars(m_bars, m_s->appRef.get()).get());
                return;
        }
        NotFound();
    }

private:
    void DestroyWindowNow() {
        if (m_hwnd) {
            ::DestroyWindow(m_hwnd);
            m_hwnd = nullptr;
        }
    }
    std::shared_ptr<Session> m_s;
    hv::com_ptr<IDispatch> m_item;
    std::string m_caption;
    std::shared_ptr<CommandBarSet> m_bars;
    HWND m_hwnd = nullptr;
};

class CInspectors : public CSimObject {
public:
    explicit CInspectors(std::shared_ptr<Session> s) : m_s(std::move(s)) { AddConnectionPoint(IID_InspectorsEvents); }
    const char* TypeName() const override { return "Inspectors"; }
    void FireNew(IDispatch* inspector) {
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = inspector;
        Fire(IID_InspectorsEvents, DISPID_NewInspector, {&arg});
    }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Add", "Application", "Class"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto s = m_s.lock();
        if (!s) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(s->inspectors.size()));
                return;
            case 1: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(s->inspectors.size()))
                    Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, s->inspectors[static_cast<size_t>(i - 1)].get());
                return;
            }
            case 2: {
                auto* item = args.Dispatch(0);
                hv::com_ptr<IDispatch> keep(item);
                for (const auto& f : s->model.Folders())
                    for (const auto& d : f->Items())
                        if (d->liveObject && static_cast<IDispatch*>(static_cast<CItem*>(d->liveObject)) == item)
                            return SetDispatch(result, s->OpenInspector(d).get());
                Fail(E_INVALIDARG, "The item cannot be displayed");
            }
            case 3:
                SetDispatch(result, s->appRef.get());
                return;
            case 4:
                SetLong(result, 36);
                return;  // olInspectors
        }
        NotFound();
    }

private:
    std::weak_ptr<Session> m_s;  // the session owns this object
};

class CSelection : public CSimObject {
public:
    CSelection(std::shared_ptr<Session> s, std::vector<std::shared_ptr<ItemData>> items)
        : m_s(std::move(s)), m_items(std::move(items)) {}
    const char* TypeName() const override { return "Selection"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Class"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(m_items.size()));
                return;
            case 1: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(m_items.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, m_s->ItemObject(m_items[static_cast<size_t>(i - 1)]).get());
                return;
            }
            case 2:
                SetLong(result, 74);
                return;  // olSelection
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::vector<std::shared_ptr<ItemData>> m_items;
};

class CExplorer : public CSimObject {
public:
    CExplorer(std::weak_ptr<Session> s, Folder* folder) : m_s(std::move(s)), m_folder(folder) {
        AddConnectionPoint(IID_ExplorerEvents);
        AddConnectionPoint(IID_ExplorerEvents_10);
        m_hwnd = CreateSimWindow(Caption(), 0);
    }
    ~CExplorer() override {
        if (m_hwnd) ::DestroyWindow(m_hwnd);
    }
    const char* TypeName() const override { return "Explorer"; }
    std::string Caption() const { return m_folder->Name() + " - Microsoft Outlook"; }
    HWND Window() const { return m_hwnd; }
    Folder* CurrentFolder() const { return m_folder; }

    bool SwitchTo(Folder* folder) {
        auto s = m_s.lock();
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT newFolder, cancelArg;
        auto folderObj = MakeSim<CFolder>(s, folder);
        newFolder.vt = VT_DISPATCH;
        newFolder.pdispVal = folderObj.get();
        cancelArg.vt = VT_BYREF | VT_BOOL;
        cancelArg.pboolVal = &cancel;
        FireBoth(DISPID_BeforeFolderSwitch, {&newFolder, &cancelArg});
        if (cancel != VARIANT_FALSE) return false;
        m_folder = folder;
        if (m_hwnd) ::SetWindowTextW(m_hwnd, Wide(Caption()).c_str());
        s->selection.clear();
        FireBoth(DISPID_FolderSwitch, {});
        FireBoth(DISPID_SelectionChange, {});
        return true;
    }
    void FireSelectionChange() { FireBoth(DISPID_SelectionChange, {}); }

protected:
    void FireBoth(DISPID id, std::vector<VARIANT*> args) {
        Fire(IID_ExplorerEvents, id, args);
        Fire(IID_ExplorerEvents_10, id, args);
    }
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Caption", "CurrentFolder", "Selection", "Activate", "Close", "Display",
                                         "Application", "Class", "WindowState", "CommandBars", "Panes"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        auto s = m_s.lock();
        if (!s || s->down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
        switch (member) {
            case 0:
                if (put) NotFound();
                SetText(result, Caption());
                return;
            case 1:
                if (put) {
                    auto* f = dynamic_cast<CFolder*>(
                        static_cast<CSimObject*>(static_cast<IDispatch*>(args.PutValue().pdispVal)));
                    if (args.PutValue().vt != VT_DISPATCH || !f) Fail(E_INVALIDARG, "A folder was expected");
                    SwitchTo(f->GetFolder());
                    return;
                }
                SetDispatch(result, MakeSim<CFolder>(s, m_folder).get());
                return;
            case 2:
                if (put) NotFound();
                SetDispatch(result, MakeSim<CSelection>(s, s->selection).get());
                return;
            case 3:
            case 4:
            case 5:
                if (put) NotFound();
                return;
            case 6:
                if (put) NotFound();
                SetDispatch(result, s->appRef.get());
                return;
            case 7:
                if (put) NotFound();
                SetLong(result, 34);
                return;  // olExplorer
            case 8:
                if (put) return;
                SetLong(result, 0);
                return;
            case 9:
                if (put) NotFound();
                SetDispatch(result, NewCommandBars(s->explorerBars, s->appRef.get()).get());
                return;
            case 10:
                if (put) NotFound();
                SetDispatch(result, NewPanes(std::shared_ptr<Model>(s, &s->model), s->appRef.get()).get());
                return;
        }
        NotFound();
    }

private:
    std::weak_ptr<Session> m_s;  // the session owns this object
    Folder* m_folder;
    HWND m_hwnd = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Namespace, add-ins, application

class CNamespace : public CSimObject {
public:
    explicit CNamespace(std::shared_ptr<Session> s) : m_s(std::move(s)) {}
    const char* TypeName() const override { return "NameSpace"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"GetDefaultFolder", "GetItemFromID", "Offline", "Type", "Application",
                                         "CurrentUser", "Class", "Logon", "Logoff"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();  // Offline is read-only in Outlook; tests switch it through SimOutlook
        switch (member) {
            case 0: {
                Folder* f = m_s->model.GetFolder(args.Long(0));
                if (!f) Fail(E_INVALIDARG, "The operation failed.");
                SetDispatch(result, MakeSim<CFolder>(m_s, f).get());
                return;
            }
            case 1: {
                auto item = m_s->model.FindByEntryId(args.Text(0));
                if (!item) Fail(MAPI_E_NOT_FOUND_, "The operation failed.  An object could not be found.");
                SetDispatch(result, (item->IsRecurring() ? m_s->SnapshotObject(item) : m_s->ItemObject(item)).get());
                return;
            }
            case 2:
                SetBool(result, m_s->model.offline);
                return;
            case 3:
                SetText(result, "MAPI");
                return;
            case 4:
                SetDispatch(result, m_s->appRef.get());
                return;
            case 5:
                SetText(result, "Outlook User");
                return;
            case 6:
                SetLong(result, 1);
                return;  // olNamespace
            case 7:
            case 8:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
};

class CCOMAddIn : public CSimObject {
public:
    CCOMAddIn(std::shared_ptr<Session> s, size_t index) : m_s(std::move(s)), m_index(index) {}
    const char* TypeName() const override { return "COMAddIn"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Description", "ProgId", "Connect", "Object", "Guid"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (m_index >= m_s->model.addIns.size()) NotFound();
        AddInEntry& a = m_s->model.addIns[m_index];
        switch (member) {
            case 0:
                if (put)
                    a.description = args.PutText();
                else
                    SetText(result, a.description);
                return;
            case 1:
                if (put) NotFound();
                SetText(result, a.progId);
                return;
            case 2:
                if (!put) return SetBool(result, a.connected);
                if (m_s->host) {
                    // Copy: the host may change the list while it loads the add-in.
                    std::string progId = a.progId;
                    if (!m_s->host->Connect(progId, args.PutBool())) Fail(E_FAIL, "The add-in could not be connected.");
                } else {
                    a.connected = args.PutBool();
                }
                return;
            case 3:
                if (put) NotFound();
                SetDispatch(result, a.object);
                return;
            case 4: {
                if (put) NotFound();
                CLSID clsid;
                wchar_t text[64] = {};
                if (SUCCEEDED(::CLSIDFromProgID(Wide(a.progId).c_str(), &clsid))) ::StringFromGUID2(clsid, text, 64);
                SetText(result, Utf8(text));
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    size_t m_index;
};

class CCOMAddIns : public CSimObject {
public:
    explicit CCOMAddIns(std::shared_ptr<Session> s) : m_s(std::move(s)) {}
    const char* TypeName() const override { return "COMAddIns"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n = MakeNames({"Count", "Item", "Update"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        auto& list = m_s->model.addIns;
        switch (member) {
            case 0:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case 1: {
                const VARIANT* a = args.At(0);
                if (a && a->vt == VT_BSTR) {
                    std::string id = args.Text(0);
                    for (size_t i = 0; i < list.size(); ++i)
                        if (_stricmp(list[i].progId.c_str(), id.c_str()) == 0)
                            return SetDispatch(result, MakeSim<CCOMAddIn>(m_s, i).get());
                    Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                }
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CCOMAddIn>(m_s, static_cast<size_t>(i - 1)).get());
                return;
            }
            case 2:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
};

class CApplication : public CSimObject {
public:
    explicit CApplication(std::weak_ptr<Session> s) : m_s(std::move(s)) {
        AddConnectionPoint(IID_ApplicationEvents);
        AddConnectionPoint(IID_ApplicationEvents_10);
        AddConnectionPoint(IID_ApplicationEvents_11);
    }
    const char* TypeName() const override { return "Application"; }
    std::weak_ptr<Session> SessionRef() const { return m_s; }

    void FireAll(DISPID id, std::vector<VARIANT*> args) {
        Fire(IID_ApplicationEvents, id, args);
        Fire(IID_ApplicationEvents_10, id, args);
        Fire(IID_ApplicationEvents_11, id, args);
    }

protected:
    const std::vector<const char*>& Names() const override {
        static const auto n =
            MakeNames({"Name", "Version", "GetNamespace", "Session", "ActiveExplorer", "ActiveInspector", "Inspectors",
                       "COMAddIns", "CreateItem", "Quit", "Class", "Application", "ProductCode", "Explorers"});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        auto s = m_s.lock();
        if (!s || s->down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
        if (put) NotFound();
        switch (member) {
            case 0:
                SetText(result, "Outlook");
                return;
            case 1:
                SetText(result, s->model.version);
                return;
            case 2:
                if (_stricmp(args.Text(0).c_str(), "MAPI") != 0) Fail(E_INVALIDARG, "The operation failed.");
                SetDispatch(result, MakeSim<CNamespace>(s).get());
                return;
            case 3:
                SetDispatch(result, MakeSim<CNamespace>(s).get());
                return;
            case 4:
                SetDispatch(result, s->explorerOpen ? s->explorer.get() : nullptr);
                return;
            case 5:
                SetDispatch(result, s->inspectors.empty() ? nullptr : s->inspectors.back().get());
                return;  // top-most
            case 6:
                SetDispatch(result, s->inspectorsObj.get());
                return;
            case 7:
                SetDispatch(result, MakeSim<CCOMAddIns>(s).get());
                return;
            case 8: {
                long kind = args.Long(0);
                long folderId = kind == olAppointmentItem ? olFolderCalendar
                                : kind == olTaskItem      ? olFolderTasks
                                : kind == olContactItem   ? olFolderContacts
                                                          : olFolderInbox;
                long cls = kind == olAppointmentItem ? olAppointment
                           : kind == olTaskItem      ? olTask
                           : kind == olContactItem   ? olContact
                                                     : olMail;
                if (kind == olMailItem) folderId = olFolderOutbox;
                SetDispatch(result, s->ItemObject(s->model.NewItem(s->model.GetFolder(folderId), cls)).get());
                return;
            }
            case 9:
                return;
            case 10:
                SetLong(result, 0);
                return;  // olApplication
            case 11:
                SetDispatch(result, this);
                return;
            case 12:
                SetText(result, "{90160000-000F-0000-0000-0000000FF1CE}");
                return;
            case 13:
                NotFound();
        }
        NotFound();
    }

private:
    std::weak_ptr<Session> m_s;
};

// ---------------------------------------------------------------------------------------------
// Item members

hv::com_ptr<IDispatch> CItem::NewMailFrom(const std::string& subjectPrefix) {
    auto mail = m_s->model.NewItem(m_s->model.GetFolder(olFolderOutbox), olMail);
    mail->props["Subject"] = Value(subjectPrefix + m_item->Subject());
    mail->props["Body"] = m_item->Get("Body");
    mail->attachments = m_item->attachments;
    return m_s->ItemObject(mail);
}

namespace {
std::string VcalText(const ItemData& item) {
    auto stamp = [](DATE d) {
        std::string t = FormatDate(d);  // yyyy-mm-dd hh:mm:ss
        return t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + "T" + t.substr(11, 2) + t.substr(14, 2) +
               t.substr(17, 2);
    };
    return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:" + stamp(item.Get("Start").AsDate()) +
           "\r\nDTEND:" + stamp(item.Get("End").AsDate()) + "\r\nLOCATION:" + item.Get("Location").AsText() +
           "\r\nSUMMARY:" + item.Subject() + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}
std::string VcardText(const ItemData& item) {
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:" + item.Get("FullName").AsText() +
           "\r\nEMAIL;PREF;INTERNET:" + item.Get("Email1Address").AsText() + "\r\nEND:VCARD\r\n";
}
}  // namespace

void CItem::Call(int member, bool put, Args& args, VARIANT* result) {
    CheckUp(*m_s);
    ItemData& d = *m_item;
    if (member >= kFirstProperty) {
        const std::string& name = PropertyNames()[static_cast<size_t>(member - kFirstProperty)];
        const auto& defaults = ClassDefaults(d.cls);
        auto def = defaults.find(name);
        if (def == defaults.end()) NotFound();  // not a property of this class
        if (!put && d.isOccurrence() && Stale())
            Fail(MAPI_E_NOT_FOUND_,
                 "You changed one of the recurrences of this item, and this instance no longer exists. "
                 "Close any open items and try again.");
        if (!put) {
            auto mine = m_pending.find(name);
            Value v = mine != m_pending.end() ? mine->second : d.Get(name);
            switch (def->second.kind) {
                case Value::Bool:
                    return SetBool(result, v.AsBool());
                case Value::Long:
                    return SetLong(result, v.AsLong());
                case Value::Date:
                    return SetDate(result, v.AsDate());
                default:
                    return SetText(result, v.AsText());
            }
        }
        if (name == "LastModificationTime" || name == "CreationTime" || name == "MessageClass" || name == "Sent" ||
            name == "SentOn" || name == "ReceivedTime")
            Fail(E_ACCESSDENIED, "The property \"" + name + "\" is read-only.");
        Value v;
        switch (def->second.kind) {
            case Value::Bool:
                v = Value(args.PutBool());
                break;
            case Value::Long:
                v = Value(args.PutLong());
                break;
            case Value::Date:
                v = Value::FromDate(args.PutDate());
                break;
            default:
                v = Value(args.PutText());
                break;
        }
        if (d.IsRecurring()) {
            // A copy of a recurring item keeps its changes to itself until it is saved.
            m_pending[name] = v;
            return;
        }
        d.Set(name, v);
        // Outlook keeps a task's Complete, Status and PercentComplete in step, and an
        // appointment's End after its Start.
        if (d.cls == olTask && name == "Complete") {
            bool done = d.Get("Complete").AsBool();
            d.props["Status"] = Value(done ? 2L : 0L);
            d.props["PercentComplete"] = Value(done ? 100L : 0L);
            d.props["DateCompleted"] = Value::FromDate(done ? static_cast<DATE>(DayNumber(m_s->model.Now())) : kNoDate);
        }
        if (d.cls == olTask && (name == "StartDate" || name == "DueDate")) {
            // A task's dates are whole days (midnight), and a due date is never before the start
            // date: a later start moves the due date, a start without a due date gives one, an
            // earlier due date moves the start, and no due date means no start date either.
            DATE start = d.Get("StartDate").AsDate(), due = d.Get("DueDate").AsDate();
            if (start < kNoDate) start = DayNumber(start);
            if (due < kNoDate) due = DayNumber(due);
            if (name == "StartDate" && start < kNoDate && (due >= kNoDate || due < start)) due = start;
            if (name == "DueDate" && due < kNoDate && start < kNoDate && start > due) start = due;
            if (name == "DueDate" && due >= kNoDate) start = kNoDate;
            d.props["StartDate"] = Value::FromDate(start);
            d.props["DueDate"] = Value::FromDate(due);
        }
        if (d.cls == olAppointment && name == "Start" && !d.isOccurrence() && !d.recurrence) {
            // Moving the start keeps the duration.
            (void)0;
        }
        return;
    }
    if (put) NotFound();
    switch (member) {
        case Save: {
            std::shared_ptr<ItemData> owner = Owner();
            if (Stale() || owner->failSaves > 0) {
                if (!Stale()) --owner->failSaves;
                Fail(MAPI_E_OBJECT_CHANGED_SIM,
                     "The operation cannot be performed because the message has been changed.");
            }
            // This copy's changes go into the item; an occurrence refused its new place keeps them
            // to itself, and the item stays as it was.
            std::map<std::string, Value> before;
            for (const auto& kv : m_pending) {
                auto old = d.props.find(kv.first);
                if (old != d.props.end()) before[kv.first] = old->second;
                d.Set(kv.first, kv.second);
            }
            if (d.isOccurrence()) {
                const std::string refused = m_s->model.CheckOccurrencePlace(d);
                if (!refused.empty()) {
                    for (const auto& kv : m_pending) {
                        auto old = before.find(kv.first);
                        if (old != before.end())
                            d.props[kv.first] = old->second;
                        else
                            d.props.erase(kv.first);
                    }
                    Fail(E_FAIL, refused);
                }
            }
            m_pending.clear();
            m_s->model.Save(m_item);
            m_snapshot = owner->version;
            return;
        }
        case Delete:
            m_s->model.Delete(m_item);
            return;
        case Close: {
            long mode = args.Long(0);
            for (auto& insp : m_s->inspectors) {
                if (insp->Item() == this) {
                    insp->CloseNow(mode == 0);
                    return;
                }
            }
            if (mode == 0)
                for (const auto& kv : m_pending) d.Set(kv.first, kv.second);
            m_pending.clear();
            if (mode == 0 && d.dirty) m_s->model.Save(m_item);
            return;
        }
        case Display:
            m_s->OpenInspector(m_item);
            return;
        case GetInspector: {
            for (auto& insp : m_s->inspectors)
                if (insp->Item() == this) return SetDispatch(result, insp.get());
            SetDispatch(result, m_s->OpenInspector(m_item).get());
            return;
        }
        case Forward:
            if (d.cls == olTask) NotFound();  // a task is assigned or sent a status report, not forwarded
            SetDispatch(result, NewMailFrom("FW: ").get());
            return;
        case ForwardAsVcal:
        case ForwardAsVcard: {
            if ((member == ForwardAsVcal) != (d.cls == olAppointment) ||
                (member == ForwardAsVcard && d.cls != olContact))
                NotFound();
            auto mail = NewMailFrom("");
            auto data = static_cast<CItem*>(mail.get())->Data();
            Attachment a;
            a.type = 1;
            a.position = 1;
            a.fileName = a.displayName = d.Subject() + (member == ForwardAsVcal ? ".vcs" : ".vcf");
            if (member == ForwardAsVcard) a.fileName = a.displayName = d.Get("FullName").AsText() + ".vcf";
            a.data = member == ForwardAsVcal ? VcalText(d) : VcardText(d);
            data->attachments.clear();
            data->attachments.push_back(a);
            SetDispatch(result, mail.get());
            return;
        }
        case Send: {
            if (d.cls != olMail) NotFound();
            if (d.recipients.empty()) Fail(E_FAIL, "Outlook does not recognize one or more names.");
            for (const auto& r : d.recipients)
                if (r.address.find('@') == std::string::npos)
                    Fail(E_FAIL, "Outlook does not recognize one or more names.");
            VARIANT item, cancelArg;
            VARIANT_BOOL cancel = VARIANT_FALSE;
            item.vt = VT_DISPATCH;
            item.pdispVal = this;
            cancelArg.vt = VT_BYREF | VT_BOOL;
            cancelArg.pboolVal = &cancel;
            m_s->app->FireAll(DISPID_ItemSend, {&item, &cancelArg});
            if (cancel != VARIANT_FALSE) return;
            std::string to;
            for (const auto& r : d.recipients) to += (to.empty() ? "" : "; ") + r.address;
            d.props["To"] = Value(to);
            // Submitted mail waits in the Outbox; online it is sent at once and moves to Sent Items.
            Folder* outbox = m_s->model.GetFolder(olFolderOutbox);
            if (!d.saved) {
                d.folder = outbox;
                m_s->model.Save(m_item);
            } else if (d.folder != outbox) {
                m_s->model.Move(m_item, outbox);
            }
            if (m_s->model.offline) {
                m_s->outboxQueue.push_back(m_item);
                return;
            }
            m_s->Transmit(m_item);
            return;
        }
        case GetRecurrencePattern: {
            if (d.cls != olAppointment) NotFound();
            auto series = d.series.lock();
            if (!series) {
                series = m_item;
                m_s->model.EnsureRecurrence(d);
            }
            SetDispatch(result, MakeSim<CRecurrencePattern>(m_s, series, m_snapshot).get());
            return;
        }
        case ClearRecurrencePattern:
            if (d.cls != olAppointment || d.isOccurrence()) NotFound();
            d.recurrence.reset();
            d.dirty = true;
            return;
        case Move: {
            auto* target = dynamic_cast<CFolder*>(static_cast<CSimObject*>(args.Dispatch(0)));
            if (!target) Fail(E_INVALIDARG, "A folder was expected");
            m_s->model.Move(m_item, target->GetFolder());
            SetDispatch(result, this);
            return;
        }
        case UserProperties:
            // An occurrence has no user properties of its own: they are the series'.
            SetDispatch(result, MakeSim<CUserProperties>(m_s, Owner()).get());
            return;
        case Recipients:
            SetDispatch(result, MakeSim<CRecipients>(m_item).get());
            return;
        case Attachments:
            SetDispatch(result, MakeSim<CAttachments>(m_item).get());
            return;
        case Application:
        case Session_:
            if (member == Session_) return SetDispatch(result, MakeSim<CNamespace>(m_s).get());
            SetDispatch(result, m_s->appRef.get());
            return;
        case Parent:
            if (!d.folder) NotFound();
            SetDispatch(result, MakeSim<CFolder>(m_s, d.folder).get());
            return;
        case Class:
            SetLong(result, d.cls);
            return;
        case EntryID:
            SetText(result, d.entryId);
            return;
        case IsRecurring:
            if (d.cls != olAppointment) NotFound();
            SetBool(result, d.IsRecurring());
            return;
        case RecurrenceState: {
            if (d.cls != olAppointment) NotFound();
            long state = 0;  // olApptNotRecurring
            if (d.recurrence)
                state = 1;  // olApptMaster
            else if (auto series = d.series.lock()) {
                state = 2;  // olApptOccurrence
                if (series->recurrence && series->recurrence->FindException(d.originalStart))
                    state = 3;  // olApptException
            }
            SetLong(result, state);
            return;
        }
        case Saved:
            SetBool(result, m_pending.empty() && !d.dirty && (d.saved || d.isOccurrence()));
            return;
        case Duration:
            if (d.cls != olAppointment) NotFound();
            SetLong(result, static_cast<long>(std::lround((d.Get("End").AsDate() - d.Get("Start").AsDate()) * 1440)));
            return;
        case Size:
            SetLong(result, static_cast<long>(d.Get("Body").AsText().size() + 512));
            return;
    }
    NotFound();
}

// ---------------------------------------------------------------------------------------------
// Session

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

// ---------------------------------------------------------------------------------------------
// SimOutlook

SimOutlook::SimOutlook() {
    NewSession();
}

void SimOutlook::NewSession() {
    m_firstSerial = NextSimSerial();
    m_session = std::make_shared<Session>();
    m_session->owner = this;
    m_host = std::make_unique<AddInHost>(*this);
    m_options = std::make_unique<OptionsDialog>(*this);
    m_word.reset();
    m_session->host = m_host.get();
    auto app = MakeSim<CApplication>(m_session);
    m_session->app = app.get();
    m_session->appRef = hv::com_ptr<IDispatch>(static_cast<IDispatch*>(app.get()));
    m_session->inspectorsObj = MakeSim<CInspectors>(m_session);
    // The explorer's bars outlast a restart, except the temporary ones.
    if (m_explorerBars) {
        auto& bars = m_explorerBars->bars;
        bars.erase(
            std::remove_if(bars.begin(), bars.end(), [](const std::shared_ptr<BarState>& b) { return b->temporary; }),
            bars.end());
        for (auto& b : bars) {
            auto& controls = b->controls;
            controls.erase(std::remove_if(controls.begin(), controls.end(),
                                          [](const std::shared_ptr<ControlState>& c) { return c->temporary; }),
                           controls.end());
        }
        m_session->barRegistry->Adopt(m_explorerBars);
    } else {
        m_explorerBars = m_session->barRegistry->NewSet("Explorer");
    }
    m_session->explorerBars = m_explorerBars;
    m_session->explorer = MakeSim<CExplorer>(m_session, m_session->model.GetFolder(olFolderInbox));
}

SimOutlook::~SimOutlook() {
    // An Outlook that loaded add-ins exits as Outlook does; one that never started them (most
    // tests) closes quietly, without raising Quit into sinks that may be gone by now.
    if (m_started)
        Quit();
    else
        Close();
    m_session->owner = nullptr;
    m_session->host = nullptr;
}

bool SimOutlook::HasQuit() const {
    return m_session->down;
}

size_t SimOutlook::StartAddIns() {
    CheckUp(*m_session);
    WriteCurVer(VersionMajor());
    m_started = true;
    size_t n = m_host->Start();
    FireStartup();
    return n;
}

void SimOutlook::Close() {
    if (m_session->down) return;
    m_options->Cancel();
    m_host->Shutdown();
    if (m_word) m_word->Shutdown();
    m_kept.clear();
    m_comAddIns.clear();
    m_session->Shutdown();
}

void SimOutlook::Quit() {
    if (m_session->down) return;
    m_options->Cancel();
    FireQuit();
    m_host->Shutdown();
    if (m_word) m_word->Shutdown();
    m_kept.clear();
    m_comAddIns.clear();
    m_session->Shutdown();
    m_leaks.clear();
    m_leakedRefs = 0;
    for (const auto& o : LiveSimObjects(m_firstSerial)) {
        m_leaks.push_back(o.type + ": " + std::to_string(o.refs) + " reference(s)");
        m_leakedRefs += static_cast<long>(o.refs);
    }
}

void SimOutlook::Restart() {
    Quit();
    std::string store = ModelToJson(m_session->model);
    auto clock = m_session->model.Clock();
    std::vector<std::string> leaks = m_leaks;
    long leaked = m_leakedRefs;
    m_session->owner = nullptr;
    m_session->host = nullptr;
    NewSession();
    if (clock) m_session->model.SetClock(clock);
    FromJson(store);
    m_leaks = std::move(leaks);
    m_leakedRefs = leaked;
    StartAddIns();
}

std::vector<std::pair<std::string, unsigned long>> SimOutlook::LiveObjects() const {
    std::vector<std::pair<std::string, unsigned long>> out;
    for (const auto& o : LiveSimObjects(m_firstSerial)) out.emplace_back(o.type, o.refs);
    return out;
}

std::string SimOutlook::InspectorRibbonId(const ItemData& item) {
    switch (item.cls) {
        case olMail:
            return item.entryId.empty() ? "Microsoft.Outlook.Mail.Compose" : "Microsoft.Outlook.Mail.Read";
        case olAppointment:
            return "Microsoft.Outlook.Appointment";
        case olContact:
            return "Microsoft.Outlook.Contact";
        case olTask:
            return "Microsoft.Outlook.Task";
        case 53:
            return "Microsoft.Outlook.MeetingRequest.Read";
        case 46:
            return "Microsoft.Outlook.Report";
        default:
            return "Microsoft.Outlook.Post.Read";
    }
}

bool SimOutlook::ClickRibbon(const std::string& controlId, const std::shared_ptr<ItemData>& inspectorItem,
                             std::string* error) {
    CheckUp(*m_session);
    if (!inspectorItem) {
        return m_host->ClickRibbon(controlId, "Microsoft.Outlook.Explorer", m_session->explorer.get(), error);
    }
    for (auto& insp : m_session->inspectors)
        if (insp->Item()->Data() == inspectorItem)
            return m_host->ClickRibbon(controlId, InspectorRibbonId(*inspectorItem), insp.get(), error);
    if (error) *error = "no inspector is open on that item";
    return false;
}

int SimOutlook::VersionMajor() const {
    return std::atoi(m_session->model.version.c_str());
}

void SimOutlook::SetVersion(int major) {
    static const std::pair<int, const char*> builds[] = {{9, "9.0.0.2711"},   {10, "10.0.0.2627"}, {11, "11.0.0.8169"},
                                                         {12, "12.0.0.6423"}, {14, "14.0.0.7015"}, {15, "15.0.0.4420"},
                                                         {16, "16.0.0.4266"}};
    std::string v = std::to_string(major) + ".0.0.0";
    for (const auto& b : builds)
        if (b.first == major) v = b.second;
    m_session->model.version = v;
    WriteCurVer(major);
}

WordHost& SimOutlook::Word() {
    if (!m_word) m_word = std::make_unique<WordHost>(*this, *m_session->barRegistry);
    return *m_word;
}

CommandBarSet& SimOutlook::ExplorerCommandBars() const {
    return *m_session->explorerBars;
}

std::shared_ptr<CommandBarSet> SimOutlook::InspectorCommandBars(const std::shared_ptr<ItemData>& item) const {
    auto& open = m_session->inspectors;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (!item || (*it)->Item()->Data() == item) return (*it)->Bars();
    return nullptr;
}

CommandBarRegistry& SimOutlook::CommandBars() const {
    return *m_session->barRegistry;
}

bool SimOutlook::ClickButton(const std::string& bar, const std::string& caption,
                             const std::shared_ptr<ItemData>& inspectorItem, bool* cancelDefault, std::string* error) {
    CheckUp(*m_session);
    std::shared_ptr<CommandBarSet> set = inspectorItem ? InspectorCommandBars(inspectorItem) : m_session->explorerBars;
    if (!set) {
        if (error) *error = "no inspector is open on that item";
        return false;
    }
    return m_session->barRegistry->Click(*set, bar, caption, cancelDefault, nullptr, error);
}

IDispatch* SimOutlook::ComAddInObject(size_t index) {
    if (m_comAddIns.size() < m_session->model.addIns.size()) m_comAddIns.resize(m_session->model.addIns.size());
    if (index >= m_comAddIns.size()) return nullptr;
    if (!m_comAddIns[index]) m_comAddIns[index] = hv::com_ptr<IDispatch>(MakeSim<CCOMAddIn>(m_session, index).get());
    return m_comAddIns[index].get();
}

IDispatch* SimOutlook::Application() const {
    return m_session->appRef.get();
}
Model& SimOutlook::GetModel() const {
    return m_session->model;
}
void SimOutlook::SetClock(std::function<DATE()> clock) {
    m_session->model.SetClock(std::move(clock));
}

EventDelivery& SimOutlook::Delivery() {
    return m_session->model.delivery;
}

bool SimOutlook::PumpEventsUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done && done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return done ? done() : true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::vector<std::shared_ptr<ItemData>> SimOutlook::SeedMany(long folderId, const std::vector<std::string>& subjects) {
    std::vector<std::shared_ptr<ItemData>> made;
    m_session->model.BeginBatch();
    try {
        for (const auto& subject : subjects) made.push_back(Seed(folderId, {{"Subject", Value(subject)}}));
    } catch (...) {
        m_session->model.EndBatch();
        throw;
    }
    m_session->model.EndBatch();
    return made;
}

std::shared_ptr<ItemData> SimOutlook::Seed(long folderId, std::initializer_list<std::pair<const char*, Value>> props) {
    Folder* f = m_session->model.GetFolder(folderId);
    if (!f) throw std::invalid_argument("no such folder");
    static const long classes[] = {olMail, olAppointment, olContact, olTask};
    auto item = m_session->model.NewItem(f, classes[f->DefaultItemType()]);
    for (const auto& kv : props) {
        std::string name = CanonicalProperty(item->cls, kv.first);
        if (name.empty()) throw std::invalid_argument(std::string("unknown property ") + kv.first);
        item->props[name] = kv.second.kind == Value::Text && ClassDefaults(item->cls).at(name).kind == Value::Date
                                ? Value::FromDate(kv.second.AsDate())
                                : kv.second;
    }
    m_session->model.Save(item);
    return item;
}

std::shared_ptr<ItemData> SimOutlook::SeedSeries(std::initializer_list<std::pair<const char*, Value>> props,
                                                 const Recurrence& r) {
    Folder* f = m_session->model.GetFolder(olFolderCalendar);
    auto item = m_session->model.NewItem(f, olAppointment);
    for (const auto& kv : props) {
        std::string name = CanonicalProperty(olAppointment, kv.first);
        if (name.empty()) throw std::invalid_argument(std::string("unknown property ") + kv.first);
        item->props[name] = kv.second;
    }
    item->recurrence = std::make_unique<Recurrence>(r);
    item->recurrence->patternStart = DayNumber(r.patternStart);
    if (r.occurrences > 0) item->recurrence->ApplyOccurrenceCount();
    m_session->model.Save(item);
    return item;
}

void SimOutlook::SetUserProperty(ItemData& item, const std::string& name, const Value& v, long type) {
    if (UserProperty* p = item.FindUserProp(name)) {
        p->value = v;
    } else {
        item.userProps.push_back(UserProperty{name, type, v});
        if (item.folder && !item.folder->HasUserField(name)) item.folder->UserFields().push_back(name);
    }
    item.dirty = true;
}

std::vector<std::shared_ptr<ItemData>> SimOutlook::Items(long folderId) const {
    Folder* f = m_session->model.GetFolder(folderId);
    return f ? f->Items() : std::vector<std::shared_ptr<ItemData>>();
}

std::shared_ptr<ItemData> SimOutlook::FindBySubject(long folderId, const std::string& subject) const {
    for (const auto& item : Items(folderId))
        if (item->Subject() == subject) return item;
    return nullptr;
}

std::shared_ptr<ItemData> SimOutlook::FindByEntryId(const std::string& entryId) const {
    return m_session->model.FindByEntryId(entryId);
}

IDispatch* SimOutlook::ItemObject(const std::shared_ptr<ItemData>& item) {
    // Kept alive by the session's record of the last objects handed to a test. A recurring item
    // is opened afresh each time, as GetItemFromID opens it, so that a test's copy is current.
    auto obj = item && item->IsRecurring() ? m_session->SnapshotObject(item) : m_session->ItemObject(item);
    m_kept.push_back(obj);
    return obj.get();
}

IDispatch* SimOutlook::OpenInspector(const std::shared_ptr<ItemData>& item) {
    return m_session->OpenInspector(item).get();
}

bool SimOutlook::CloseInspector(const std::shared_ptr<ItemData>& item, bool save) {
    auto& list = m_session->inspectors;
    if (list.empty()) return false;
    hv::com_ptr<CInspector> target = list.back();
    if (item) {
        target.reset();
        for (auto& insp : list)
            if (insp->Item()->Data() == item) target = insp;
        if (!target) return false;
    }
    return target->CloseNow(save);
}

size_t SimOutlook::InspectorCount() const {
    return m_session->inspectors.size();
}

void SimOutlook::EditAndSave(const std::shared_ptr<ItemData>& item,
                             std::initializer_list<std::pair<const char*, Value>> props) {
    for (const auto& kv : props) {
        std::string name = CanonicalProperty(item->cls, kv.first);
        if (name.empty()) throw std::invalid_argument(std::string("unknown property ") + kv.first);
        item->Set(name, kv.second);
    }
    m_session->model.Save(item);
}

void SimOutlook::Select(const std::vector<std::shared_ptr<ItemData>>& items) {
    m_session->selection = items;
    m_session->explorer->FireSelectionChange();
}

bool SimOutlook::SwitchFolder(long folderId) {
    Folder* f = m_session->model.GetFolder(folderId);
    if (!f) return false;
    return m_session->explorer->SwitchTo(f);
}

void SimOutlook::SetOffline(bool offline) {
    m_session->model.offline = offline;
    if (offline) return;
    // Back online: what waited in the Outbox goes out.
    std::vector<std::shared_ptr<ItemData>> queued;
    queued.swap(m_session->outboxQueue);
    for (auto& mail : queued)
        if (mail->folder == m_session->model.GetFolder(olFolderOutbox)) m_session->Transmit(mail);
}

void SimOutlook::SetExplorerOpen(bool open) {
    m_session->explorerOpen = open;
    if (HWND w = ExplorerWindow()) {
        if (!open) ::ShowWindow(w, SW_HIDE);
    }
}

bool SimOutlook::ActivateInspector(const std::shared_ptr<ItemData>& item) {
    for (auto& insp : m_session->inspectors)
        if (insp->Item()->Data() == item) {
            m_session->ActivateInspector(insp.get());
            return true;
        }
    return false;
}

bool SimOutlook::InspectorShown(const std::shared_ptr<ItemData>& item) const {
    auto& open = m_session->inspectors;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (!item || (*it)->Item()->Data() == item) return (*it)->shown;
    return false;
}

std::shared_ptr<ItemData> SimOutlook::SeedAs(long folderId, long cls,
                                             std::initializer_list<std::pair<const char*, Value>> props) {
    Folder* f = m_session->model.GetFolder(folderId);
    if (!f) throw std::invalid_argument("no such folder");
    auto item = m_session->model.NewItem(f, cls);
    for (const auto& kv : props) {
        std::string name = CanonicalProperty(item->cls, kv.first);
        if (name.empty()) throw std::invalid_argument(std::string("unknown property ") + kv.first);
        item->props[name] = kv.second.kind == Value::Text && ClassDefaults(item->cls).at(name).kind == Value::Date
                                ? Value::FromDate(kv.second.AsDate())
                                : kv.second;
    }
    m_session->model.Save(item);
    return item;
}
void SimOutlook::FireStartup() {
    m_session->app->FireAll(DISPID_Startup, {});
}
void SimOutlook::FireApplicationEvent(long dispid, std::vector<VARIANT*> args) {
    m_session->app->FireAll(dispid, args);
}
void SimOutlook::FireQuit() {
    m_session->app->FireAll(DISPID_Quit, {});
}

std::shared_ptr<ItemData> SimOutlook::ReceiveMail(std::initializer_list<std::pair<const char*, Value>> props) {
    auto mail = Seed(olFolderInbox, props);
    mail->props["ReceivedTime"] = Value::FromDate(m_session->model.Now());
    mail->props["UnRead"] = Value(true);
    m_session->app->FireAll(DISPID_NewMail, {});
    return mail;
}

HWND SimOutlook::ExplorerWindow() const {
    return m_session->explorer ? m_session->explorer->Window() : nullptr;
}

HWND SimOutlook::InspectorWindow(const std::shared_ptr<ItemData>& item) const {
    for (auto it = m_session->inspectors.rbegin(); it != m_session->inspectors.rend(); ++it)
        if (!item || (*it)->Item()->Data() == item) return (*it)->Window();
    return nullptr;
}

std::vector<AddInEntry>& SimOutlook::AddIns() {
    return m_session->model.addIns;
}

std::string SimOutlook::ToJson() const {
    return ModelToJson(m_session->model);
}

void SimOutlook::FromJson(const std::string& json) {
    // Open inspectors belong to the old store.
    while (!m_session->inspectors.empty()) m_session->inspectors.back()->CloseNow(false);
    m_session->selection.clear();
    ModelFromJson(m_session->model, json);
    m_session->explorer->SwitchTo(m_session->model.GetFolder(olFolderInbox));
}

bool SimOutlook::SaveFile(const std::string& path) const {
    std::ofstream out(Wide(path).c_str(), std::ios::binary);
    out << ToJson();
    return static_cast<bool>(out);
}

bool SimOutlook::LoadFile(const std::string& path) {
    std::ifstream in(Wide(path).c_str(), std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    FromJson(text.str());
    return true;
}

namespace {
std::vector<std::unique_ptr<SimOutlook>>& Registry() {
    static std::vector<std::unique_ptr<SimOutlook>> sessions;
    return sessions;
}
}  // namespace

HRESULT CreateOutlookApplication(IDispatch** application) try {
    if (!application) return E_POINTER;
    *application = nullptr;
    auto sim = std::make_unique<SimOutlook>();
    *application = sim->Application();
    (*application)->AddRef();
    Registry().push_back(std::move(sim));
    return S_OK;
}
CATCH_RETURN()

SimOutlook* SimFromApplication(IDispatch* application) {
    auto* app = dynamic_cast<CApplication*>(static_cast<CSimObject*>(application));
    if (!app) return nullptr;
    auto s = app->SessionRef().lock();
    return s ? s->owner : nullptr;
}

}  // namespace hvsim
