#include "common/DiagLog.h"

#include <atomic>
#include <cstring>
#include <new>

#include "common/Config.h"
#include "win/Errors.h"
#include "win/Files.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

const char kRoot[] = "Diagnostics";
const char kBaseName[] = "vxmDebug";
const char kCaption[] = "Vexmarl";

// Replacement of each byte in the XML form: null = copy unchanged, "" = drop.
struct EscapeTable {
    const char* entry[256];
    char refs[256][8];

    EscapeTable() {
        for (int c = 0; c < 256; ++c) {
            entry[c] = nullptr;
            refs[c][0] = '\0';
        }
        auto ref = [this](int c) {
            ::wsprintfA(refs[c], "&#%d;", c);
            entry[c] = refs[c];
        };
        for (int c = 0; c < 32; ++c) entry[c] = "";
        entry['\n'] = nullptr;
        entry['\r'] = nullptr;
        ref('\t');
        entry['"'] = "&quot;";
        entry['&'] = "&amp;";
        entry['<'] = "&lt;";
        entry['>'] = "&gt;";
        const int numeric[] = {33, 35, 36, 37, 39, 40, 41, 42, 43, 44, 45, 47, 58, 61, 63, 64};
        for (int c : numeric) ref(c);
        for (int c = 91; c <= 96; ++c) ref(c);
        for (int c = 123; c <= 127; ++c) ref(c);
        for (int c = 128; c < 256; ++c) entry[c] = "";
        // The typographic single quotes of code page 1252 become plain apostrophes.
        entry[145] = "&#39;";
        entry[146] = "&#39;";
    }
};

const EscapeTable& Table() {
    static const EscapeTable table;
    return table;
}

std::string AdvancedKeyPath() {
    return hv::Format("Software\\%s\\%s\\%s", CConfig::COMPANY_KEY, CConfig::PRODUCT_KEY, CConfig::ADVANCED_SUBKEY);
}

// Reads one number of the "Advanced" subkey without creating anything.
bool ReadSwitch(REGSAM access, const char* name, DWORD& value) {
    hv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, hv::ToWide(AdvancedKeyPath()).c_str(), 0, access, key.put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD data = 0;
    DWORD size = sizeof(data);
    std::wstring wname = hv::ToWide(name);
    if (::RegQueryValueExW(key.get(), wname.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(data))
        return false;
    value = data;
    return true;
}

std::atomic<CDiagLog*> g_failureTarget{nullptr};

void LogFailure(HRESULT hr, const char* file, int line) noexcept {
    CDiagLog* log = g_failureTarget.load();
    if (!log) return;
    char text[MAX_PATH + 64];
    ::wsprintfA(text, "0x%08lX at %.260s(%d)", static_cast<unsigned long>(hr), file ? file : "?", line);
    log->LogError(text);
}

}  // namespace

class CDiagLog::CLock {
public:
    explicit CLock(CRITICAL_SECTION& cs) noexcept : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~CLock() { ::LeaveCriticalSection(&m_cs); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

CDiagLog::CDiagLog(DWORD clearFlags) {
    ::InitializeCriticalSection(&m_cs);

    DWORD diagnose = 0;
    if (!ReadSwitch(KEY_READ, "Diagnose", diagnose) || diagnose != 1) return;
    m_fEnabled = true;
    m_fTimeStamp = true;

    m_pFormatBuf = new (std::nothrow) char[m_dwBufferSize];
    m_pEscapeBuf = new (std::nothrow) char[m_dwBufferSize];
    if (!m_pFormatBuf || !m_pEscapeBuf) {
        delete[] m_pFormatBuf;
        delete[] m_pEscapeBuf;
        m_pFormatBuf = m_pEscapeBuf = nullptr;
        m_fEnabled = false;
        m_fTimeStamp = false;
        return;
    }
    std::memset(m_pFormatBuf, 0, m_dwBufferSize);
    std::memset(m_pEscapeBuf, 0, m_dwBufferSize);

    DWORD output = OUT_DEFAULT;
    DWORD extra = 0;
    if (ReadSwitch(KEY_ALL_ACCESS, "Flags", extra)) output |= extra;
    output &= ~clearFlags;
    m_dwOutput = output;
    if (output & OUT_CONSOLE) OpenConsole();
    if (output & OUT_FILE) OpenFile();
    m_dwMask = REC_ALL;

    g_failureTarget.store(this);
    hv::FailureLogger() = &LogFailure;
}

CDiagLog::~CDiagLog() {
    CDiagLog* self = this;
    g_failureTarget.compare_exchange_strong(self, nullptr);
    CloseLog();
    ::DeleteCriticalSection(&m_cs);
}

void CDiagLog::Shutdown() noexcept {
    CDiagLog* self = this;
    g_failureTarget.compare_exchange_strong(self, nullptr);
    CloseLog();
}

void CDiagLog::CloseLog() {
    CLock lock(m_cs);
    // Off first: a caller on another thread that has not taken the lock yet drops its record.
    m_fEnabled = false;
    m_dwMask = 0;
    if (m_fConsoleAllocated) {
        ::FreeConsole();
        m_fConsoleAllocated = false;
    }
    m_hConsole = INVALID_HANDLE_VALUE;
    const DWORD output = m_dwOutput.load();
    if (m_fFileOpen && (output & OUT_FILE) && (output & OUT_XML)) AppendToFile(hv::Format("</%s>\n", kRoot).c_str());
    m_fFileOpen = false;
    delete[] m_pFormatBuf;
    delete[] m_pEscapeBuf;
    m_pFormatBuf = m_pEscapeBuf = nullptr;
}

void CDiagLog::OpenConsole() {
    if (m_hConsole != INVALID_HANDLE_VALUE) return;
    if (::AllocConsole()) {
        m_fConsoleAllocated = true;
        m_hConsole = ::GetStdHandle(STD_OUTPUT_HANDLE);
        COORD size = {80, 300};
        if (m_hConsole && m_hConsole != INVALID_HANDLE_VALUE) ::SetConsoleScreenBufferSize(m_hConsole, size);
    } else {
        // A console program already has one: echo to its standard output as it is.
        m_hConsole = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }
    if (!m_hConsole) m_hConsole = INVALID_HANDLE_VALUE;
}

void CDiagLog::OpenFile() {
    if (m_fFileOpen) return;
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    std::string stamp =
        hv::Format("%02d-%02d-%d %02d %02d %02d", st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond);
    const char* ext = (m_dwOutput & OUT_XML) ? "xml" : "txt";
    std::string temp = hv::TempFolder();
    std::string name = temp.empty() ? hv::Format("C:\\%s (%s).%s", kBaseName, stamp.c_str(), ext)
                                    : hv::Format("%s\\%s (%s).%s", temp.c_str(), kBaseName, stamp.c_str(), ext);
    if (name.size() > MAX_PATH) return;
    std::memcpy(m_szFileName, name.c_str(), name.size() + 1);

    hv::unique_hfile file(::CreateFileA(m_szFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    m_fFileOpen = true;
    std::string when =
        hv::Format("%02d/%02d/%d (%02d:%02d:%02d)", st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond);
    std::string header;
    if (m_dwOutput & OUT_XML)
        header = hv::Format("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%s><time>%s</time>", kRoot, when.c_str());
    else
        header = "=========================================\r\n" + hv::Format("Log Time: %s\r\n", when.c_str()) +
                 "=========================================\r\n";
    // A second session within the same second finds the file already there: append rather
    // than overwrite its beginning.
    ::SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(file.get(), header.data(), DWORD(header.size()), &written, nullptr);
}

void CDiagLog::AppendToFile(const char* text) {
    if (!m_fFileOpen || !text) return;
    hv::unique_hfile file(::CreateFileA(m_szFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    ::SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(file.get(), text, DWORD(std::strlen(text)), &written, nullptr);
}

void CDiagLog::WriteConsoleText(const char* text) {
    if (m_hConsole == INVALID_HANDLE_VALUE || !text) return;
    DWORD written = 0;
    // WriteFile serves a real console and a redirected standard output alike.
    ::WriteFile(m_hConsole, text, DWORD(std::strlen(text)), &written, nullptr);
}

void CDiagLog::Write(const char* text, DWORD dest, bool timeStamp) {
    if (!text || (m_dwOutput & dest) != dest) return;
    std::string piece = text;
    if (timeStamp) {
        SYSTEMTIME lt;
        ::GetLocalTime(&lt);
        std::string stamp =
            hv::Format("%04d-%02d-%02dT%02d:%02d:%02d", lt.wYear, lt.wMonth, lt.wDay, lt.wHour, lt.wMinute, lt.wSecond);
        size_t gt = piece.find('>');
        size_t colon = piece.find(": ");
        if (gt != std::string::npos)
            piece = piece.substr(0, gt) + " time=\"" + stamp + "\">" + piece.substr(gt + 1);
        else if (colon != std::string::npos)
            piece = piece.substr(0, colon + 2) + "(time=\"" + stamp + "\") " + piece.substr(colon + 2);
    }
    switch (dest) {
        case OUT_XML | OUT_FILE:
            AppendToFile(piece.c_str());
            break;
        case OUT_CONSOLE:
            WriteConsoleText(piece.c_str());
            break;
        case OUT_MSGBOX:
            ::MessageBoxA(nullptr, piece.c_str(), kCaption, MB_OK);
            break;
        default:
            break;
    }
}

size_t CDiagLog::EscapeText(const char* text, char* out, size_t outSize) noexcept {
    if (!out || outSize == 0) return 0;
    size_t n = 0;
    const EscapeTable& table = Table();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p; ++p) {
        const char* rep = table.entry[*p];
        if (!rep) {
            if (n + 1 >= outSize) break;
            out[n++] = char(*p);
        } else {
            size_t len = std::strlen(rep);
            if (n + len >= outSize) break;  // never half an entity
            std::memcpy(out + n, rep, len);
            n += len;
        }
    }
    out[n] = '\0';
    return n;
}

const char* CDiagLog::Escape(const char* text) {
    EscapeText(text, m_pEscapeBuf, m_dwBufferSize);
    return m_pEscapeBuf;
}

void CDiagLog::LogBlockEnter(const char* name) {
    if (!Wants(REC_BLOCK)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    const char* n = name ? name : "";
    Write("<block_enter>", OUT_XML | OUT_FILE, false);
    Write(Escape(n), OUT_XML | OUT_FILE, false);
    Write("</block_enter>", OUT_XML | OUT_FILE, false);
    Write(n, OUT_CONSOLE, false);
    Write(" {\n", OUT_CONSOLE, false);
    if (m_dwOutput & OUT_MSGBOX) Write(hv::Format("Entering %s!", n).c_str(), OUT_MSGBOX, false);
    ++m_lDepth;
}

void CDiagLog::LogBlockExit(const char* name) {
    if (!Wants(REC_BLOCK)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    const char* n = name ? name : "";
    --m_lDepth;
    Write("<block_exit>", OUT_XML | OUT_FILE, false);
    Write(Escape(n), OUT_XML | OUT_FILE, false);
    Write("</block_exit>", OUT_XML | OUT_FILE, false);
    Write("} ", OUT_CONSOLE, false);
    Write(n, OUT_CONSOLE, false);
    if (m_dwOutput & OUT_MSGBOX) Write(hv::Format("Exiting %s!", n).c_str(), OUT_MSGBOX, false);
}

void CDiagLog::LogError(const char* text) {
    if (!Wants(REC_ERROR)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    const char* t = text ? text : "";
    Write("<error><details>", OUT_XML | OUT_FILE, false);
    Write(Escape(t), OUT_XML | OUT_FILE, false);
    Write("</details></error>\n", OUT_XML | OUT_FILE, false);
    Write("ERROR: ", OUT_CONSOLE, false);
    Write(t, OUT_CONSOLE, false);
    Write("!\n", OUT_CONSOLE, false);
    if (m_dwOutput & OUT_MSGBOX) Write(hv::Format("ERROR: %s!", t).c_str(), OUT_MSGBOX, false);
}

void CDiagLog::LogWarning(const char* text) {
    if (!Wants(REC_WARNING)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    const char* t = text ? text : "";
    Write("<warning><details>", OUT_XML | OUT_FILE, false);
    Write(Escape(t), OUT_XML | OUT_FILE, false);
    Write("</details></warning>\n", OUT_XML | OUT_FILE, false);
    Write("WARNING: ", OUT_CONSOLE, false);
    Write(t, OUT_CONSOLE, false);
    Write("\n", OUT_CONSOLE, false);
    if (m_dwOutput & OUT_MSGBOX) Write(hv::Format("WARNING: %s", t).c_str(), OUT_MSGBOX, false);
}

void CDiagLog::LogComment(const char* text) {
    if (!Wants(REC_COMMENT)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    const char* t = text ? text : "";
    Write("<comment>", OUT_XML | OUT_FILE, m_fTimeStamp);
    Write(Escape(t), OUT_XML | OUT_FILE, false);
    Write("</comment>\n", OUT_XML | OUT_FILE, false);
    Write("Comment: ", OUT_CONSOLE, m_fTimeStamp);
    Write(t, OUT_CONSOLE, false);
    Write("\n", OUT_CONSOLE, false);
    Write(t, OUT_MSGBOX, false);
}

void CDiagLog::LogCommentFmt(const char* format, const char* arg) {
    if (!format || !arg || !Wants(REC_COMMENT)) return;
    // The critical section is re-entrant: the comment below takes it again on this thread.
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    if (std::strlen(format) + std::strlen(arg) > WSPRINTF_LIMIT)
        LogWarning("The follow comment might be truncated due to wsprintf limitation");
    // wsprintf writes at most 1,024 characters, well inside the buffer.
    ::wsprintfA(m_pFormatBuf, format, arg);
    std::string text = m_pFormatBuf;
    LogComment(text.c_str());
}

void CDiagLog::LogCommentNum(const char* format, long number) {
    if (!format || !Wants(REC_COMMENT)) return;
    CLock lock(m_cs);
    if (!m_fEnabled) return;
    ::wsprintfA(m_pFormatBuf, format, number);
    std::string text = m_pFormatBuf;
    LogComment(text.c_str());
}

CDiagLog& HvLog() {
    // Deliberately never destroyed (see the header); the process's end reclaims it.
    static CDiagLog* const log = new CDiagLog();
    return *log;
}

void HvLogShutdown() noexcept {
    HvLog().Shutdown();
}
