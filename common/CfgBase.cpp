#include "common/CfgBase.h"

#include <cstring>
#include <vector>

#include "common/Blowfish.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "win/Errors.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

// Creates (or opens) a key with the store's class string.
HRESULT CreateKey(HKEY parent, const std::string& path, REGSAM access, hv::unique_hkey& key) {
    static const wchar_t kClass[] = L"Application Global Data";
    std::wstring wpath = hv::ToWide(path);
    LONG rc = ::RegCreateKeyExW(parent, wpath.c_str(), 0, const_cast<wchar_t*>(kClass), REG_OPTION_NON_VOLATILE, access,
                                nullptr, key.put(), nullptr);
    return rc == ERROR_SUCCESS ? S_OK : hv::HResultFromWin32(rc);
}

HRESULT QueryRaw(HKEY key, const char* name, BYTE* data, DWORD& size) {
    std::wstring wname = hv::ToWide(name ? name : "");
    LONG rc = ::RegQueryValueExW(key, wname.c_str(), nullptr, nullptr, data, &size);
    return rc == ERROR_SUCCESS ? S_OK : hv::HResultFromWin32(rc);
}

HRESULT SetRaw(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    std::wstring wname = hv::ToWide(name ? name : "");
    LONG rc = ::RegSetValueExW(key, wname.c_str(), 0, type, data, size);
    return rc == ERROR_SUCCESS ? S_OK : hv::HResultFromWin32(rc);
}

// A text value into a buffer of 256 characters: longer texts do not fit and read as missing.
HRESULT QueryText(HKEY key, const char* name, std::string& text) {
    // Room for 255 characters and the terminator; one more than the value ever holds keeps
    // the text terminated even when the stored value lacks its NUL.
    wchar_t buf[CCfgBase::TEXT_BUFFER_BYTES + 1] = {};
    DWORD size = CCfgBase::TEXT_BUFFER_BYTES * sizeof(wchar_t);
    RETURN_IF_FAILED(QueryRaw(key, name, reinterpret_cast<BYTE*>(buf), size));
    text = hv::ToAnsi(buf);  // up to the first NUL
    return S_OK;
}

DWORD RoundUp8(DWORD n) {
    return (n + 7) & ~DWORD(7);
}

}  // namespace

CCfgBase::CCfgBase() = default;

CCfgBase::~CCfgBase() = default;

std::string CCfgBase::GetKeyPath() {
    std::string company = hv::Format("Software\\%s", m_strCompany.c_str());
    std::string product = hv::Format("Software\\%s\\%s", m_strCompany.c_str(), m_strProduct.c_str());
    // The keys are made once per object: every read of a value asks for the path, and each
    // creation is a call into the registry.
    if (product == m_strKeyPath) return m_strKeyPath;
    hv::unique_hkey companyKey;
    if (SUCCEEDED(CreateKey(HKEY_CURRENT_USER, company, KEY_ALL_ACCESS, companyKey))) {
        hv::unique_hkey productKey;
        (void)CreateKey(companyKey.get(), m_strProduct, KEY_ALL_ACCESS, productKey);
    }
    m_strKeyPath = product;
    return m_strKeyPath;
}

void CCfgBase::SetKey(const char* name, const char* text) {
    CDiagLog& log = HvLog();
    log.LogCommentFmt("CCfgBase::SetKey: Name=%s", name);
    log.LogCommentFmt("CCfgBase::SetKey: Value=%s", text);
    hv::unique_hkey key;
    HRESULT hr = CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_ALL_ACCESS, key);
    if (SUCCEEDED(hr)) {
        std::wstring wtext = hv::ToWide(text ? text : "");
        hr = SetRaw(key.get(), name, REG_SZ, reinterpret_cast<const BYTE*>(wtext.c_str()),
                    DWORD((wtext.size() + 1) * sizeof(wchar_t)));
    }
    if (FAILED(hr)) log.LogError("CCfgBase::SetKey failed");
}

void CCfgBase::SetKey(const char* name, DWORD value) {
    CDiagLog& log = HvLog();
    log.LogCommentFmt("CCfgBase::SetKey: Name=%s", name);
    log.LogCommentNum("CCfgBase::SetKey: Value=%lu", long(value));
    hv::unique_hkey key;
    HRESULT hr = CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_ALL_ACCESS, key);
    if (SUCCEEDED(hr)) hr = SetRaw(key.get(), name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (FAILED(hr)) log.LogError("CCfgBase::SetKey failed");
}

void CCfgBase::SetKey(const char* name, const BYTE* data, DWORD size) {
    hv::unique_hkey key;
    HRESULT hr = CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_ALL_ACCESS, key);
    if (SUCCEEDED(hr)) hr = SetRaw(key.get(), name, REG_BINARY, data, size);
    if (FAILED(hr)) HvLog().LogError("CCfgBase::SetKey failed");
}

HRESULT CCfgBase::GetKey(const char* name, DWORD& value) {
    CDiagLog& log = HvLog();
    log.LogCommentFmt("CCfgBase::GetKey: Name=%s", name);
    try {
        hv::unique_hkey key;
        THROW_IF_FAILED(CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_READ, key));
        DWORD number = 0;
        DWORD size = sizeof(number);
        THROW_IF_FAILED(QueryRaw(key.get(), name, reinterpret_cast<BYTE*>(&number), size));
        // A shorter value is not a number of ours: treat it like a missing one.
        THROW_HR_IF(E_FAIL, size != sizeof(number));
        value = number;
        return S_OK;
    } catch (...) {
        log.LogComment("CCfgBase::GetKey Not Found");
        return E_FAIL;
    }
}

HRESULT CCfgBase::GetKey(const char* name, BYTE* data, DWORD& size) {
    if (data && size) std::memset(data, 0, size);
    try {
        hv::unique_hkey key;
        THROW_IF_FAILED(CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_READ, key));
        DWORD got = size;
        THROW_IF_FAILED(QueryRaw(key.get(), name, data, got));
        size = got;
        return S_OK;
    } catch (...) {
        HvLog().LogComment("CCfgBase::GetKey Not Found");
        return E_FAIL;
    }
}

HRESULT CCfgBase::GetKey(const char* name, std::string& text) {
    CDiagLog& log = HvLog();
    log.LogCommentFmt("CCfgBase::GetKey: Name=%s", name);
    try {
        hv::unique_hkey key;
        THROW_IF_FAILED(CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_READ, key));
        std::string value;
        THROW_IF_FAILED(QueryText(key.get(), name, value));
        text = value;
        log.LogCommentFmt("CCfgBase::GetKey: Value=%s", text);
        return S_OK;
    } catch (...) {
        log.LogComment("CCfgBase::GetKey Not Found");
        return E_FAIL;
    }
}

bool CCfgBase::EnsureCipher() {
    if (!m_pCipher) m_pCipher = CBlowfish::CreateSettingsCipher();
    return m_pCipher != nullptr;
}

HRESULT CCfgBase::WriteSecureKey(const char* name, const std::string& text) {
    std::wstring wide = hv::ToWide(text);
    DWORD bytes = DWORD(wide.size() * sizeof(wchar_t));
    if (bytes > SECURE_TEXT_BYTES) {
        // Cutting the text would store something the user never typed: refuse it whole.
        HvLog().LogError("CCfgBase::SetSecureKey: text too long, nothing written");
        return E_INVALIDARG;
    }
    if (!EnsureCipher()) {
        HvLog().LogError("CCfgBase::SetSecureKey: no cipher");
        return E_OUTOFMEMORY;
    }
    BYTE buf[SECURE_TEXT_BYTES] = {};
    std::memcpy(buf, wide.data(), bytes);
    DWORD size = RoundUp8(bytes);  // the tail of the last block is the zero fill
    m_pCipher->Encode(buf, size);
    hv::unique_hkey key;
    HRESULT hr = CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_ALL_ACCESS, key);
    if (SUCCEEDED(hr)) hr = SetRaw(key.get(), name, REG_BINARY, buf, size);
    ::SecureZeroMemory(buf, sizeof(buf));
    if (FAILED(hr)) HvLog().LogError("CCfgBase::SetKey failed");
    return hr;
}

void CCfgBase::SetSecureKey(const char* name, const std::string& text) {
    (void)WriteSecureKey(name, text);
}

HRESULT CCfgBase::GetSecureKey(const char* name, std::string& text) {
    if (!EnsureCipher()) return E_FAIL;
    BYTE raw[SECURE_READ_BYTES];
    DWORD size = sizeof(raw);
    RETURN_IF_FAILED(GetKey(name, raw, size));
    if (size > SECURE_TEXT_BYTES) {
        // More than we ever write: not a value of ours, and it would not fit the plain buffer.
        HvLog().LogError("CCfgBase::GetSecureKey: stored value too long");
        return E_FAIL;
    }
    BYTE plain[SECURE_TEXT_BYTES + 8] = {};
    m_pCipher->Decode(raw, plain, RoundUp8(size));
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(plain);
    size_t chars = 0;
    while (chars < SECURE_TEXT_BYTES / sizeof(wchar_t) && wide[chars]) ++chars;
    text = hv::ToAnsi(wide, chars);
    ::SecureZeroMemory(plain, sizeof(plain));
    ::SecureZeroMemory(raw, sizeof(raw));
    return S_OK;
}

DWORD CCfgBase::GetLogXML() {
    std::string path = GetKeyPath() + "\\" + CConfig::ADVANCED_SUBKEY;
    hv::unique_hkey key;
    if (FAILED(CreateKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key))) {
        HvLog().LogComment("CCfgBase::GetLogXML Access denied");
        return 0;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (FAILED(QueryRaw(key.get(), "LogXML", reinterpret_cast<BYTE*>(&value), size)) || size != sizeof(value)) {
        value = CConfig::DEF_LOG_XML;
        (void)SetRaw(key.get(), "LogXML", REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    return value;
}

HRESULT CCfgBase::GetCmdBarState(CMDBAR_STATE& state) {
    RETURN_IF_FAILED(GetKey("CmdBarTop", state.top));
    RETURN_IF_FAILED(GetKey("CmdBarLeft", state.left));
    RETURN_IF_FAILED(GetKey("CmdBarPos", state.position));
    RETURN_IF_FAILED(GetKey("CmdBarRowIndex", state.rowIndex));
    RETURN_IF_FAILED(GetKey("CmdBarVisible", state.visible));
    return S_OK;
}

unsigned short CCfgBase::GetPort() {
    DWORD ssl = CConfig::DEF_SSL;
    GetKey("SSL", ssl);
    return ssl == 0 ? CConfig::PORT_HTTP : CConfig::PORT_HTTPS;
}

HRESULT CCfgBase::GetServiceURL(std::string& url) {
    hv::unique_hkey key;
    if (FAILED(CreateKey(HKEY_CURRENT_USER, GetKeyPath(), KEY_ALL_ACCESS, key))) return E_FAIL;

    std::string host;
    if (FAILED(QueryText(key.get(), "Host", host))) {
        host = CConfig::m_strDefaultHost;
        SetKey("Host", host);
    }
    std::string path;
    if (FAILED(GetKey("ServicePortPath", path))) {
        path = CConfig::m_strDefaultPath;
        SetKey("ServicePortPath", path);
    }
    const char* form = GetPort() == CConfig::PORT_HTTPS ? "https://%s/%s" : "http://%s/%s";
    url = hv::Format(form, host.c_str(), path.c_str());
    return S_OK;
}

HRESULT CCfgBase::FindAddin(std::string& folder) {
    folder.clear();
    std::string path = "CLSID\\" + m_strClassId + "\\InprocServer32";
    hv::unique_hkey key;
    LONG rc = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, hv::ToWide(path).c_str(), 0, KEY_READ, key.put());
    wchar_t buf[FOLDER_BUFFER_CHARS + 1] = {};
    DWORD size = FOLDER_BUFFER_CHARS * sizeof(wchar_t);
    if (rc == ERROR_SUCCESS)
        rc = ::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    if (rc != ERROR_SUCCESS) {
        HvLog().LogError("CCfgBase::FindAddin failed");
        return E_FAIL;
    }
    std::string value = hv::ToAnsi(buf);
    if (!m_strLibrary.empty()) hv::ReplaceAll(value, m_strLibrary, "");
    folder = value;
    return S_OK;
}

void CCfgBase::DeleteAllSettings() {
    std::string path = GetKeyPath();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, hv::ToWide(path).c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, hv::ToWide(path).c_str());
}
