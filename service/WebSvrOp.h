#pragma once
// The base of every SOAP call: the HTTP exchange over the shared connection, split into six
// steps that a dialog can drive one at a time or that run in one call, the SOAP fault check,
// the debug copy of the XML and the progress texts of the steps. A derived operation supplies
// PrepareData (writes the request) and ParseResponse (reads the answer).
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include "common/Config.h"
#include "service/WinInet.h"
#include "service/XMLDoc.h"
#include "win/UniqueAny.h"

// Result codes of an exchange beyond E_FAIL.
constexpr HRESULT HV_E_HTTP_STATUS = static_cast<HRESULT>(0x80010105);
constexpr HRESULT HV_E_CONNECTION = static_cast<HRESULT>(0x80040205);
// The user cancelled the login dialog: a failure, whose code is ERROR_CANCELLED (1223).
constexpr HRESULT HV_E_LOGIN_CANCELLED = static_cast<HRESULT>(0x800704C7);

// The settings an exchange reads. While a CWebSvrSettingsScope lives (a synchronisation run, whose
// exchanges come one after the other), the exchanges made on its thread take them from the
// registry as it was when the scope began, instead of reading them again for every exchange.
struct CWebSvrSettings {
    DWORD logXml = 0;
    unsigned short port = 0;
    DWORD timeout = 0;
    HRESULT serviceUrlResult = E_FAIL;
    std::string serviceUrl;
};
class CWebSvrSettingsScope {
public:
    CWebSvrSettingsScope();
    ~CWebSvrSettingsScope();
    CWebSvrSettingsScope(const CWebSvrSettingsScope&) = delete;
    CWebSvrSettingsScope& operator=(const CWebSvrSettingsScope&) = delete;

private:
    CWebSvrSettings m_settings;
    const CWebSvrSettings* m_pOuter;
};
// The settings of the innermost scope on this thread, or null.
const CWebSvrSettings* ScopedWebSvrSettings() noexcept;

class CWebSvrOp : public CParseXML {
public:
    explicit CWebSvrOp(const std::string& url);
    virtual ~CWebSvrOp();
    CWebSvrOp(const CWebSvrOp&) = delete;
    CWebSvrOp& operator=(const CWebSvrOp&) = delete;

    // Runs the exchange from `step`: to the end in one call when `hwnd` is null, otherwise the
    // one step, posting `msg` with the next step number to `hwnd`. 1 on success, 0 on failure.
    int Run(int reserved, HWND hwnd, UINT msg, int step);
    // The one step of a driven exchange, as Run with a window does, but the step to run next
    // (-1 for none) is handed back instead of posted: its owner may run it at once.
    int Step(int step, int& next);

    virtual int PrepareData() = 0;
    virtual int ParseResponse() = 0;

    void AddHeader(const char* name, const char* value, bool quoted);
    HRESULT WriteElement(const char* name, const std::string& value, HANDLE file, bool omitIfEmpty, bool escape);
    void LogXml(const std::string& textOrPath, bool isPath);
    void AbortUpload();
    // Closes the request handle; the pump does this after the last step or a failure, and the
    // destructor for an exchange abandoned halfway ("Cancel All").
    void CloseRequest() noexcept;
    // Ends a parse running on its worker thread and waits for it. An operation that parses
    // there calls this first in its own destructor, since the parse fills its members.
    void StopParse() noexcept;

    // In-place XML escaping of user text for a request body.
    static void EscapeXml(std::string& text);
    // The same for text in the given code page (the system's own is the ANSI code page).
    static void EscapeXml(std::string& text, UINT codePage);
    static std::string Escaped(const std::string& text);
    // The envelope around every body; the credentials are escaped here.
    static std::string EnvelopeHead(const std::string& user, const std::string& password);
    static const char* EnvelopeFoot();
    // The debug copy of every request and answer.
    static std::string DebugCopyPath();

    // Shows the platform's password dialog for a 407; tests replace it (the real one always
    // opens a window).
    using ErrorDialogFn = DWORD (*)(HINTERNET request);
    static ErrorDialogFn s_pfnErrorDialog;

    const char* StepText(int step) const noexcept {
        return (step >= 0 && step < 6 && m_szSteps[step]) ? m_szSteps[step] : "";
    }

    // Fields every operation shares.
    const char* m_szSteps[6] = {};
    std::string m_strKind = "Unknown";
    std::string m_strResponse;
    std::string m_strRequest;
    std::string m_strHeaders;
    std::string m_strSoapAction;
    std::string m_strVerb = "POST";
    DWORD m_fFileMode = 0;
    // The request must reach the service at most once (it creates or changes a record). WinINet
    // sends a request again by itself when the pooled connection it went out on closes before an
    // answer came: right for a stale connection, but when the service had taken the request and
    // its answer was lost, a create would be made twice. Such a request goes out as a request
    // begun in parts (HttpSendRequestEx with the whole body, HttpEndRequest for the answer), which
    // WinINet never sends again; a lost answer fails the exchange instead.
    bool m_fSendOnce = false;
    DWORD m_fStreaming = 0;
    DWORD m_fKeepXml = 0;
    DWORD m_dwUploadSize = 0;
    DWORD m_dwBytesSent = 0;
    hv::unique_hinternet m_hRequest;
    DWORD m_dwBytesReceived = 0;
    hv::unique_hfile m_hBodyFile;
    hv::unique_hfile m_hResponseFile;
    std::unique_ptr<char[]> m_pUploadBuffer;
    std::unique_ptr<char[]> m_pReceiveBuffer;
    std::string m_strResponsePath;
    std::string m_strFaultCode;
    std::string m_strFaultString;
    std::string m_strReturnedId;
    std::string m_strReturnedLastModified;
    HRESULT m_hResult = S_OK;
    // Set once the whole answer has been read (the end of the receive step), fault or not.
    DWORD m_fAnswered = 0;
    std::unique_ptr<CXMLDoc> m_pResponseDoc;
    std::string m_strBodyPath = "/SOAP-ENV:Envelope/SOAP-ENV:Body";
    std::string m_strFaultName = "SOAP-ENV:Fault";
    std::string m_strFullURL;
    // Set by an operation whose ParseResponse reads only the answer file with a reader of its
    // own (no objects of this thread): when its steps are driven from a message loop, the parse
    // runs on a worker thread and the receive step repeats until it is done, so that the loop
    // keeps answering during the parse of a large answer.
    DWORD m_fParseAside = 0;

protected:
    // An answer that is not this exchange's answer: fails it with the "Malformed SOAP" texts; 0.
    int FailMalformed();
    // The settings the exchange reads (one object for all of them: each object makes the
    // product's keys once).
    CConfig m_config;
    // The flag StopParse raises, for the reader of a parse that runs aside.
    const std::atomic<bool>* StopFlag() const noexcept { return &m_fStopParse; }
    // Builds a fresh temporary file name for the answer (prefix "HVt").
    bool UseResponseFile();

private:
    // Each step: true to go on, false when the exchange failed. `more` asks for the same step
    // again (one more chunk).
    bool StepPrepare();
    bool StepOpen();
    bool StepSend(bool& more);
    bool StepStatus();
    bool StepReceive(bool& more, int& result);
    bool SendFileBody();
    bool BeginRequest(INTERNET_BUFFERSA& buffers);
    bool SendMemoryBody();
    // HttpEndRequest for a request begun in parts (file mode, or sent once); true when none is.
    bool EndPendingRequest();
    bool SendFileChunk(bool& more);
    DWORD QueryStatus();
    bool ResendRequest();
    bool HasFault();
    void PlatformFailure(const char* what);
    void DeleteBodyFile();
    // The parse of the answer on its worker thread: started by the receive step, then waited
    // for a little on each repeat of that step.
    bool StartParseAside();
    bool PollParseAside(bool& more, int& result);
    static unsigned __stdcall ParseAsideThread(void* op);
    std::string m_strBodyFilePath;
    bool m_fStepped = false;
    // A request begun in parts (file mode, or sent once) whose answer's head was not asked for yet.
    bool m_fHeadPending = false;
    hv::unique_handle m_hParseThread;
    std::atomic<bool> m_fStopParse{false};
    int m_nParseResult = 0;
};

// The process-wide state of the exchange: host and path of the last URL split, the server the
// connection was made to, and the connection itself (owned by the API object).
struct CWebSvrShared {
    std::string host;
    std::string path;
    std::string server;
    HINTERNET connection = nullptr;
};
CWebSvrShared& WebSvrShared();

// Splits a service URL into host and path ("https://h/soap/" -> "h", "/soap/").
void SplitServiceURL(const std::string& url, std::string& host, std::string& path);
