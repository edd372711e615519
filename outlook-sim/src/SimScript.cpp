#include "outlook-sim/src/SimScript.h"

#include <windows.h>

#include <sstream>

#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimWord.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"

namespace hvsim {

namespace {

long FolderByName(const std::string& name) {
    static const std::pair<const char*, long> names[] = {
        {"Inbox", olFolderInbox},   {"Calendar", olFolderCalendar}, {"Tasks", olFolderTasks},
        {"Sent", olFolderSentMail}, {"Contacts", olFolderContacts}, {"Deleted", olFolderDeletedItems}};
    for (const auto& n : names)
        if (_stricmp(n.first, name.c_str()) == 0) return n.second;
    char* end = nullptr;
    long id = std::strtol(name.c_str(), &end, 10);
    if (end && *end == 0 && id > 0) return id;
    throw ScriptError("unknown folder \"" + name + "\"");
}

// A descendant window by control id (pages nest their controls in dialogs of their own).
struct DescendantSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchDescendant(HWND hwnd, LPARAM p) {
    auto* s = reinterpret_cast<DescendantSearch*>(p);
    if (::GetDlgCtrlID(hwnd) != s->id) return TRUE;
    s->found = hwnd;
    return FALSE;
}

HWND FindDescendant(HWND root, int id) {
    DescendantSearch search = {id, nullptr};
    ::EnumChildWindows(root, &MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Need(const std::vector<std::string>& args, size_t n, const std::string& usage) {
    if (args.size() < n) throw ScriptError("usage: " + usage);
}

// Text as typed in the script, converted to the property's type.
Value Typed(const ItemData& item, const std::string& name, const std::string& text) {
    const auto& defaults = ClassDefaults(item.cls);
    auto it = defaults.find(name);
    if (it == defaults.end()) throw ScriptError("no property \"" + name + "\"");
    switch (it->second.kind) {
        case Value::Date: {
            DATE d = 0;
            if (text == "none") return Value::FromDate(kNoDate);
            if (!ParseDate(text, &d)) throw ScriptError("not a date: \"" + text + "\"");
            return Value::FromDate(d);
        }
        case Value::Bool:
            return Value(_stricmp(text.c_str(), "true") == 0 || text == "1");
        case Value::Long:
            return Value(std::strtol(text.c_str(), nullptr, 10));
        default:
            return Value(text);
    }
}

}  // namespace

std::vector<std::string> ScriptHost::Split(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') word += line[i++];
            if (i >= line.size()) throw ScriptError("unterminated quote");
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

std::shared_ptr<ItemData> ScriptHost::ItemInCurrentFolder(const std::string& subject) const {
    auto item = m_outlook.FindBySubject(m_folder, subject);
    if (!item) item = m_outlook.FindByEntryId(subject);
    if (!item) throw ScriptError("no item \"" + subject + "\" in the current folder");
    return item;
}

ScriptHost::ScriptHost(SimOutlook& o, std::ostream& log) : m_outlook(o), m_log(log) {
    Register("folder", "folder <Inbox|Calendar|Tasks|Sent|Contacts|number>",
             "switch the explorer to a folder (BeforeFolderSwitch, FolderSwitch, SelectionChange)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "folder NAME");
                 long id = FolderByName(a[0]);
                 if (!m_outlook.SwitchFolder(id))
                     m_log << "folder switch cancelled\n";
                 else
                     m_folder = id;
             });
    Register("select", "select <subject>...", "select items of the current folder (SelectionChange)",
             [this](const std::vector<std::string>& a) {
                 std::vector<std::shared_ptr<ItemData>> items;
                 for (const auto& s : a) items.push_back(ItemInCurrentFolder(s));
                 m_outlook.Select(items);
             });
    Register("open", "open <subject>", "open an inspector on the item (NewInspector)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "open SUBJECT");
                 m_outlook.OpenInspector(ItemInCurrentFolder(a[0]));
             });
    Register("set", "set <subject> <property> <value>",
             "change a property without saving (dates \"yyyy-mm-dd hh:mm\" or none)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 3, "set SUBJECT PROPERTY VALUE");
                 auto item = ItemInCurrentFolder(a[0]);
                 std::string name = CanonicalProperty(item->cls, a[1]);
                 item->Set(name, Typed(*item, name, a[2]));
             });
    Register("userprop", "userprop <subject> <name> <value>", "set a text user property without saving",
             [this](const std::vector<std::string>& a) {
                 Need(a, 3, "userprop SUBJECT NAME VALUE");
                 SimOutlook::SetUserProperty(*ItemInCurrentFolder(a[0]), a[1], Value(a[2]));
             });
    Register("save", "save <subject>", "save the item (ItemAdd or ItemChange)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "save SUBJECT");
                 m_outlook.GetModel().Save(ItemInCurrentFolder(a[0]));
             });
    Register("edit", "edit <subject> <property> <value>", "change a property and save (ItemChange)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 3, "edit SUBJECT PROPERTY VALUE");
                 auto item = ItemInCurrentFolder(a[0]);
                 std::string name = CanonicalProperty(item->cls, a[1]);
                 item->Set(name, Typed(*item, name, a[2]));
                 m_outlook.GetModel().Save(item);
             });
    Register("new", "new <subject> [class]",
             "create and save an item of the current folder's kind, or of the class (43 mail, 53 meeting request, 46 "
             "report ...) (ItemAdd)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "new SUBJECT [CLASS]");
                 if (a.size() > 1)
                     m_outlook.SeedAs(m_folder, std::strtol(a[1].c_str(), nullptr, 10), {{"Subject", Value(a[0])}});
                 else
                     m_outlook.Seed(m_folder, {{"Subject", Value(a[0])}});
             });
    Register("send", "send <subject> [address]...",
             "send the mail as MailItem.Send does (ItemSend, Outbox, Sent Items), adding the addresses as recipients",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "send SUBJECT [ADDRESS]...");
                 auto item = ItemInCurrentFolder(a[0]);
                 for (size_t i = 1; i < a.size(); ++i) item->recipients.push_back(Recipient{a[i], a[i], false});
                 IDispatch* mail = m_outlook.ItemObject(item);
                 hv::unique_variant ignored;
                 HRESULT hr = CDispatcher::CallMethod(mail, L"Send", ignored.put(), 0, nullptr);
                 if (FAILED(hr)) throw ScriptError("Send failed");
             });
    Register("explorer", "explorer <open|close>", "with the main window closed, ActiveExplorer is Nothing",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "explorer open|close");
                 m_outlook.SetExplorerOpen(a[0] == "open");
             });
    Register("activate", "activate <subject>", "bring the item's open inspector to the top (ActiveInspector)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "activate SUBJECT");
                 if (!m_outlook.ActivateInspector(ItemInCurrentFolder(a[0])))
                     throw ScriptError("no inspector is open on that item");
             });
    Register("delete", "delete <subject>", "delete the item (it moves to Deleted Items)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "delete SUBJECT");
                 m_outlook.GetModel().Delete(ItemInCurrentFolder(a[0]));
             });
    Register("close", "close [subject] [discard]",
             "close the inspector (ItemEvents Close), saving changes unless discard",
             [this](const std::vector<std::string>& a) {
                 std::shared_ptr<ItemData> item;
                 bool save = true;
                 for (const auto& w : a) {
                     if (w == "discard")
                         save = false;
                     else
                         item = ItemInCurrentFolder(w);
                 }
                 if (!m_outlook.CloseInspector(item, save)) throw ScriptError("no such inspector is open");
             });
    Register("offline", "offline <on|off>", "work offline or online (NameSpace.Offline)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "offline on|off");
                 m_outlook.SetOffline(a[0] == "on");
             });
    Register("startup", "startup", "raise the Application's Startup event",
             [this](const std::vector<std::string>&) { m_outlook.FireStartup(); });
    Register("newmail", "newmail <subject>", "a mail arrives in the Inbox (ItemAdd, NewMail)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "newmail SUBJECT");
                 m_outlook.ReceiveMail({{"Subject", Value(a[0])}});
             });
    Register("wait", "wait <milliseconds>", "let windows and timers run for a while",
             [](const std::vector<std::string>& a) {
                 Need(a, 1, "wait MILLISECONDS");
                 const ULONGLONG end = ::GetTickCount64() + std::strtoul(a[0].c_str(), nullptr, 10);
                 while (::GetTickCount64() < end) {
                     MSG msg;
                     while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                         ::TranslateMessage(&msg);
                         ::DispatchMessageW(&msg);
                     }
                     ::Sleep(10);
                 }
             });
    Register("screenshot", "screenshot <file.png|file.bmp>", "save a picture of the display",
             [](const std::vector<std::string>& a) {
                 Need(a, 1, "screenshot FILE");
                 if (!hv::uiauto::Automation::SaveScreenshot(a[0])) throw ScriptError("the screenshot failed");
             });
    Register("echo", "echo <text>...", "write the text to the output", [this](const std::vector<std::string>& a) {
        for (size_t i = 0; i < a.size(); ++i) m_log << (i ? " " : "") << a[i];
        m_log << "\n";
    });
    Register("quit", "quit",
             "exit Outlook: Quit, OnBeginShutdown, OnDisconnection(0), Release; report leaked references; stop",
             [this](const std::vector<std::string>&) {
                 m_outlook.Quit();
                 ReportLeaks();
                 m_quit = true;
             });
    Register("start", "start", "load the add-ins registered with LoadBehavior 3, then raise Startup",
             [this](const std::vector<std::string>&) {
                 size_t n = m_outlook.StartAddIns();
                 m_log << "add-ins connected: " << n << "\n";
             });
    Register("restart", "restart", "exit as quit does, then start again on the same store and load the add-ins",
             [this](const std::vector<std::string>&) {
                 m_outlook.Quit();
                 ReportLeaks();
                 m_outlook.Restart();
             });
    Register("connect", "connect <ProgID> <on|off>",
             "COMAddIns.Item(ProgID).Connect: a late load (OnConnection mode 0) or a user unload (OnDisconnection(1))",
             [this](const std::vector<std::string>& a) {
                 Need(a, 2, "connect PROGID on|off");
                 if (!m_outlook.Host().Connect(a[0], a[1] == "on"))
                     throw ScriptError("the add-in could not be connected");
             });
    Register("live", "live", "list the Outlook objects alive now with their reference counts (what add-ins hold)",
             [this](const std::vector<std::string>&) {
                 auto objects = m_outlook.LiveObjects();
                 m_log << "live objects: " << objects.size() << "\n";
                 for (const auto& o : objects) m_log << "live: " << o.first << " " << o.second << "\n";
             });
    Register("sinks", "sinks <tag>", "count the Click sinks connected to command bar controls with the Tag",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "sinks TAG");
                 m_log << "click sinks: " << m_outlook.CommandBars().ClickSinks(a[0]) << "\n";
             });
    Register("addins", "addins", "list the registered add-ins and their state",
             [this](const std::vector<std::string>&) {
                 for (const auto& st : m_outlook.Host().States())
                     m_log << st.progId << " " << st.hive << " LoadBehavior=" << st.loadBehavior
                           << (st.connected ? " connected" : " not loaded") << (st.error.empty() ? "" : " " + st.error)
                           << "\n";
             });
    Register("ribbon", "ribbon <control id> [subject]",
             "click a ribbon control of the explorer, or of the open inspector on the item (onAction)",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "ribbon CONTROL [SUBJECT]");
                 std::string error;
                 if (!m_outlook.ClickRibbon(a[0], a.size() > 1 ? ItemInCurrentFolder(a[1]) : nullptr, &error))
                     throw ScriptError(error);
             });
    Register("options", "options <open|select CAPTION|set CAPTION ID TEXT|click CAPTION ID|apply|ok|cancel>",
             "Tools / Options: open (OptionsPagesAdd, pages created and sited), pick a tab, type into or click a "
             "control of a page by id, press Apply, OK or Cancel",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "options open|select|set|click|apply|ok|cancel");
                 auto& dlg = m_outlook.Options();
                 const std::string& verb = a[0];
                 if (verb == "open") {
                     if (!dlg.Open()) throw ScriptError("the options dialog did not open");
                     for (const auto& e : dlg.Errors()) m_log << "outlook: " << e << "\n";
                     return;
                 }
                 if (!dlg.IsOpen()) throw ScriptError("the options dialog is not open");
                 if (verb == "select") {
                     Need(a, 2, "options select CAPTION");
                     if (!dlg.SelectTab(a[1])) throw ScriptError("no tab \"" + a[1] + "\"");
                 } else if (verb == "set" || verb == "click") {
                     Need(a, verb == "set" ? 4 : 3, "options set CAPTION ID TEXT | options click CAPTION ID");
                     HWND page = dlg.PageWindow(a[1]);
                     if (!page) throw ScriptError("no page \"" + a[1] + "\"");
                     HWND control = FindDescendant(page, std::atoi(a[2].c_str()));
                     if (!control) throw ScriptError("no control " + a[2] + " on the page");
                     if (verb == "set")
                         ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(a[3]).c_str()));
                     else
                         ::SendMessageW(control, BM_CLICK, 0, 0);
                 } else if (verb == "apply") {
                     dlg.Apply();
                 } else if (verb == "ok") {
                     dlg.Ok();
                 } else if (verb == "cancel") {
                     dlg.Cancel();
                 } else {
                     throw ScriptError("usage: options open|select|set|click|apply|ok|cancel");
                 }
             });
    Register(
        "button", "button <bar> <caption> [subject]",
        "click a command bar button of the explorer, or of the open inspector on the item (Click to every control "
        "with its Tag)",
        [this](const std::vector<std::string>& a) {
            Need(a, 2, "button BAR CAPTION [SUBJECT]");
            std::string error;
            bool cancel = false;
            if (!m_outlook.ClickButton(a[0], a[1], a.size() > 2 ? ItemInCurrentFolder(a[2]) : nullptr, &cancel, &error))
                throw ScriptError(error);
            if (cancel) m_log << "click: CancelDefault set\n";
        });
    Register("bars", "bars [subject]",
             "list the command bars and their buttons of the explorer or of the item's inspector",
             [this](const std::vector<std::string>& a) {
                 std::shared_ptr<CommandBarSet> set =
                     a.empty() ? nullptr : m_outlook.InspectorCommandBars(ItemInCurrentFolder(a[0]));
                 const CommandBarSet& bars = set ? *set : m_outlook.ExplorerCommandBars();
                 for (const auto& b : bars.bars) {
                     m_log << "bar \"" << b->name << "\" position=" << b->position << " row=" << b->rowIndex
                           << " top=" << b->top << " left=" << b->left << (b->visible ? " visible" : " hidden")
                           << (b->enabled ? "" : " disabled") << (b->temporary ? " temporary" : "") << "\n";
                     for (const auto& c : b->controls)
                         m_log << "  button \"" << c->caption << "\" tag=\"" << c->tag << "\" style=" << c->style
                               << (c->visible ? "" : " hidden") << (c->enabled ? "" : " disabled") << "\n";
                 }
             });
    Register("wordmail", "wordmail <on|off>", "Word edits mail: mail inspectors become Word windows",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "wordmail on|off");
                 m_outlook.SetWordMail(a[0] == "on");
             });
    Register("word", "word <start | activate SUBJECT on|off>",
             "Word as the mail editor: load Outlook's add-ins into Word, or activate the item's Word window "
             "(WindowActivate) with its envelope shown or hidden",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "word start | word activate SUBJECT on|off");
                 if (a[0] == "start") {
                     m_log << "word add-ins connected: " << m_outlook.Word().StartAddIns() << "\n";
                 } else if (a[0] == "activate") {
                     Need(a, 3, "word activate SUBJECT on|off");
                     m_outlook.Word().Activate(ItemInCurrentFolder(a[1]), a[2] == "on");
                 } else {
                     throw ScriptError("usage: word start | word activate SUBJECT on|off");
                 }
             });
    Register("outlookbar", "outlookbar [on|off]",
             "list the Outlook Bar's groups and shortcuts, or make the Outlook Bar available or not",
             [this](const std::vector<std::string>& a) {
                 auto& model = m_outlook.GetModel();
                 if (!a.empty()) {
                     model.outlookBar = a[0] == "on";
                     return;
                 }
                 if (!model.outlookBar) m_log << "no Outlook Bar\n";
                 for (const auto& g : model.outlookBarGroups) {
                     m_log << "group \"" << g->name << "\" viewType=" << g->viewType << "\n";
                     for (const auto& sc : g->shortcuts)
                         m_log << "  shortcut \"" << sc->name << "\" target=\"" << sc->target << "\" icon=\""
                               << sc->icon << "\"\n";
                 }
             });
    Register("version", "version <9|10|11|12|14|15|16>",
             "set the profile's Outlook version and HKCR\\Outlook.Application\\CurVer",
             [this](const std::vector<std::string>& a) {
                 Need(a, 1, "version N");
                 m_outlook.SetVersion(std::atoi(a[0].c_str()));
             });
}

void ScriptHost::Register(const std::string& name, const std::string& usage, const std::string& help, Handler handler) {
    for (auto& c : m_commands) {
        if (_stricmp(c.name.c_str(), name.c_str()) == 0) {
            c = Command{name, usage, help, std::move(handler)};
            return;
        }
    }
    m_commands.push_back(Command{name, usage, help, std::move(handler)});
}

void ScriptHost::RunLine(const std::string& line) {
    std::vector<std::string> words = Split(line);
    if (words.empty()) return;
    std::string name = words.front();
    words.erase(words.begin());
    for (const auto& c : m_commands) {
        if (_stricmp(c.name.c_str(), name.c_str()) == 0) {
            try {
                c.handler(words);
            } catch (...) {
                ReportMessages();
                throw;
            }
            ReportMessages();
            return;
        }
    }
    throw ScriptError("unknown command \"" + name + "\"");
}

void ScriptHost::ReportMessages() {
    auto& messages = m_outlook.Host().Messages();
    for (const auto& m : messages) m_log << "outlook: " << m << "\n";
    messages.clear();
}

void ScriptHost::ReportLeaks() {
    if (m_outlook.LeakReport().empty()) {
        m_log << "leaks: none\n";
        return;
    }
    m_log << "leaks: " << m_outlook.LeakedReferences() << " reference(s) still held on Outlook objects\n";
    for (const auto& l : m_outlook.LeakReport()) m_log << "leak: " << l << "\n";
}

void ScriptHost::RunText(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (!m_quit && std::getline(in, line)) {
        ++number;
        try {
            RunLine(line);
        } catch (const std::exception& e) {
            throw ScriptError("line " + std::to_string(number) + ": " + e.what());
        }
    }
}

std::string ScriptHost::Help() const {
    std::string out;
    for (const auto& c : m_commands) {
        std::string usage = c.usage;
        usage.resize(std::max<size_t>(usage.size() + 1, 38), ' ');
        out += "  " + usage + c.help + "\n";
    }
    return out;
}

}  // namespace hvsim
