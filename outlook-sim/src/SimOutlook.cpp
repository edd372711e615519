// SimOutlook: the tests' handle on one simulated Outlook, and the factory the host and COM
// activation use.
#include "outlook-sim/src/SimOutlook.h"

#include <fstream>
#include <sstream>

#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimApplication.h"
#include "outlook-sim/src/SimComAddIns.h"
#include "outlook-sim/src/SimExplorer.h"
#include "outlook-sim/src/SimItemWindow.h"
#include "outlook-sim/src/SimItem.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimSession.h"
#include "outlook-sim/src/SimWord.h"

namespace hvsim {

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
    if (!m_comAddIns[index]) m_comAddIns[index] = NewComAddIn(m_session, index);
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

bool SimOutlook::EventsPending() const {
    return !m_session->pending.empty() || !m_session->lateChanges.empty();
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
