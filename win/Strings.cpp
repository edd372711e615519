#include "win/Strings.h"
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace hv {

std::wstring ToWide(const char* ansi) {
    if (!ansi || !*ansi) return std::wstring();
    int n = ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring ToWide(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0], n);
    return out;
}

std::string ToAnsi(const wchar_t* wide, size_t length) {
    if (!wide || length == 0) return std::string();
    int n = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

std::string ToAnsi(const wchar_t* wide) {
    return wide ? ToAnsi(wide, wcslen(wide)) : std::string();
}
std::string ToAnsi(const std::wstring& wide) {
    return ToAnsi(wide.data(), wide.size());
}

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string EscapeFiveSpecials(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatV(format, args);
    va_end(args);
    return out;
}

size_t ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return 0;
    size_t count = 0;
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
        ++count;
    }
    return count;
}

HINSTANCE ThisModule() noexcept {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

std::string LoadResString(UINT id) {
    // LoadStringW with a zero buffer length hands back a pointer into the resource itself.
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(ThisModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || !text) return std::string();
    return ToAnsi(text, static_cast<size_t>(n));
}

}  // namespace hv
