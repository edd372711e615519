#include "Util.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace hvsvc {

namespace {

std::atomic<int64_t> g_clockOffset{0};

// Windows-1252 0x80..0x9F; 0 marks the five unassigned bytes (kept as the
// C1 code point).
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns its length or 0 when invalid.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

bool ValidDate(int y, int m, int d) {
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
    if (m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return false;
    return true;
}

std::string Format(int64_t t, const char* fmt) {
    time_t tt = static_cast<time_t>(t);
    struct tm tmv {};
    gmtime_r(&tt, &tmv);
    char buf[64];
    if (std::strcmp(fmt, "Z") == 0) {
        std::snprintf(buf, sizeof buf, "%d-%02d-%02dT%02d:%02d:%02dZ", tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
                      tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    } else {
        std::strftime(buf, sizeof buf, fmt, &tmv);
    }
    return buf;
}

std::string Digest(const EVP_MD* md, std::string_view data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) throw std::runtime_error("digest failed");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(len * 2);
    for (unsigned i = 0; i < len; ++i) {
        hex += kHex[out[i] >> 4];
        hex += kHex[out[i] & 15];
    }
    return hex;
}

}  // namespace

int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count() + g_clockOffset.load();
}
void SetClockOffset(int64_t seconds) {
    g_clockOffset = seconds;
}
int64_t ClockOffset() {
    return g_clockOffset.load();
}

std::string FormatTimeZ(int64_t t) {
    return Format(t, "Z");
}
std::string FormatTimeOffset(int64_t t) {
    return Format(t, "%Y-%m-%dT%H:%M:%S+00:00");
}
std::string FormatDate(int64_t t) {
    return Format(t, "%Y-%m-%d");
}

bool ParseTime(std::string_view s, int64_t& out) {
    std::string_view rest;
    int64_t days = 0;
    if (s.substr(0, 5) == "today") {
        size_t i = 5;
        int64_t n = 0;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            const bool neg = s[i] == '-';
            ++i;
            const size_t start = i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) n = n * 10 + (s[i++] - '0');
            if (i == start || n > 100000) return false;
            if (neg) n = -n;
        }
        days = Now() / 86400 + n;
        rest = s.substr(i);
        if (rest.empty()) {
            out = days * 86400;
            return true;
        }
        if (rest[0] != 'T' && rest[0] != ' ') return false;
        int hh, mi, ss;
        if (rest.size() != 9 || !Digits(rest, 1, 2, hh) || rest[3] != ':' || !Digits(rest, 4, 2, mi) ||
            rest[6] != ':' || !Digits(rest, 7, 2, ss) || hh > 23 || mi > 59 || ss > 60)
            return false;
        out = days * 86400 + hh * 3600 + mi * 60 + ss;
        return true;
    }
    int y, m, d;
    if (s.size() < 10 || !Digits(s, 0, 4, y) || s[4] != '-' || !Digits(s, 5, 2, m) || s[7] != '-' ||
        !Digits(s, 8, 2, d) || !ValidDate(y, m, d))
        return false;
    int64_t t = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) * 86400;
    if (s.size() == 10) {
        out = t;
        return true;
    }
    int hh, mi, ss;
    if (s.size() < 19 || (s[10] != 'T' && s[10] != ' ') || !Digits(s, 11, 2, hh) || s[13] != ':' ||
        !Digits(s, 14, 2, mi) || s[16] != ':' || !Digits(s, 17, 2, ss) || hh > 23 || mi > 59 || ss > 60)
        return false;
    t += hh * 3600 + mi * 60 + ss;
    std::string_view zone = s.substr(19);
    // Fractions of a second are accepted and dropped.
    if (!zone.empty() && zone[0] == '.') {
        size_t i = 1;
        while (i < zone.size() && std::isdigit(static_cast<unsigned char>(zone[i]))) ++i;
        if (i == 1) return false;
        zone = zone.substr(i);
    }
    if (zone.empty() || zone == "Z") {
        out = t;
        return true;
    }
    if (zone[0] != '+' && zone[0] != '-') return false;
    int oh, om;
    if (zone.size() == 6 && zone[3] == ':' && Digits(zone, 1, 2, oh) && Digits(zone, 4, 2, om)) {
    } else if (zone.size() == 5 && Digits(zone, 1, 2, oh) && Digits(zone, 3, 2, om)) {
    } else if (zone.size() == 3 && Digits(zone, 1, 2, oh)) {
        om = 0;
    } else {
        return false;
    }
    if (oh > 23 || om > 59) return false;
    const int64_t offset = oh * 3600 + om * 60;
    out = zone[0] == '+' ? t - offset : t + offset;
    return true;
}

bool ParseDateOnly(std::string_view text, std::string& out) {
    if (text.empty()) {
        out.clear();
        return true;
    }
    int64_t t;
    if (!ParseTime(text, t)) return false;
    // A date with a time of day keeps its own calendar date: the add-in sends
    // local dates, so no zone arithmetic is applied to the date part.
    if (text.size() >= 10 && text.substr(0, 5) != "today")
        out = std::string(text.substr(0, 10));
    else
        out = FormatDate(t);
    return true;
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        const size_t n = DecodeUtf8(s, i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string Cp1252ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0xA0) {
            const uint16_t cp = kCp1252High[c - 0x80];
            AppendUtf8(out, cp ? cp : c);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::string FixC1Controls(std::string_view s) {
    if (s.find('\xC2') == std::string_view::npos) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == 0xC2 && i + 1 < s.size()) {
            const auto n = static_cast<unsigned char>(s[i + 1]);
            if (n >= 0x80 && n < 0xA0 && kCp1252High[n - 0x80]) {
                AppendUtf8(out, kCp1252High[n - 0x80]);
                ++i;
                continue;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t n = DecodeUtf8(s, i, cp);
        if (n == 0) {
            out += '?';
            ++i;
            continue;
        }
        i += n;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k)
            if (kCp1252High[k] == cp || (kCp1252High[k] == 0 && cp == 0x80u + k)) mapped = static_cast<char>(0x80 + k);
        out += mapped;
    }
    return out;
}

void AppendXmlText(std::string& out, std::string_view s) {
    size_t plain = 0;  // start of the run not yet copied
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const char* rep = nullptr;
        switch (c) {
            case '&':
                rep = "&amp;";
                break;
            case '<':
                rep = "&lt;";
                break;
            case '>':
                rep = "&gt;";
                break;
            case '\r':
                rep = "&#13;";
                break;
            case '\t':
            case '\n':
                continue;
            default:
                if (c >= 0x20) continue;
                rep = "";
        }
        out.append(s.data() + plain, i - plain);
        out.append(rep);
        plain = i + 1;
    }
    out.append(s.data() + plain, s.size() - plain);
}

std::string HtmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
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
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UrlEncode(std::string_view s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string Md5Hex(std::string_view data) {
    return Digest(EVP_md5(), data);
}
std::string Sha256Hex(std::string_view data) {
    return Digest(EVP_sha256(), data);
}

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("no random bytes");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : raw) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    return hex;
}

bool ParseId(std::string_view text, int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace hvsvc
