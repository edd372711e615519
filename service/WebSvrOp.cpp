#include "service/WebSvrOp.h"
#include <objbase.h>
#include <process.h>
#include <cstring>
#include "service/ServiceRes.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "win/Files.h"
#include "win/Strings.h"

namespace {

constexpr DWORD kUploadChunk = 4095;   // body bytes per write (the buffer holds a terminator too)
constexpr DWORD kReceiveChunk = 4096;  // answer bytes per read
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION;
constexpr char kXmlLogClose[] = "</XmlLog>\n";
// How long one repeat of the receive step waits for a parse running aside before it lets the
// message loop turn again.
constexpr DWORD kParseWaitMs = 10;

DWORD ShowPasswordDialog(HINTERNET request) {
    return ::InternetErrorDlg(nullptr, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                              FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr);
}

// One replacement per byte value 0-127: nullptr keeps the byte, "" drops it.
const char* const* AsciiEscapes() {
    static const char* table[128] = {};
    static bool built = false;
    if (!built) {
        static char refs[128][8];
        for (int c = 0; c < 128; ++c) {
            if (c < 32 && c != 9 && c != 10 && c != 13) {
                table[c] = "";
                continue;
            }
            bool kept = c == 10 || c == 13 || c == 32 || c == '.' || c == ';' || (c >= '0' && c <= '9') ||
                        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            if (kept) continue;
            snprintf(refs[c], sizeof(refs[c]), "&#%d;", c);
            table[c] = refs[c];
        }
        table['"'] = "&quot;";
        table['&'] = "&amp;";
        table['<'] = "&lt;";
        table['>'] = "&gt;";
        built = true;
    }
    return table;
}

}  // namespace

CWebSvrOp::ErrorDialogFn CWebSvrOp::s_pfnErrorDialog = &ShowPasswordDialog;

namespace {
thread_local const CWebSvrSettings* t_scopedSettings = nullptr;
}

CWebSvrSettingsScope::CWebSvrSettingsScope() : m_pOuter(t_scopedSettings) {
    CConfig config;
    m_settings.logXml = config.GetLogXML();
    m_settings.port = config.GetPort();
    m_settings.timeout = config.GetTimeout();
    m_settings.serviceUrlResult = config.GetServiceURL(m_settings.serviceUrl);
    t_scopedSettings = &m_settings;
}

CWebSvrSettingsScope::~CWebSvrSettingsScope() {
    if (t_scopedSettings == &m_settings) t_scopedSettings = m_pOuter;
}

const CWebSvrSettings* ScopedWebSvrSettings() noexcept {
    return t_scopedSettings;
}

CWebSvrShared& WebSvrShared() {
    static CWebSvrShared shared;
    return shared;
}

void SplitServiceURL(const std::string& url, std::string& host, std::string& path) {
    size_t start = url.find("//");
    std::string rest = start == std::string::npos ? url : url.substr(start + 2);
    size_t slash = rest.find('/');
    host = rest.substr(0, slash);
    path = slash == std::string::npos ? std::string() : rest.substr(slash);
}

static void ApplyUrlSplit(const std::string& url) {
    CWebSvrShared& shared = WebSvrShared();
    SplitServiceURL(url, shared.host, shared.path);
    shared.server = shared.host;
}

CWebSvrOp::CWebSvrOp(const std::string& url) : m_strFullURL(url) {
    ApplyUrlSplit(url);
    const CWebSvrSettings* scoped = ScopedWebSvrSettings();
    m_fKeepXml = (scoped ? scoped->logXml : m_config.GetLogXML()) == 1 ? 1 : 0;
    m_szSteps[0] = "Preparing Data";
    m_szSteps[1] = "Connecting to Halvane";
    m_szSteps[3] = "Receiving Response";
    m_szSteps[4] = "Confirming Result";
}

CWebSvrOp::~CWebSvrOp() {
    StopParse();
    m_strRequest.clear();
    CloseRequest();
    m_pResponseDoc.reset();
    m_hResponseFile.reset();
    if (!m_strResponsePath.empty()) ::DeleteFileA(m_strResponsePath.c_str());
    m_hBodyFile.reset();
    // A body file that was never sent (a failed exchange) does not stay behind.
    if (m_fFileMode && !m_strBodyFilePath.empty()) ::DeleteFileA(m_strBodyFilePath.c_str());
}

void CWebSvrOp::CloseRequest() noexcept {
    if (m_hRequest && m_fHeadPending) {
        // The request went out (in whole or in part) but its answer was never waited for: the
        // server still answers it, later, down this request's connection. Closed as it is, Wine's
        // WinINet puts that connection back in its pool (it takes an answer whose head it never
        // read for one read to its end), and the next exchange with this server, ours or another
        // of this process, would read this answer as its own. Asking for the head with a
        // time-out that expires at once marks the connection as not reusable; whatever the
        // request's state, the answer is dropped with it.
        DWORD ms = 1;
        ::InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms));
        ::HttpEndRequestA(m_hRequest.get(), nullptr, 0, 0);
    }
    m_fHeadPending = false;
    m_hRequest.reset();
}

bool CWebSvrOp::UseResponseFile() {
    m_strResponsePath = hv::NewTempFile("HVt");
    return !m_strResponsePath.empty();
}

// ---------------------------------------------------------------------------------------------
// Escaping and the envelope

void CWebSvrOp::EscapeXml(std::string& text) {
    EscapeXml(text, ::GetACP());
}

void CWebSvrOp::EscapeXml(std::string& text, UINT codePage) {
    const char* const* table = AsciiEscapes();
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 128) {
            if (table[c])
                out += table[c];
            else
                out += static_cast<char>(c);
            continue;
        }
        // A lead byte of a double-byte code page (932, 936, 949, 950) starts a character of two
        // bytes, whatever its value; only a byte that stands alone can be an apostrophe.
        const bool lead = ::IsDBCSLeadByteEx(codePage, c) != FALSE;
        if (!lead && (c == 145 || c == 146)) {  // the typographic apostrophes of code page 1252
            out += "&#39;";
            continue;
        }
        // Any other byte is a character of the code page: write it as the numeric reference of
        // its Unicode character, so the envelope stays 7-bit and nothing is lost.
        int length = (lead && i + 1 < text.size()) ? 2 : 1;
        wchar_t wide[4] = {};
        int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &text[i], length, wide, 4);
        if (n <= 0) {
            i += static_cast<size_t>(length - 1);
            continue;  // not a character of the code page: nothing to say about it
        }
        unsigned long codePoint = wide[0];
        if (n == 2 && IS_HIGH_SURROGATE(wide[0]) && IS_LOW_SURROGATE(wide[1]))
            codePoint = 0x10000 + ((wide[0] - 0xD800UL) << 10) + (wide[1] - 0xDC00UL);
        out += hv::Format("&#%lu;", codePoint);
        i += static_cast<size_t>(length - 1);
    }
    text.swap(out);
}

std::string CWebSvrOp::Escaped(const std::string& text) {
    std::string copy = text;
    EscapeXml(copy);
    return copy;
}

std::string CWebSvrOp::EnvelopeHead(const std::string& user, const std::string& password) {
    return hv::Format(
        "<SOAP-ENV:Envelope\nxmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
        "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"\n"
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"\n"
        "xmlns:m1=\"urn:Halvane/API\">\n<SOAP-ENV:Header>\n<m:SessionHeader xmlns:m=\"urn:Halvane/API\">\n"
        "<m:username>%s</m:username>\n<m:password>%s</m:password>\n</m:SessionHeader>\n</SOAP-ENV:Header>\n",
        Escaped(user).c_str(), Escaped(password).c_str());
}

const char* CWebSvrOp::EnvelopeFoot() {
    return "</SOAP-ENV:Envelope>\n";
}

void CWebSvrOp::AddHeader(const char* name, const char* value, bool quoted) {
    if (!name || !value) {
        m_strHeaders += "\r\n";
        return;
    }
    if (!m_strHeaders.empty()) m_strHeaders += "\n";
    m_strHeaders += quoted ? hv::Format("%s: \"%s\"", name, value) : hv::Format("%s: %s", name, value);
}

HRESULT CWebSvrOp::WriteElement(const char* name, const std::string& value, HANDLE file, bool omitIfEmpty,
                                bool escape) {
    const std::string element = name ? name : "";
    std::string text;
    if (value.empty()) {
        if (element.empty()) return E_INVALIDARG;
        if (omitIfEmpty) return S_OK;
        text = hv::Format("<%s></%s>\n", element.c_str(), element.c_str());
    } else if (element.empty()) {
        text = value;
    } else {
        std::string body = escape ? Escaped(value) : value;
        text = "<" + element + ">" + body + "</" + element + ">\n";
    }
    if (file && file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size())
            return E_FAIL;
    } else {
        m_strRequest += text;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Debug copy

std::string CWebSvrOp::DebugCopyPath() {
    return hv::Format("%s\\%sDebug.xml", hv::TempFolder().c_str(), "Halvane");
}

void CWebSvrOp::LogXml(const std::string& textOrPath, bool isPath) {
    if (!m_fKeepXml) return;
    hv::unique_hfile file(::CreateFileA(DebugCopyPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD written = 0;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.get(), &size);
    if (existed && size.QuadPart >= static_cast<LONGLONG>(sizeof(kXmlLogClose) - 1)) {
        // Overwrite the closing line, so the file keeps exactly one root element.
        LARGE_INTEGER back{};
        back.QuadPart = -static_cast<LONGLONG>(sizeof(kXmlLogClose) - 1);
        ::SetFilePointerEx(file.get(), back, nullptr, FILE_END);
    } else {
        ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
        ::WriteFile(file.get(), "<XmlLog>\n", 9, &written, nullptr);
    }
    if (isPath) {
        hv::unique_hfile source(::CreateFileA(textOrPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (source) {
            char chunk[2047];
            DWORD got = 0;
            while (::ReadFile(source.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
                ::WriteFile(file.get(), chunk, got, &written, nullptr);
        }
    } else {
        ::WriteFile(file.get(), textOrPath.data(), static_cast<DWORD>(textOrPath.size()), &written, nullptr);
    }
    ::WriteFile(file.get(), kXmlLogClose, sizeof(kXmlLogClose) - 1, &written, nullptr);
    ::SetEndOfFile(file.get());
}

// ---------------------------------------------------------------------------------------------
// The steps

void CWebSvrOp::PlatformFailure(const char* what) {
    const DWORD error = ::GetLastError();
    HvLog().LogError(hv::Format("CWebSvrOp::Run: %s FAILED (error %lu)", what, static_cast<unsigned long>(error)));
    m_hResult = HV_E_CONNECTION;
    m_strFaultString = hv::LoadResString(IDS_CONNECTION_EXCEPTION);
}

void CWebSvrOp::DeleteBodyFile() {
    m_hBodyFile.reset();
    if (!m_strBodyFilePath.empty()) {
        ::DeleteFileA(m_strBodyFilePath.c_str());
        m_strBodyFilePath.clear();
    }
}

void CWebSvrOp::AbortUpload() {
    if (m_fFileMode && m_pUploadBuffer) {
        DeleteBodyFile();
        m_pUploadBuffer.reset();
    }
}

bool CWebSvrOp::StepPrepare() {
    CDiagLog& log = HvLog();
    log.LogCommentFmt("CWebSvrOp::Run: Preparing Data for %s", m_strKind.c_str());
    if (!PrepareData()) {
        log.LogError("PrepareData failed!");
        log.LogCommentFmt("Op kind is %s", m_strKind.c_str());
        if (m_hResult == S_OK) m_hResult = E_FAIL;
        return false;
    }
    if (m_fFileMode) m_strBodyFilePath = m_strRequest;
    ApplyUrlSplit(m_strFullURL);
    return true;
}

bool CWebSvrOp::StepOpen() {
    CDiagLog& log = HvLog();
    CWebSvrShared& shared = WebSvrShared();
    CConfig& config = m_config;
    const CWebSvrSettings* scoped = ScopedWebSvrSettings();
    DWORD flags = kRequestFlags;
    const unsigned short port = scoped ? scoped->port : config.GetPort();
    if (port == INTERNET_DEFAULT_HTTPS_PORT && m_strVerb != "GET") flags |= INTERNET_FLAG_SECURE;

    m_strHeaders.clear();
    AddHeader("Content-Type", "text/xml; charset=utf-8", false);
    if (!m_strSoapAction.empty()) AddHeader("SOAPAction", m_strSoapAction.c_str(), true);
    m_strHeaders += "\r\n";

    log.LogComment("CWebSvrOp::Run: OpenRequest");
    log.LogCommentFmt("Verb: %s", m_strVerb.c_str());
    log.LogCommentFmt("URL: %s", shared.path.c_str());
    log.LogCommentFmt("Full URL: %s", m_strFullURL.c_str());

    const char* accept[] = {"text/xml", nullptr};
    m_hRequest.reset(::HttpOpenRequestA(shared.connection, m_strVerb.c_str(), shared.path.c_str(), "HTTP/1.1", "",
                                        accept, flags, 1));
    if (!m_hRequest) {
        log.LogError("CWebSvrOp::Run: OpenRequest FAILED");
        m_hResult = HV_E_CONNECTION;
        m_strFaultString = hv::LoadResString(IDS_CONNECTION_EXCEPTION);
        return false;
    }
    DWORD timeout = scoped ? scoped->timeout : config.GetTimeout();
    if (timeout != 0 && timeout != 30) {
        DWORD ms = timeout * 1000;
        ::InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms));
    }
    if (m_fFileMode) {
        hv::unique_hfile body(::CreateFileA(m_strBodyFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!body || !::GetFileSizeEx(body.get(), &size)) return false;
        m_dwUploadSize = static_cast<DWORD>(size.QuadPart);
        if (!::HttpAddRequestHeadersA(m_hRequest.get(), m_strHeaders.c_str(), static_cast<DWORD>(-1),
                                      HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
            log.LogError("CWebSvrOp::Run: AddRequestHeaders FAILED");
            return false;
        }
        if (!SendFileBody()) return false;
        m_hBodyFile = std::move(body);
        m_pUploadBuffer.reset(new (std::nothrow) char[kUploadChunk + 1]);
        if (!m_pUploadBuffer) return false;
    }
    return true;
}

// Begins a request whose body follows in chunks of the body file.
bool CWebSvrOp::SendFileBody() {
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = m_dwUploadSize;
    m_dwBytesSent = 0;
    return BeginRequest(buffers);
}

// HttpSendRequestEx: the request goes out (with what `buffers` holds of its body); its answer is
// asked for by HttpEndRequest.
bool CWebSvrOp::BeginRequest(INTERNET_BUFFERSA& buffers) {
    if (!::HttpSendRequestExA(m_hRequest.get(), &buffers, nullptr, HSR_INITIATE, 1)) {
        HvLog().LogError("CWebSvrOp::Run: SendRequestEx FAILED");
        PlatformFailure("SendRequestEx");
        return false;
    }
    m_fHeadPending = true;
    return true;
}

bool CWebSvrOp::SendFileChunk(bool& more) {
    DWORD got = 0;
    if (!::ReadFile(m_hBodyFile.get(), m_pUploadBuffer.get(), kUploadChunk, &got, nullptr)) return false;
    more = got > 0;
    if (!more) return true;
    m_pUploadBuffer[got] = '\0';
    LogXml(std::string(m_pUploadBuffer.get(), got), false);
    DWORD written = 0;
    if (!::InternetWriteFile(m_hRequest.get(), m_pUploadBuffer.get(), got, &written) || written != got) {
        PlatformFailure("InternetWriteFile");
        return false;
    }
    m_dwBytesSent += got;
    return true;
}

bool CWebSvrOp::StepSend(bool& more) {
    more = false;
    if (!m_fFileMode) {
        LogXml(m_strRequest, false);
        return SendMemoryBody();
    }
    if (!m_hBodyFile || !m_pUploadBuffer) return false;
    return SendFileChunk(more);
}

// The request with its body from memory: in one call, or begun in parts when it must go out once.
bool CWebSvrOp::SendMemoryBody() {
    char* body = m_strRequest.empty() ? nullptr : const_cast<char*>(m_strRequest.data());
    const DWORD size = static_cast<DWORD>(m_strRequest.size());
    if (!m_fSendOnce) {
        if (!::HttpSendRequestA(m_hRequest.get(), m_strHeaders.c_str(), static_cast<DWORD>(m_strHeaders.size()), body,
                                size)) {
            PlatformFailure("SendRequest");
            return false;
        }
        return true;
    }
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = m_strHeaders.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(m_strHeaders.size());
    buffers.lpvBuffer = body;
    buffers.dwBufferLength = size;
    buffers.dwBufferTotal = size;
    return BeginRequest(buffers);
}

// The answer's head of a request begun in parts.
bool CWebSvrOp::EndPendingRequest() {
    if (!m_fHeadPending) return true;
    m_fHeadPending = false;
    if (!::HttpEndRequestA(m_hRequest.get(), nullptr, 0, 1)) {
        PlatformFailure("EndRequest");
        return false;
    }
    return true;
}

DWORD CWebSvrOp::QueryStatus() {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoA(m_hRequest.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// The one retry after 401 or 407: the same headers and the same body. In file mode the body
// file is still on disk (it is deleted only once the status is final) and is sent again.
bool CWebSvrOp::ResendRequest() {
    // Drain what is left of the refused answer so the connection can carry the retry.
    char drain[1024];
    DWORD got = 0;
    while (::InternetReadFile(m_hRequest.get(), drain, sizeof(drain), &got) && got > 0) {
    }
    if (!m_fFileMode) return SendMemoryBody() && EndPendingRequest();
    hv::unique_hfile body(::CreateFileA(m_strBodyFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!body) {
        HvLog().LogError("CWebSvrOp::Run: the request body is gone, cannot send it again");
        m_hResult = E_FAIL;
        return false;
    }
    m_hBodyFile = std::move(body);
    if (!m_pUploadBuffer) m_pUploadBuffer.reset(new (std::nothrow) char[kUploadChunk + 1]);
    if (!m_pUploadBuffer || !SendFileBody()) return false;
    bool more = true;
    while (more)
        if (!SendFileChunk(more)) return false;
    m_hBodyFile.reset();
    return EndPendingRequest();
}

bool CWebSvrOp::StepStatus() {
    // Both a body file's request and one sent once were begun in parts: their answer's head now.
    m_hBodyFile.reset();
    if (!EndPendingRequest()) {
        if (m_fFileMode) {
            DeleteBodyFile();
            m_pUploadBuffer.reset();
        }
        return false;
    }
    DWORD status = QueryStatus();
    if (status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ) {
        if (status == HTTP_STATUS_DENIED) {
            ::InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_USERNAME, const_cast<char*>(""), 0);
            ::InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_PASSWORD, const_cast<char*>(""), 0);
        } else if (s_pfnErrorDialog) {
            s_pfnErrorDialog(m_hRequest.get());
        }
        bool resent = ResendRequest();
        if (resent) status = QueryStatus();
        if (m_fFileMode) {
            DeleteBodyFile();
            m_pUploadBuffer.reset();
        }
        if (!resent) return false;
    } else if (m_fFileMode) {
        DeleteBodyFile();
        m_pUploadBuffer.reset();
    }
    if (status != HTTP_STATUS_OK && status != HTTP_STATUS_BAD_REQUEST && status != HTTP_STATUS_SERVER_ERROR) {
        HvLog().LogError(hv::Format("CWebSvrOp::Run: HTTP status %lu", static_cast<unsigned long>(status)));
        m_hResult = HV_E_HTTP_STATUS;
        return false;
    }
    m_dwBytesReceived = 0;
    return true;
}

bool CWebSvrOp::StepReceive(bool& more, int& result) {
    more = false;
    result = 1;
    if (m_hParseThread) return PollParseAside(more, result);
    if (m_dwBytesReceived == 0 && !m_pReceiveBuffer) {
        m_pReceiveBuffer.reset(new (std::nothrow) char[kReceiveChunk + 1]);
        if (!m_pReceiveBuffer) return false;
    }
    memset(m_pReceiveBuffer.get(), 0, kReceiveChunk + 1);
    DWORD got = 0;
    if (!::InternetReadFile(m_hRequest.get(), m_pReceiveBuffer.get(), kReceiveChunk, &got)) {
        PlatformFailure("InternetReadFile");
        return false;
    }
    if (got > 0) {
        const bool first = m_dwBytesReceived == 0;
        m_dwBytesReceived += got;
        if (m_strResponsePath.empty()) {
            if (first) m_strResponse.clear();
            m_strResponse.append(m_pReceiveBuffer.get(), got);
        } else {
            if (first) {
                m_hResponseFile.reset(::CreateFileA(m_strResponsePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!m_hResponseFile) {
                    HvLog().LogError("CWebSvrOp::Run: cannot open the response file");
                    m_hResult = E_FAIL;
                    return false;
                }
            }
            DWORD written = 0;
            if (!m_hResponseFile ||
                !::WriteFile(m_hResponseFile.get(), m_pReceiveBuffer.get(), got, &written, nullptr) || written != got) {
                HvLog().LogError("CWebSvrOp::Run: cannot write the response file");
                m_hResult = E_FAIL;
                return false;
            }
        }
        more = true;
        return true;
    }
    // The whole answer is in.
    m_fAnswered = 1;
    m_hResponseFile.reset();
    if (m_strResponsePath.empty())
        LogXml(m_strResponse, false);
    else
        LogXml(m_strResponsePath, true);
    if (!m_strResponse.empty() || !m_strResponsePath.empty()) {
        if (HasFault()) {
            result = 0;
            return false;
        }
        if (m_fStepped && m_fParseAside && !m_strResponsePath.empty() && StartParseAside()) {
            more = true;
            return true;
        }
        result = ParseResponse() ? 1 : 0;
        return result != 0;
    }
    if (!m_strSoapAction.empty()) {
        // Every SOAP exchange answers with an envelope; an empty answer is no answer, and must
        // not pass for an empty result (a download would then look like "nothing changed").
        HvLog().LogError("CWebSvrOp::Run: the answer is empty");
        m_hResult = E_FAIL;
        result = 0;
        return false;
    }
    return true;
}

unsigned __stdcall CWebSvrOp::ParseAsideThread(void* param) {
    auto* op = static_cast<CWebSvrOp*>(param);
    // The reader is created and used on this thread only.
    const HRESULT co = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int result = 0;
    try {
        result = op->ParseResponse() ? 1 : 0;
    } catch (...) {
        result = 0;
        if (op->m_hResult == S_OK) op->m_hResult = E_FAIL;
    }
    op->m_nParseResult = result;
    if (SUCCEEDED(co)) ::CoUninitialize();
    return 0;
}

bool CWebSvrOp::StartParseAside() {
    m_fStopParse = false;
    m_nParseResult = 0;
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &CWebSvrOp::ParseAsideThread, this, 0, nullptr);
    if (!thread) return false;  // parsed here, in one piece, instead
    m_hParseThread.reset(reinterpret_cast<HANDLE>(thread));
    return true;
}

bool CWebSvrOp::PollParseAside(bool& more, int& result) {
    // Input ends the wait at once: the loop answers it before the next look at the parse.
    HANDLE thread = m_hParseThread.get();
    const DWORD wait = ::MsgWaitForMultipleObjects(1, &thread, FALSE, kParseWaitMs, QS_INPUT);
    if (wait != WAIT_OBJECT_0) {
        more = true;
        return true;
    }
    m_hParseThread.reset();
    result = m_nParseResult;
    return result != 0;
}

void CWebSvrOp::StopParse() noexcept {
    if (!m_hParseThread) return;
    m_fStopParse = true;
    ::WaitForSingleObject(m_hParseThread.get(), INFINITE);
    m_hParseThread.reset();
}

int CWebSvrOp::FailMalformed() {
    m_strFaultCode = m_strFaultString = "Malformed SOAP";
    if (m_hResult == S_OK) m_hResult = E_FAIL;
    return 0;
}

bool CWebSvrOp::HasFault() {
    if (m_fStreaming) return false;
    m_pResponseDoc = std::make_unique<CXMLDoc>();
    HRESULT hr = m_strResponsePath.empty() ? m_pResponseDoc->LoadBytes(m_strResponse)
                                           : m_pResponseDoc->LoadFile(m_strResponsePath);
    // An answer that is not XML, or not a SOAP envelope, is a failure: its code says so even
    // where the answer gives no fault texts.
    if (hr != S_OK) {
        if (m_hResult == S_OK) m_hResult = E_FAIL;
        return true;
    }
    if (!m_strSoapAction.empty() && m_pResponseDoc->GotoNode(m_strBodyPath) != S_OK) {
        FailMalformed();
        return true;
    }
    if (!m_strFaultName.empty()) {
        CXMLDoc& doc = *m_pResponseDoc;
        if (doc.GotoNode(m_strFaultName) == S_OK) {
            doc.GetSingleNodeValue("faultstring", m_strFaultString);
            doc.GetSingleNodeValue("faultcode", m_strFaultCode);
            m_hResult = E_FAIL;
            doc.GotoNode("..");  // back on the body
            return true;
        }
    }
    return false;
}

int CWebSvrOp::Run(int /*reserved*/, HWND hwnd, UINT msg, int step) {
    if (step > 4) return 1;
    int result = 1;
    try {
        if (!hwnd) {
            // One call: every step to the end, every chunk in a loop.
            m_fStepped = false;
            bool ok = true;
            for (int s = step; ok && s <= 4; ++s) {
                bool more = false;
                switch (s) {
                    case 0:
                        ok = StepPrepare();
                        break;
                    case 1:
                        ok = StepOpen();
                        break;
                    case 2:
                        do ok = StepSend(more);
                        while (ok && more);
                        break;
                    case 3:
                        ok = StepStatus();
                        break;
                    case 4: {
                        int parsed = 1;
                        do ok = StepReceive(more, parsed);
                        while (ok && more);
                        if (!ok || !parsed) ok = false;
                        break;
                    }
                }
            }
            result = ok ? 1 : 0;
            // A step that failed before the answer leaves a failing code, whichever path it took;
            // what the answer itself says is the operation's to decide.
            if (!ok && !m_fAnswered && m_hResult == S_OK) m_hResult = E_FAIL;
            CloseRequest();
            return result;
        }
        int next = -1;
        result = Step(step, next);
        if (next >= 0) ::PostMessageA(hwnd, msg, static_cast<WPARAM>(next), 0);
        return result;
    } catch (...) {
        PlatformFailure("an exchange");
        CloseRequest();
        return 0;
    }
}

int CWebSvrOp::Step(int step, int& next) {
    next = -1;
    if (step > 4) return 1;
    try {
        m_fStepped = true;
        bool more = false;
        bool ok = true;
        next = step + 1;
        switch (step) {
            case 0:
                ok = StepPrepare();
                break;
            case 1:
                ok = StepOpen();
                break;
            case 2:
                ok = StepSend(more);
                if (more) next = 2;
                break;
            case 3:
                ok = StepStatus();
                break;
            case 4: {
                int parsed = 1;
                ok = StepReceive(more, parsed) && parsed;
                if (more) next = 4;
                if (!ok && m_fAnswered) {
                    // The whole answer was read, but it is a fault or does not parse: the exchange is
                    // over all the same, so its owner gets step 5 and closes it as failed.
                    next = 5;
                    return 0;
                }
                break;
            }
        }
        if (!ok) {
            next = -1;
            if (m_hResult == S_OK) m_hResult = E_FAIL;  // a step that failed before the answer
            return 0;
        }
        return 1;
    } catch (...) {
        next = -1;
        PlatformFailure("an exchange");
        CloseRequest();
        return 0;
    }
}
