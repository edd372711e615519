// COutAddIn's Outlook Bar group: a "Halvane" group with shortcuts to the product web site's
// dashboard, task list and calendar, rebuilt at every start and whenever the stored credentials
// change so that it carries the current ones, and removed again at shutdown.
#include "addin/OutAddIn.h"

#include <memory>

#include "addin/SettingsWatch.h"
#include "addin/ShortcutLink.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "sync/Hash.h"
#include "win/Dispatcher.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

constexpr const char* SHORTCUT_GROUP = "Halvane";
constexpr LONG SHORTCUT_GROUP_VIEW = 2;

struct SHORTCUT_DEF {
    const char* name;
    const char* rurl;
    const char* icon;
};
// Each is inserted at the top, so the group reads Dashboard, My Tasks, My Calendar.
const SHORTCUT_DEF s_shortcuts[] = {
    {"My Calendar", "/home/index?mycalendar", "Calendar.ico"},
    {"My Tasks", "/home/index?mytasks", "Task.ico"},
    {"Dashboard", "/home/index", "Halvane.ico"},
};

// Reads a property that must give an object.
HRESULT GetChild(IDispatch* object, const wchar_t* name, hv::unique_variant& out) {
    HRESULT hr = CDispatcher::GetProperty(object, name, out.put());
    if (SUCCEEDED(hr) && !out.AsDispatch()) hr = E_POINTER;
    return hr;
}

// Calls collection.Item(key), which must give an object.
HRESULT GetItem(IDispatch* collection, hv::unique_variant key, hv::unique_variant& out) {
    HRESULT hr = CDispatcher::CallMethod(collection, L"Item", out.put(), 1, &key);
    if (SUCCEEDED(hr) && !out.AsDispatch()) hr = E_POINTER;
    return hr;
}

// The stored user name and the password's digest the login links carry; both empty without
// stored credentials.
void LinkCredentials(std::string& userName, std::string& m) {
    std::string password;
    userName.clear();
    m.clear();
    CConfig config;
    if (FAILED(config.GetCredentials(userName, password)) || userName.empty() || password.empty()) {
        userName.clear();
        return;
    }
    CHash hash;
    if (hash.Compute(password.c_str(), 0, m) != 0) m.clear();
}

// What the group's links are made of: the site, the user and the digest.
std::string LinkStamp(const std::string& userName, const std::string& m) {
    return CShortcutLink::SiteBase() + '\n' + userName + '\n' + m;
}

}  // namespace

void COutAddIn::AddSortcuts() {
    CLogBlock block("COutAddIn::AddSortcuts");
    std::string userName, m;
    LinkCredentials(userName, m);
    std::string folder;
    {
        CConfig config;
        if (FAILED(config.FindAddin(folder))) folder.clear();
    }

    // Explorer.Panes.Item("OutlookBar").Contents.Groups; an Outlook without the bar stops here.
    hv::unique_variant explorer, panes, pane, contents, groups;
    if (FAILED(GetChild(m_pApplication, L"ActiveExplorer", explorer)) ||
        FAILED(GetChild(explorer.AsDispatch(), L"Panes", panes)) ||
        FAILED(GetItem(panes.AsDispatch(), hv::unique_variant::FromString("OutlookBar"), pane)) ||
        FAILED(GetChild(pane.AsDispatch(), L"Contents", contents)) ||
        FAILED(GetChild(contents.AsDispatch(), L"Groups", groups)))
        return;
    if (m_pShortcutGroups) m_pShortcutGroups->Release();
    m_pShortcutGroups = groups.AsDispatch();
    m_pShortcutGroups->AddRef();

    // A group that a crash left behind carries old credentials.
    RemoveShortcuts();

    hv::unique_variant group;
    if (FAILED(GetItem(m_pShortcutGroups, hv::unique_variant::FromString(SHORTCUT_GROUP), group))) {
        group.reset();
        hv::unique_variant count;
        if (FAILED(CDispatcher::GetProperty(m_pShortcutGroups, L"Count", count.put()))) return;
        if (FAILED(::VariantChangeType(&count, &count, 0, VT_I4))) return;
        hv::unique_variant args[2] = {hv::unique_variant::FromLong(count.lVal + 1),
                                      hv::unique_variant::FromString(SHORTCUT_GROUP)};
        if (FAILED(CDispatcher::CallMethod(m_pShortcutGroups, L"Add", group.put(), 2, args)) || !group.AsDispatch())
            return;
        hv::unique_variant viewType;
        viewType.vt = VT_INT;
        viewType.intVal = SHORTCUT_GROUP_VIEW;
        LOG_IF_FAILED(CDispatcher::PutProperty(group.AsDispatch(), L"ViewType", &viewType));
    }

    hv::unique_variant shortcuts;
    if (FAILED(GetChild(group.AsDispatch(), L"Shortcuts", shortcuts))) return;
    for (const SHORTCUT_DEF& def : s_shortcuts)
        AddOneShortcut(shortcuts.AsDispatch(), userName, m, def.rurl, def.name, folder + def.icon);
    m_strShortcutStamp = LinkStamp(userName, m);

    // Credentials stored while Outlook runs (the options page, a login that keeps the new pair)
    // would leave the links signing in the old user: the settings key is watched for them.
    if (!m_pSettingsWatch) {
        auto watch = std::make_unique<CSettingsWatch>();
        if (SUCCEEDED(LOG_IF_FAILED(watch->Start(CConfig().GetKeyPath(), [this] { RefreshShortcuts(); }))))
            m_pSettingsWatch = std::move(watch);
    }
}

void COutAddIn::RefreshShortcuts() {
    if (!m_pShortcutGroups) return;
    std::string userName, m;
    LinkCredentials(userName, m);
    if (LinkStamp(userName, m) == m_strShortcutStamp) return;
    // A synchronisation or an Add in progress has Outlook's windows; the group waits for its end.
    if (m_fOperation) {
        m_pSettingsWatch->Retry(1000);
        return;
    }
    HvLog().LogComment("COutAddIn::RefreshShortcuts: the stored credentials changed");
    AddSortcuts();
}

void COutAddIn::AddOneShortcut(IDispatch* shortcuts, const std::string& userName, const std::string& m,
                               const std::string& rurl, const std::string& name, const std::string& iconPath) {
    CLogBlock block("COutAddIn::AddOneShortcut");
    {
        hv::unique_variant existing;
        if (SUCCEEDED(GetItem(shortcuts, hv::unique_variant::FromString(name), existing))) return;
    }
    const std::string target = CShortcutLink::Target(CShortcutLink::SiteBase(), userName, m, rurl);
    hv::unique_variant args[3] = {hv::unique_variant::FromLong(1), hv::unique_variant::FromString(name),
                                  hv::unique_variant::FromString(target)};
    hv::unique_variant shortcut;
    if (FAILED(CDispatcher::CallMethod(shortcuts, L"Add", shortcut.put(), 3, args)) || !shortcut.AsDispatch()) return;
    // A missing icon leaves the shortcut with Outlook's own.
    hv::unique_variant icon = hv::unique_variant::FromString(iconPath);
    CDispatcher::CallMethod(shortcut.AsDispatch(), L"SetIcon", nullptr, 1, &icon);
}

void COutAddIn::RemoveShortcuts() {
    CLogBlock block("COutAddIn::RemoveShortcuts");
    if (!m_pShortcutGroups) return;
    hv::unique_variant count;
    if (FAILED(CDispatcher::GetProperty(m_pShortcutGroups, L"Count", count.put())) ||
        FAILED(::VariantChangeType(&count, &count, 0, VT_I4)))
        return;
    // Only the first group of that name goes; a second one waits for the next call.
    for (LONG i = 1; i <= count.lVal; ++i) {
        hv::unique_variant group, name;
        if (FAILED(GetItem(m_pShortcutGroups, hv::unique_variant::FromLong(i), group)) ||
            FAILED(CDispatcher::GetProperty(group.AsDispatch(), L"Name", name.put())))
            return;
        if (name.vt == VT_BSTR && name.bstrVal && wcscmp(name.bstrVal, hv::ToWide(SHORTCUT_GROUP).c_str()) == 0) {
            hv::unique_variant index = hv::unique_variant::FromLong(i);
            LOG_IF_FAILED(CDispatcher::CallMethod(m_pShortcutGroups, L"Remove", nullptr, 1, &index));
            return;
        }
    }
}
