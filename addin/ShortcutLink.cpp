#include "addin/ShortcutLink.h"

#include <windows.h>

#include "common/Config.h"
#include "win/Strings.h"

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = strlen(prefix);
    return text.size() > n && _strnicmp(text.c_str(), prefix, n) == 0;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size, nullptr, nullptr);
    return out;
}

}  // namespace

std::string CShortcutLink::SiteBase() {
    std::string site;
    CConfig config;
    if (SUCCEEDED(config.GetKey(SITE_URL_VALUE, site))) {
        while (!site.empty() && site.back() == '/') site.pop_back();
        // Only a web address: the link carries the password's digest.
        if ((StartsWithNoCase(site, "http://") || StartsWithNoCase(site, "https://")) &&
            site.find_first_of("?#") == std::string::npos)
            return site;
    }
    return SITE_BASE_URL;
}

std::string CShortcutLink::UrlEncode(const std::string& ansi) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : Utf8(hv::ToWide(ansi))) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string CShortcutLink::Target(const std::string& base, const std::string& userName, const std::string& m,
                                  const std::string& rurl) {
    if (!userName.empty() && !m.empty())
        return hv::Format("%s/loginauth?username=%s&m=%s&rurl=%s", base.c_str(), UrlEncode(userName).c_str(),
                          UrlEncode(m).c_str(), UrlEncode(rurl).c_str());
    return hv::Format("%s%s", base.c_str(), rurl.c_str());
}
