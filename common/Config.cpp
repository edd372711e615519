#include "common/Config.h"

#include <cstring>

#include "common/DiagLog.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

std::string CConfig::m_strDefaultHost;
std::string CConfig::m_strDefaultPath;

CConfig::CConfig() {
    m_strCompany = COMPANY_KEY;
    m_strProduct = PRODUCT_KEY;
    m_strLibrary = ADDIN_LIBRARY;
    m_strProgID = ADDIN_PROGID;
    m_strFriendlyName = ADDIN_FRIENDLY_NAME;
    m_strClassId = ADDIN_CLSID;
    m_strDefaultHost = DEFAULT_HOST;
    m_strDefaultPath = DEFAULT_SERVICE_PATH;
}

DWORD CConfig::GetNumber(const char* name, DWORD defaultValue) {
    DWORD value = defaultValue;
    GetKey(name, value);
    return value;
}

DWORD CConfig::GetSyncSize() {
    return GetNumber("SyncSize", DEF_SYNC_SIZE) ? 1 : 0;
}
DWORD CConfig::GetSyncQuantum() {
    return GetNumber("SyncQuantum", DEF_SYNC_QUANTUM);
}
DWORD CConfig::GetSyncAtStartup() {
    return GetNumber("SyncAtStartup", DEF_SYNC_AT_STARTUP);
}
DWORD CConfig::GetAutoPush() {
    return GetNumber("AutoPush", DEF_AUTO_PUSH);
}
DWORD CConfig::GetSAXParsing() {
    return GetNumber("SAXParsing", DEF_SAX_PARSING);
}
DWORD CConfig::GetDeleteOutlookItems() {
    return GetNumber("DeleteOutlookItems", DEF_DELETE_OUTLOOK_ITEMS);
}
DWORD CConfig::GetDeleteHVItems() {
    return GetNumber("DeleteHVItems", DEF_DELETE_HV_ITEMS);
}
DWORD CConfig::GetMaxOccurrences() {
    return GetNumber("MaxOccurrences", DEF_MAX_OCCURRENCES);
}
DWORD CConfig::GetRecurrenceWindow() {
    return GetNumber("RecurrenceWindow", DEF_RECURRENCE_WINDOW);
}
DWORD CConfig::GetHashVersion() {
    return GetNumber("HashVersion", DEF_HASH_VERSION);
}
DWORD CConfig::GetTimeout() {
    return GetNumber("Timeout", DEF_TIMEOUT);
}

DWORD CConfig::GetStaleAfter(const char* typeWord) {
    return GetNumber(hv::Format("%sStaleAfter", typeWord ? typeWord : "").c_str(), DEF_STALE_AFTER);
}

DWORD CConfig::GetPurgeHV(const char* typeWord) {
    return GetNumber(hv::Format("PurgeHV%ss", typeWord ? typeWord : "").c_str(), DEF_PURGE_HV);
}

void CConfig::SetSyncSize(DWORD value) {
    SetKey("SyncSize", value);
}
void CConfig::SetHashVersion(DWORD value) {
    SetKey("HashVersion", value);
}
void CConfig::SetSyncQuantum(DWORD value) {
    SetKey("SyncQuantum", value);
}
void CConfig::SetSyncAtStartup(DWORD value) {
    SetKey("SyncAtStartup", value);
}
void CConfig::SetAutoPush(DWORD value) {
    SetKey("AutoPush", value);
}
void CConfig::SetDeleteOutlookItems(DWORD value) {
    SetKey("DeleteOutlookItems", value);
}
void CConfig::SetDeleteHVItems(DWORD value) {
    SetKey("DeleteHVItems", value);
}

std::string CConfig::NowStamp() {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    return hv::Format("%d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

void CConfig::SetLastSync(const char* typeWord) {
    SetKey(hv::Format("Last%sSync", typeWord ? typeWord : "").c_str(), NowStamp());
}

HRESULT CConfig::GetLastSync(const char* typeWord, std::string& text) {
    return GetKey(hv::Format("Last%sSync", typeWord ? typeWord : "").c_str(), text);
}

void CConfig::SetLastDownload(const char* typeWord, const std::string& stamp) {
    SetKey(hv::Format("Last%sDownload", typeWord ? typeWord : "").c_str(), stamp);
}

HRESULT CConfig::GetLastDownload(const char* typeWord, std::string& text) {
    return GetKey(hv::Format("Last%sDownload", typeWord ? typeWord : "").c_str(), text);
}

void CConfig::SetLastCategory(const char* typeWord, const std::string& text) {
    SetKey(hv::Format("Last%sCategory", typeWord ? typeWord : "").c_str(), text);
}

HRESULT CConfig::GetLastCategory(const char* typeWord, std::string& text) {
    return GetKey(hv::Format("Last%sCategory", typeWord ? typeWord : "").c_str(), text);
}

void CConfig::SetLastWorkspace(const char* typeWord, const std::string& text) {
    SetKey(hv::Format("Last%sWorkspace", typeWord ? typeWord : "").c_str(), text);
}

HRESULT CConfig::GetLastWorkspace(const char* typeWord, std::string& text) {
    return GetKey(hv::Format("Last%sWorkspace", typeWord ? typeWord : "").c_str(), text);
}

HRESULT CConfig::SetCredentials(const std::string& user, const std::string& password) {
    std::string text = user + '\t' + password;
    if (hv::ToWide(text).size() > MAX_CREDENTIAL_CHARS) {
        // The store holds 128 characters; a cut password would only fail later at login.
        HvLog().LogError("CConfig::SetCredentials: user name and password longer than 128 characters, not stored");
        return E_INVALIDARG;
    }
    return WriteSecureKey("Credentials", text);
}

HRESULT CConfig::GetCredentials(std::string& user, std::string& password) {
    std::string text;
    HRESULT hr = GetSecureKey("Credentials", text);
    if (FAILED(hr)) return hr;
    size_t tab = text.find('\t');
    if (tab == std::string::npos) return E_FAIL;
    user = text.substr(0, tab);
    password = text.substr(tab + 1);
    return S_OK;
}

UINT CConfig::GetRibbonResource(const char* ribbonId) {
    if (!ribbonId) return 0;
    if (std::strcmp(ribbonId, "Microsoft.Outlook.Mail.Read") == 0) return IDR_RIBBON_MAIL_READ;
    if (std::strcmp(ribbonId, "Microsoft.Outlook.Appointment") == 0) return IDR_RIBBON_APPOINTMENT;
    if (std::strcmp(ribbonId, "Microsoft.Outlook.Task") == 0) return IDR_RIBBON_TASK;
    if (std::strcmp(ribbonId, "Microsoft.Outlook.Explorer") == 0) return IDR_RIBBON_EXPLORER;
    return 0;
}

UINT CConfig::GetImageResource() {
    return IDR_RIBBON_IMAGE;
}

// ---- Pending links ------------------------------------------------------------------------------

namespace {
constexpr const char* kPendingLinks = "Pending Links";
}

namespace {

void SetListed(const std::string& keyPath, const char* list, const char* typeWord, const std::string& entryId,
               const std::string& value) {
    const std::wstring path = hv::ToWide(keyPath + "\\" + list);
    const std::wstring name = hv::ToWide(std::string(typeWord) + " " + entryId);
    const std::wstring data = hv::ToWide(value);
    const LSTATUS status = ::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), REG_SZ, data.c_str(),
                                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) HvLog().LogError(std::string("CConfig: could not store under ") + list);
}

void ClearListed(const std::string& keyPath, const char* list, const char* typeWord, const std::string& entryId) {
    const std::wstring path = hv::ToWide(keyPath + "\\" + list);
    const std::wstring name = hv::ToWide(std::string(typeWord) + " " + entryId);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str());
}

std::map<std::string, std::string> GetListed(const std::string& keyPath, const char* list, const char* typeWord) {
    std::map<std::string, std::string> values;
    const std::wstring path = hv::ToWide(keyPath + "\\" + list);
    hv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return values;
    const std::string prefix = std::string(typeWord) + " ";
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        wchar_t data[256];
        DWORD nameLength = 1024, dataSize = sizeof(data) - sizeof(wchar_t), type = 0;
        const LSTATUS status = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        const std::string text = hv::ToAnsi(std::wstring(name, nameLength));
        if (text.compare(0, prefix.size(), prefix) != 0) continue;
        values[text.substr(prefix.size())] = hv::ToAnsi(data);
    }
    return values;
}

}  // namespace

void CConfig::SetPendingLink(const char* typeWord, const std::string& entryId, const std::string& recordId) {
    SetListed(GetKeyPath(), kPendingLinks, typeWord, entryId, recordId);
}

void CConfig::ClearPendingLink(const char* typeWord, const std::string& entryId) {
    ClearListed(GetKeyPath(), kPendingLinks, typeWord, entryId);
}

std::map<std::string, std::string> CConfig::GetPendingLinks(const char* typeWord) {
    return GetListed(GetKeyPath(), kPendingLinks, typeWord);
}

// ---- Attempted creates --------------------------------------------------------------------------

namespace {
constexpr const char* kPendingCreates = "Pending Creates";
}

void CConfig::SetPendingCreate(const char* typeWord, const std::string& entryId, const std::string& stamp,
                               const std::string& fingerprint) {
    SetListed(GetKeyPath(), kPendingCreates, typeWord, entryId, stamp + " " + fingerprint);
}

void CConfig::ClearPendingCreate(const char* typeWord, const std::string& entryId) {
    ClearListed(GetKeyPath(), kPendingCreates, typeWord, entryId);
}

std::map<std::string, CConfig::CPendingCreate> CConfig::GetPendingCreates(const char* typeWord) {
    std::map<std::string, CPendingCreate> creates;
    for (const auto& value : GetListed(GetKeyPath(), kPendingCreates, typeWord)) {
        const size_t space = value.second.find(' ');
        if (space == std::string::npos) continue;
        creates[value.first] = CPendingCreate{value.second.substr(0, space), value.second.substr(space + 1)};
    }
    return creates;
}
