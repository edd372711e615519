#pragma once
// The diagnostic log: off unless "Diagnose" (product key, subkey "Advanced") is exactly 1.
// When on, each record goes to an XML file in the temporary folder (opened and closed for every
// piece, so the file is complete at any moment), is echoed to a console, and optionally shown
// in a message box. One object per library, reached through HvLog().
#include <windows.h>
#include <atomic>
#include <string>

class CDiagLog {
public:
    // Output flags.
    enum : DWORD {
        OUT_XML = 1,
        OUT_FILE = 8,
        OUT_CONSOLE = 16,
        OUT_MSGBOX = 32,
        OUT_DEFAULT = 409,  // XML + file + console + 128 + 256 (the last two select nothing)
    };
    // Record mask.
    enum : DWORD {
        REC_ERROR = 1,
        REC_WARNING = 2,
        REC_COMMENT = 4,
        REC_BLOCK = 8,
        REC_ALL = 15,
    };
    enum { BUFFER_SIZE = 4096, WSPRINTF_LIMIT = 1024 };

    // Reads the switches from the registry. `clearFlags` removes output bits after "Flags" has
    // been merged in and before the console or the file is opened: the library passes 0, tests
    // use it to reach the text form or to stay off the console.
    explicit CDiagLog(DWORD clearFlags = 0);
    ~CDiagLog();
    CDiagLog(const CDiagLog&) = delete;
    CDiagLog& operator=(const CDiagLog&) = delete;

    void LogBlockEnter(const char* name);
    void LogBlockExit(const char* name);
    void LogError(const char* text);
    void LogWarning(const char* text);
    void LogComment(const char* text);
    void LogCommentFmt(const char* format, const char* arg);
    void LogCommentNum(const char* format, long number);

    void LogBlockEnter(const std::string& name) { LogBlockEnter(name.c_str()); }
    void LogBlockExit(const std::string& name) { LogBlockExit(name.c_str()); }
    void LogError(const std::string& text) { LogError(text.c_str()); }
    void LogWarning(const std::string& text) { LogWarning(text.c_str()); }
    void LogComment(const std::string& text) { LogComment(text.c_str()); }
    void LogCommentFmt(const char* format, const std::string& arg) { LogCommentFmt(format, arg.c_str()); }

    // Closes the file (its root element) and the console and turns the log off; later records
    // are dropped. The library calls it from its own shutdown, never from static destruction
    // or under the loader lock. Safe to call more than once.
    void Shutdown() noexcept;

    bool IsEnabled() const noexcept { return m_fEnabled.load(); }
    DWORD GetOutputFlags() const noexcept { return m_dwOutput.load(); }
    DWORD GetMask() const noexcept { return m_dwMask.load(); }
    long GetDepth() const noexcept { return m_lDepth; }
    bool IsFileOpen() const noexcept { return m_fFileOpen; }
    // Full path of the log file; empty until it has been opened.
    std::string GetFileName() const { return m_szFileName; }

    // XML escaping of one text into `out` of `outSize` bytes (NUL included). Stops cleanly
    // before a character whose replacement would not fit; returns the length written.
    static size_t EscapeText(const char* text, char* out, size_t outSize) noexcept;

private:
    class CLock;

    void OpenConsole();
    void OpenFile();
    void CloseLog();
    // Writes one piece to the destination(s) in `dest` (9 file, 16 console, 32 message box)
    // when all of its bits are set in the output flags.
    void Write(const char* text, DWORD dest, bool timeStamp);
    void AppendToFile(const char* text);
    void WriteConsoleText(const char* text);
    const char* Escape(const char* text);
    bool Wants(DWORD record) const noexcept { return m_fEnabled.load() && (m_dwMask.load() & record) != 0; }

    char m_szFileName[MAX_PATH + 1] = {};
    long m_lDepth = 0;
    bool m_fFileOpen = false;
    // Read without the lock by every caller's first check, from any thread.
    std::atomic<bool> m_fEnabled{false};
    bool m_fTimeStamp = false;
    DWORD m_dwBufferSize = BUFFER_SIZE;
    char* m_pFormatBuf = nullptr;
    char* m_pEscapeBuf = nullptr;
    std::atomic<DWORD> m_dwMask{0};
    std::atomic<DWORD> m_dwOutput{0};
    HANDLE m_hConsole = INVALID_HANDLE_VALUE;  // borrowed standard output, not closed
    bool m_fConsoleAllocated = false;
    CRITICAL_SECTION m_cs;
};

// The library's log, constructed on first use (never under the loader lock). It is never
// destroyed by static destruction, which runs under the loader lock when the library unloads:
// the library's shutdown closes it with HvLogShutdown().
CDiagLog& HvLog();
void HvLogShutdown() noexcept;

// A block of the diagnostic log that closes itself, also when an exception passes.
class CLogBlock {
public:
    explicit CLogBlock(const char* name) : m_name(name) { HvLog().LogBlockEnter(m_name); }
    ~CLogBlock() { HvLog().LogBlockExit(m_name); }
    CLogBlock(const CLogBlock&) = delete;
    CLogBlock& operator=(const CLogBlock&) = delete;

private:
    const char* m_name;
};
