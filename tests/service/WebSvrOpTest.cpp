#include "TestResponder.h"
#include <gtest/gtest.h>
#include <atomic>
#include "ServiceTestSupport.h"
#include "service/OpGetMyEvents.h"
#include "service/OpGetMyTasks.h"
#include "service/WebSvrOp.h"
#include "win/Files.h"
#include "win/Strings.h"

namespace {

const std::string kAddress = hvtest::Loopback(2);
constexpr UINT kStepMessage = WM_USER + 100;

// A minimal operation: one element in the body, one value read from the answer.
class OpTestPing : public CWebSvrOp {
public:
    explicit OpTestPing(const std::string& url, bool fileMode = false, bool responseFile = false)
        : CWebSvrOp(url), m_fUseFile(fileMode), m_fUseResponseFile(responseFile) {
        m_strKind = "OpTestPing";
        m_szSteps[2] = "Pinging";
        m_szSteps[5] = "Pinged";
        CConfig config;
        config.GetServiceURL(m_strSoapAction);
    }
    int PrepareData() override {
        if (m_fUseResponseFile && !UseResponseFile()) return 0;
        std::string body = EnvelopeHead(m_strUser, m_strPassword) + "<m:Ping xmlns:m=\"urn:Halvane/API\">\n";
        if (!m_fUseFile) {
            m_strRequest = body;
            WriteElement("m:text", m_strText, nullptr, false, true);
            m_strRequest += "</m:Ping>\n";
            m_strRequest += EnvelopeFoot();
            return 1;
        }
        m_fFileMode = 1;
        std::string path = hv::NewTempFile("HVt");
        hv::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!file) return 0;
        if (WriteElement("", body, file.get(), false, false) != S_OK) return 0;
        if (WriteElement("m:text", m_strText, file.get(), false, true) != S_OK) return 0;
        if (WriteElement("", std::string("</m:Ping>\n") + EnvelopeFoot(), file.get(), false, false) != S_OK) return 0;
        m_strRequest = path;
        return 1;
    }
    int ParseResponse() override {
        ++m_nParsed;
        m_pResponseDoc->GetSingleNodeValue("ns1:PingResponse/ns1:value", m_strValue);
        return 1;
    }
    std::string m_strUser = "user";
    std::string m_strPassword = "secret";
    std::string m_strText = "hello";
    std::string m_strValue;
    int m_nParsed = 0;
    bool m_fUseFile;
    bool m_fUseResponseFile;
};

std::string PingAnswer(const std::string& value) {
    return SoapAnswer("<ns1:PingResponse><ns1:value>" + value + "</ns1:value></ns1:PingResponse>");
}

class SoapFrame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(responder.Listening());
        url = ConnectTo(kAddress.c_str());
        ASSERT_EQ("http://" + kAddress + "/soap/v2.2beta/", url);
    }
    void TearDown() override {
        Disconnect();
        ResetProductKey();
    }
    static CTestResponder responder;
    std::string url;
};
CTestResponder SoapFrame::responder(kAddress.c_str());

TEST_F(SoapFrame, RequestCarriesContentTypeQuotedSoapActionAndEscapedCredentials) {
    responder.Enqueue(200, PingAnswer("pong"));
    OpTestPing op(url);
    op.m_strUser = "O'Brien";
    op.m_strPassword = "a&b";
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ("pong", op.m_strValue);
    std::string raw = responder.Requests().back();
    std::string head = CTestResponder::Head(raw);
    EXPECT_EQ(0u, head.find("POST /soap/v2.2beta/ HTTP/1.1\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nContent-Type: text/xml; charset=utf-8\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nSOAPAction: \"http://" + kAddress + "/soap/v2.2beta/\"\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("User-Agent: HV for Outlook/1.0\r\n")) << head;
    std::string body = CTestResponder::Body(raw);
    EXPECT_EQ(CWebSvrOp::EnvelopeHead("O'Brien", "a&b") +
                  "<m:Ping xmlns:m=\"urn:Halvane/API\">\n<m:text>hello</m:text>\n"
                  "</m:Ping>\n</SOAP-ENV:Envelope>\n",
              body);
    EXPECT_NE(std::string::npos, body.find("<m:username>O&#39;Brien</m:username>"));
    EXPECT_NE(std::string::npos, body.find("<m:password>a&amp;b</m:password>"));
}

TEST_F(SoapFrame, FileModeSendsTheBodyInChunksAndDeletesTheFile) {
    std::string text(10000, 'x');
    responder.Enqueue(200, PingAnswer("ok"));
    OpTestPing op(url, true);
    op.m_strText = text;
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    std::string body = CTestResponder::Body(responder.Requests().back());
    EXPECT_NE(std::string::npos, body.find("<m:text>" + text + "</m:text>\n"));
    EXPECT_EQ(body.size(), op.m_dwUploadSize);
    EXPECT_EQ(body.size(), op.m_dwBytesSent);
    EXPECT_FALSE(hv::FileExists(op.m_strRequest));
}

// Drives the window form: each call does one step or one chunk and posts the next step.
int RunStepwise(CWebSvrOp& op, std::vector<int>& steps) {
    HWND wnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    int step = 0;
    int result = 1;
    while (step <= 4) {
        steps.push_back(step);
        result = op.Run(0, wnd, kStepMessage, step);
        if (!result) break;
        MSG msg;
        if (!::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE)) {
            result = -1;
            break;
        }
        step = static_cast<int>(msg.wParam);
    }
    if (result == 1) steps.push_back(step);
    ::DestroyWindow(wnd);
    return result;
}

TEST_F(SoapFrame, WindowFormPostsEachStepAndRepeatsChunkSteps) {
    responder.Enqueue(200, PingAnswer(std::string(9000, 'v')));
    OpTestPing op(url, true);
    op.m_strText = std::string(5000, 'y');
    std::vector<int> steps;
    ASSERT_EQ(1, RunStepwise(op, steps));
    // Upload: 2 chunks then an empty read; answer: 3 chunks then an empty read.
    std::vector<int> expected = {0, 1, 2, 2, 2, 3, 4, 4, 4, 4, 5};
    EXPECT_EQ(expected, steps);
    EXPECT_EQ(9000u, op.m_strValue.size());
}

// After the receive step the exchange is over, whatever the answer said: the window form
// posts step 5 for a fault and for an answer that does not parse, so the owner closes it.
TEST_F(SoapFrame, WindowFormPostsStepFiveAfterAFaultOrABrokenAnswer) {
    struct Case {
        int status;
        std::string body;
    };
    for (const Case& c : {Case{500, SoapFault("SOAP-ENV:Client", "Invalid login")}, Case{200, "<html>proxy page"},
                          Case{200, "<answer/>"}}) {
        SCOPED_TRACE(c.body);
        responder.Enqueue(c.status, c.body);
        OpTestPing op(url);
        HWND wnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        int step = 0, last = -1, posted = -1;
        while (step <= 4) {
            last = op.Run(0, wnd, kStepMessage, step);
            MSG msg;
            posted =
                ::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE) ? static_cast<int>(msg.wParam) : -1;
            if (!last || posted < 0) break;
            step = posted;
        }
        ::DestroyWindow(wnd);
        EXPECT_EQ(0, last);
        EXPECT_EQ(4, step);
        EXPECT_EQ(5, posted);
        EXPECT_EQ(1u, op.m_fAnswered);
    }
}

// An operation that reads its answer file on a worker thread when driven from a window: its
// parse holds until the test lets it go, or until the operation stops it.
class OpTestAside : public CWebSvrOp {
public:
    explicit OpTestAside(const std::string& url) : CWebSvrOp(url) {
        m_strKind = "OpTestAside";
        m_fStreaming = 1;
        m_fParseAside = 1;
        CConfig config;
        config.GetServiceURL(m_strSoapAction);
    }
    ~OpTestAside() override { StopParse(); }
    int PrepareData() override {
        if (!UseResponseFile()) return 0;
        m_strRequest = EnvelopeHead("user", "secret") + "<m:Ping xmlns:m=\"urn:Halvane/API\"/>\n" + EnvelopeFoot();
        return 1;
    }
    int ParseResponse() override {
        m_parseThread = ::GetCurrentThreadId();
        m_fParseStarted = true;
        while (!m_fRelease && !StopFlag()->load()) ::Sleep(1);
        if (StopFlag()->load()) {
            m_fStopped = true;
            return 0;
        }
        std::string answer;
        hv::ReadWholeFile(m_strResponsePath, answer);
        m_fSawValue = answer.find("aside") != std::string::npos;
        return 1;
    }
    std::atomic<DWORD> m_parseThread{0};
    std::atomic<bool> m_fParseStarted{false};
    std::atomic<bool> m_fRelease{false};
    std::atomic<bool> m_fStopped{false};
    bool m_fSawValue = false;
};

// Driven from a window, the parse runs on a worker thread: the receive step repeats while it
// runs, and the exchange ends with its result. Destroying the operation stops a running parse.
TEST_F(SoapFrame, WindowFormParsesAsideAndRepeatsTheReceiveStepUntilDone) {
    responder.Enqueue(200, PingAnswer("aside"));
    OpTestAside op(url);
    HWND wnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    int step = 0, result = 1, repeatsWhileParsing = 0;
    while (result && step <= 4) {
        if (step == 4 && op.m_fParseStarted) {
            // Released only after the loop has turned a few times with the parse running.
            if (++repeatsWhileParsing == 3) op.m_fRelease = true;
        }
        result = op.Run(0, wnd, kStepMessage, step);
        MSG msg;
        if (!::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE)) break;
        step = static_cast<int>(msg.wParam);
    }
    EXPECT_EQ(1, result);
    EXPECT_EQ(5, step);
    EXPECT_GE(repeatsWhileParsing, 3);
    EXPECT_NE(0u, op.m_parseThread.load());
    EXPECT_NE(::GetCurrentThreadId(), op.m_parseThread.load());
    EXPECT_TRUE(op.m_fSawValue);
    op.CloseRequest();  // as the owner does after step 5

    responder.Enqueue(200, PingAnswer("never read"));
    bool stopped = false;
    {
        OpTestAside held(url);
        step = 0;
        // Once the parse runs, each repeat of the receive step waits a little for it.
        for (int turns = 0; turns < 2000 && step <= 4 && !held.m_fParseStarted; ++turns) {
            if (!held.Run(0, wnd, kStepMessage, step)) break;
            MSG msg;
            if (!::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE)) break;
            step = static_cast<int>(msg.wParam);
        }
        ASSERT_TRUE(held.m_fParseStarted);
        held.StopParse();
        stopped = held.m_fStopped;
    }
    EXPECT_TRUE(stopped);
    ::DestroyWindow(wnd);
}

// A failure before the answer posts nothing: the owner's run stops where it is.
TEST_F(SoapFrame, WindowFormPostsNothingAfterAFailedStatus) {
    responder.Enqueue(404, "not here");
    OpTestPing op(url);
    std::vector<int> steps;
    EXPECT_EQ(0, RunStepwise(op, steps));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), steps);
    EXPECT_EQ(0u, op.m_fAnswered);
}

// A SOAP exchange always answers with an envelope; an empty answer must not pass for an empty
// result (a download would then look like "nothing changed").
TEST_F(SoapFrame, EmptyAnswerFails) {
    responder.Enqueue(200, "");
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_TRUE(FAILED(op.m_hResult));
    EXPECT_EQ(0, op.m_nParsed);
}

TEST_F(SoapFrame, AnswerWrittenToAFileIsParsedAndTheFileGoesWithTheOperation) {
    responder.Enqueue(200, PingAnswer("from file"));
    std::string path;
    {
        OpTestPing op(url, false, true);
        ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
        EXPECT_EQ("from file", op.m_strValue);
        EXPECT_TRUE(op.m_strResponse.empty());
        path = op.m_strResponsePath;
        EXPECT_NE(std::string::npos, path.find("HVt"));
        EXPECT_TRUE(hv::FileExists(path));
    }
    EXPECT_FALSE(hv::FileExists(path));
}

TEST_F(SoapFrame, FaultWithStatus500SetsTheTextsAndFails) {
    responder.Enqueue(500, SoapFault("SOAP-ENV:Client", "Invalid login"));
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(E_FAIL, op.m_hResult);
    EXPECT_EQ("SOAP-ENV:Client", op.m_strFaultCode);
    EXPECT_EQ("Invalid login", op.m_strFaultString);
    EXPECT_EQ(0, op.m_nParsed);
}

TEST_F(SoapFrame, Status400And500WithoutFaultAreParsed) {
    responder.Enqueue(400, PingAnswer("four hundred"));
    OpTestPing op(url);
    EXPECT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ("four hundred", op.m_strValue);
    responder.Enqueue(500, PingAnswer("five hundred"));
    OpTestPing op2(url);
    EXPECT_EQ(1, op2.Run(0, nullptr, 0, 0));
    EXPECT_EQ("five hundred", op2.m_strValue);
}

TEST_F(SoapFrame, Status404FailsWithTheStatusCode) {
    responder.Enqueue(404, "not here");
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(HV_E_HTTP_STATUS, op.m_hResult);
}

TEST_F(SoapFrame, BodyThatIsNotXmlFailsWithoutFaultTexts) {
    responder.Enqueue(200, "<html>proxy error page");
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_TRUE(op.m_strFaultCode.empty());
    EXPECT_TRUE(op.m_strFaultString.empty());
    EXPECT_TRUE(FAILED(op.m_hResult));
    EXPECT_EQ(0, op.m_nParsed);
}

TEST_F(SoapFrame, XmlThatIsNotAnEnvelopeIsMalformedSoap) {
    responder.Enqueue(200, "<answer/>");
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ("Malformed SOAP", op.m_strFaultCode);
    EXPECT_EQ("Malformed SOAP", op.m_strFaultString);
}

// A download answered with something other than its answer (a server's or a proxy's error page,
// an envelope without the answer element) fails in both parse modes: taken for an empty
// download, it would let the run push every Outlook item over the service's newer changes.
TEST_F(SoapFrame, ADownloadAnsweredWithoutItsAnswerElementFailsInBothParseModes) {
    const struct {
        DWORD status;
        const char* body;
    } answers[] = {
        {500, "<!DOCTYPE html><html><body><h1>500 Internal Server Error</h1></body></html>\n"},
        {200, "<html><body><p>Please sign in to the proxy</p></body></html>"},
        {200,
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<SOAP-ENV:Body></SOAP-ENV:Body></SOAP-ENV:Envelope>"},
    };
    for (DWORD sax : {1u, 0u}) {
        CConfig().SetKey("SAXParsing", sax);
        for (const auto& answer : answers) {
            SCOPED_TRACE(std::string(sax ? "streaming, " : "document walk, ") + answer.body);
            responder.Enqueue(answer.status, answer.body);
            OpGetMyTasks tasks(url);
            EXPECT_EQ(0, tasks.Run(0, nullptr, 0, 0));
            EXPECT_TRUE(FAILED(tasks.m_hResult));
            EXPECT_TRUE(tasks.m_records.empty());
            responder.Enqueue(answer.status, answer.body);
            OpGetMyEvents events(url);
            EXPECT_EQ(0, events.Run(0, nullptr, 0, 0));
            EXPECT_TRUE(FAILED(events.m_hResult));
        }
    }
    // Its answer element with no record in it is an empty download.
    CConfig().SetKey("SAXParsing", 1);
    responder.Enqueue(200, SoapAnswer("<ns1:GetMyTasksResponse></ns1:GetMyTasksResponse>"));
    OpGetMyTasks none(url);
    EXPECT_EQ(1, none.Run(0, nullptr, 0, 0)) << none.m_strFaultString;
    EXPECT_TRUE(none.m_records.empty());
}

TEST_F(SoapFrame, Status401IsRetriedOnceWithTheSameBody) {
    responder.Enqueue(401, "");
    responder.Enqueue(200, PingAnswer("second"));
    const size_t before = responder.Requests().size();
    OpTestPing op(url);
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    auto requests = responder.Requests();
    ASSERT_EQ(before + 2, requests.size());
    EXPECT_EQ(CTestResponder::Body(requests[before]), CTestResponder::Body(requests[before + 1]));
    EXPECT_EQ("second", op.m_strValue);
}

TEST_F(SoapFrame, FileModeRetryResendsTheBodyNotTheFilePath) {
    responder.Enqueue(401, "");
    responder.Enqueue(200, PingAnswer("again"));
    const size_t before = responder.Requests().size();
    OpTestPing op(url, true);
    op.m_strText = std::string(6000, 'z');
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    auto requests = responder.Requests();
    ASSERT_EQ(before + 2, requests.size());
    std::string first = CTestResponder::Body(requests[before]);
    std::string second = CTestResponder::Body(requests[before + 1]);
    EXPECT_EQ(first, second);
    EXPECT_NE(std::string::npos, second.find("<m:Ping"));
    EXPECT_EQ(std::string::npos, second.find("HVt"));
    EXPECT_FALSE(hv::FileExists(op.m_strRequest));
    EXPECT_EQ("again", op.m_strValue);
}

int g_errorDialogs = 0;
DWORD CountingErrorDialog(HINTERNET) {
    ++g_errorDialogs;
    return ERROR_SUCCESS;
}

TEST_F(SoapFrame, Status407AsksThroughTheErrorDialogAndRetries) {
    auto saved = CWebSvrOp::s_pfnErrorDialog;
    CWebSvrOp::s_pfnErrorDialog = &CountingErrorDialog;
    g_errorDialogs = 0;
    responder.Enqueue(407, "");
    responder.Enqueue(404, "");
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(HV_E_HTTP_STATUS, op.m_hResult);  // the final status decides
    EXPECT_EQ(1, g_errorDialogs);
    CWebSvrOp::s_pfnErrorDialog = saved;
}

TEST_F(SoapFrame, TimeoutSettingLimitsTheWaitForTheAnswer) {
    CConfig config;
    config.SetKey("Timeout", static_cast<DWORD>(1));
    responder.Enqueue(200, PingAnswer("late"), 2500);
    OpTestPing slow(url);
    EXPECT_EQ(0, slow.Run(0, nullptr, 0, 0));
    EXPECT_EQ(HV_E_CONNECTION, slow.m_hResult);
    ASSERT_TRUE(responder.WaitUntilAnswered(10000));  // the late answer goes out before the next one

    // 0 leaves the platform's own time-out in force, which outlasts a short delay.
    config.SetKey("Timeout", static_cast<DWORD>(0));
    responder.Enqueue(200, PingAnswer("in time"), 1200);
    OpTestPing patient(url);
    EXPECT_EQ(1, patient.Run(0, nullptr, 0, 0));
    EXPECT_EQ("in time", patient.m_strValue);
}

TEST_F(SoapFrame, TwoExchangesShareOneDebugCopyRoot) {
    ::DeleteFileA(CWebSvrOp::DebugCopyPath().c_str());
    ::RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Halvane\\Halvane for Outlook\\Advanced", "LogXML", REG_DWORD,
                      "\1\0\0\0", 4);
    responder.Enqueue(200, PingAnswer("one"));
    responder.Enqueue(200, PingAnswer("two"));
    OpTestPing first(url);
    ASSERT_EQ(1u, first.m_fKeepXml);
    ASSERT_EQ(1, first.Run(0, nullptr, 0, 0));
    OpTestPing second(url, false, true);
    second.m_strText = "again";
    ASSERT_EQ(1, second.Run(0, nullptr, 0, 0));
    std::string log;
    ASSERT_TRUE(hv::ReadWholeFile(CWebSvrOp::DebugCopyPath(), log));
    EXPECT_EQ(0u, log.find("<XmlLog>\n"));
    EXPECT_EQ(log.size() - 10, log.find("</XmlLog>\n"));
    EXPECT_EQ(log.find("<XmlLog>"), log.rfind("<XmlLog>"));
    EXPECT_EQ(log.find("</XmlLog>"), log.rfind("</XmlLog>"));
    EXPECT_NE(std::string::npos, log.find("<m:text>hello</m:text>"));
    EXPECT_NE(std::string::npos, log.find("<m:text>again</m:text>"));
    EXPECT_NE(std::string::npos, log.find("<ns1:value>one</ns1:value>"));
    EXPECT_NE(std::string::npos, log.find("<ns1:value>two</ns1:value>"));
    ::DeleteFileA(CWebSvrOp::DebugCopyPath().c_str());
}

// "Cancel All" while an answer is coming in: the operation goes with its answer half read. The
// connection it used must not serve the next exchange, or that one would read the rest of the
// abandoned answer as its own: whether the rest reaches the socket after the operation has gone,
// or is already waiting there unread when it goes.
TEST_F(SoapFrame, AnAnswerAbandonedHalfwayIsNeverReadByTheNextExchange) {
    for (const bool restBeforeCancel : {false, true}) {
        SCOPED_TRACE(restBeforeCancel ? "the rest already received" : "the rest sent after the cancel");
        responder.EnqueueHeld(200, PingAnswer(std::string(12000, 'x')), 4096 + 300);
        {
            OpTestPing op(url);
            HWND wnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
            for (int step = 0; step <= 3; ++step) ASSERT_EQ(1, op.Run(0, wnd, kStepMessage, step)) << step;
            ASSERT_EQ(1, op.Run(0, wnd, kStepMessage, 4));  // the first chunk; the rest is still to come
            EXPECT_EQ(0u, op.m_fAnswered);
            if (restBeforeCancel) {
                responder.ReleaseHeld();
                ASSERT_TRUE(responder.WaitUntilAnswered(10000));
            }
            ::DestroyWindow(wnd);
        }
        responder.ReleaseHeld();
        ASSERT_TRUE(responder.WaitUntilAnswered(10000));

        responder.Enqueue(200, PingAnswer("fresh"));
        OpTestPing next(url);
        EXPECT_EQ(1, next.Run(0, nullptr, 0, 0)) << next.m_strFaultString;
        EXPECT_EQ("fresh", next.m_strValue);
    }
}

// An exchange abandoned after its request went out whole but before its answer was read: "Cancel
// All" taken before the step that waits for the answer (the dialog shows "Receiving Response"),
// or a "Timeout" shorter than the server's delay. The answer still comes, late, down the
// connection the request used; no later exchange may read it as its own.
TEST_F(SoapFrame, AnAnswerNeverAwaitedIsNeverReadByTheNextExchange) {
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled before the wait" : "timed out in the wait");
        // A connection the platform keeps for reuse, as after any earlier exchange of a run.
        responder.Enqueue(200, PingAnswer("warm"));
        OpTestPing warm(url);
        ASSERT_EQ(1, warm.Run(0, nullptr, 0, 0));
        responder.Enqueue(200, PingAnswer("stale"), 1500);
        if (cancel) {
            OpTestPing op(url, true);
            HWND wnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
            MSG msg = {};
            for (int step = 0; step <= 1; ++step) {
                ASSERT_EQ(1, op.Run(0, wnd, kStepMessage, step)) << step;
                ASSERT_TRUE(::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE));
            }
            do {  // every chunk of the body, then the message for the step that waits
                ASSERT_EQ(1, op.Run(0, wnd, kStepMessage, 2));
                ASSERT_TRUE(::PeekMessageA(&msg, wnd, kStepMessage, kStepMessage, PM_REMOVE));
            } while (msg.wParam == 2);
            EXPECT_EQ(3u, msg.wParam);
            ::DestroyWindow(wnd);
        } else {
            CConfig config;
            config.SetKey("Timeout", static_cast<DWORD>(1));
            OpTestPing op(url);
            EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
            config.SetKey("Timeout", static_cast<DWORD>(0));
        }
        ASSERT_TRUE(responder.WaitUntilAnswered(10000));  // the late answer has gone out

        responder.Enqueue(200, PingAnswer("fresh"));
        OpTestPing next(url);
        EXPECT_EQ(1, next.Run(0, nullptr, 0, 0)) << next.m_strFaultString;
        EXPECT_EQ("fresh", next.m_strValue);
    }
}

TEST(SoapFrameUnreachable, RefusedConnectionReportsTheConnectionFailureText) {
    std::string url = ConnectTo(hvtest::Loopback(3).c_str());  // nothing listens there
    OpTestPing op(url);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(HV_E_CONNECTION, op.m_hResult);
    EXPECT_EQ(0u, op.m_strFaultString.find("An internal exception has occurred."));
    Disconnect();
    ResetProductKey();
}

// "SSL" 0 means plain HTTP on port 80: the responder listens on port 80 only, so an exchange
// that reaches it went there. A second Connect to the same URL keeps the connection, and the
// exchanges after it share one kept-alive TCP connection.
TEST_F(SoapFrame, SecondConnectReusesTheConnectionAndSslZeroUsesPort80) {
    EXPECT_EQ(0u, url.find("http://"));
    EXPECT_EQ(80u, CConfig().GetPort());
    CWebSvrAPI* api = TheAPI();
    ASSERT_NE(nullptr, api);
    HINTERNET connection = WebSvrShared().connection;
    EXPECT_EQ(S_OK, TheProtocol()->Connect(url));
    EXPECT_EQ(api, TheAPI());
    EXPECT_EQ(connection, WebSvrShared().connection);
    const size_t before = responder.Requests().size();
    responder.Enqueue(200, PingAnswer("port 80"));
    OpTestPing op(url);
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ("port 80", op.m_strValue);
    EXPECT_EQ(before + 1, responder.Requests().size());

    // Kept alive: the next exchange goes over the TCP connection the last one used.
    const int connections = responder.Connections();
    ASSERT_GE(connections, 1);
    responder.Enqueue(200, PingAnswer("again"));
    OpTestPing again(url);
    ASSERT_EQ(1, again.Run(0, nullptr, 0, 0));
    EXPECT_EQ("again", again.m_strValue);
    EXPECT_EQ(connections, responder.Connections());
    Disconnect();
    EXPECT_EQ(nullptr, TheAPI());
    EXPECT_EQ(nullptr, WebSvrShared().connection);
}

TEST(SoapConnection, FireUpWithoutProtocolObjectIsInvalidArgument) {
    Disconnect();
    EXPECT_EQ(E_INVALIDARG, CWebService::FireUpProtocol(0));
}

TEST(SoapUrl, SplitTakesHostAndPathIgnoringSchemeAndPort) {
    std::string host, path;
    SplitServiceURL("https://api.example:8443/soap/v2.2beta/", host, path);
    EXPECT_EQ("api.example:8443", host);
    EXPECT_EQ("/soap/v2.2beta/", path);
    SplitServiceURL("plainhost/x", host, path);
    EXPECT_EQ("plainhost", host);
    EXPECT_EQ("/x", path);
}

TEST(SoapEscaping, PunctuationAndControlBytes) {
    EXPECT_EQ("O&#39;Brien", CWebSvrOp::Escaped("O'Brien"));
    EXPECT_EQ("a&amp;b", CWebSvrOp::Escaped("a&b"));
    EXPECT_EQ("&lt;Team&gt; &quot;x&quot;", CWebSvrOp::Escaped("<Team> \"x\""));
    EXPECT_EQ("2009&#45;05&#45;01T13&#58;45&#58;10Z", CWebSvrOp::Escaped("2009-05-01T13:45:10Z"));
    EXPECT_EQ("a&#9;b\r\nc", CWebSvrOp::Escaped(std::string("a\tb\r\n\x01\x1f"
                                                            "c")));
    EXPECT_EQ("x.y;z", CWebSvrOp::Escaped("x.y;z"));
    EXPECT_EQ("&#127;&#126;&#95;", CWebSvrOp::Escaped("\x7f~_"));
}

TEST(SoapEscaping, BytesAbove127BecomeCharacterReferencesOfTheCodePage) {
    EXPECT_EQ("Caf&#233;", CWebSvrOp::Escaped("Caf\xE9"));
    EXPECT_EQ("it&#39;s &#39;q&#39;", CWebSvrOp::Escaped("it\x92s \x91q\x92"));
    EXPECT_EQ("&#8364;5", CWebSvrOp::Escaped("\x80"
                                             "5"));  // the euro sign of code page 1252
    EXPECT_EQ("&#8220;x&#8221;", CWebSvrOp::Escaped("\x93x\x94"));
}

// Text of a double-byte code page, converted with that code page explicitly.
std::string InCodePage(UINT codePage, const std::wstring& text) {
    int n =
        ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// In code pages 932, 936, 949 and 950 the bytes 145 and 146 are lead bytes: the character they
// start is referenced whole, never taken for an apostrophe.
TEST(SoapEscaping, DoubleByteTextBecomesReferencesOfItsCharacters) {
    std::string body = InCodePage(932, L"\u4F53");  // 0x91 0xCC in code page 932
    ASSERT_EQ("\x91\xCC", body);
    CWebSvrOp::EscapeXml(body, 932);
    EXPECT_EQ("&#20307;", body);
    std::string mixed = InCodePage(932, L"A\u4F53\u7389'B");
    CWebSvrOp::EscapeXml(mixed, 932);
    EXPECT_EQ("A&#20307;&#29577;&#39;B", mixed);
    // 0x92 leads characters of code pages 936 and 949 as well.
    std::string gbk = InCodePage(936, L"\u624F\u4E2D");
    ASSERT_EQ('\x92', gbk[0]);
    CWebSvrOp::EscapeXml(gbk, 936);
    EXPECT_EQ("&#25167;&#20013;", gbk);
    std::string korean = InCodePage(949, L"\uBB28");
    ASSERT_EQ('\x92', korean[0]);
    CWebSvrOp::EscapeXml(korean, 949);
    EXPECT_EQ("&#47912;", korean);
    // A single byte of 1252 keeps its apostrophe rule.
    std::string quote = "\x92";
    CWebSvrOp::EscapeXml(quote, 1252);
    EXPECT_EQ("&#39;", quote);
}

class WriteElementOp : public CWebSvrOp {
public:
    WriteElementOp() : CWebSvrOp("http://h/p/") {}
    int PrepareData() override { return 1; }
    int ParseResponse() override { return 1; }
};

TEST(SoapWriteElement, EmptyValuesNamesAndEscaping) {
    WriteElementOp op;
    EXPECT_EQ(E_INVALIDARG, op.WriteElement("", "", nullptr, false, true));
    EXPECT_EQ(S_OK, op.WriteElement("m:title", "", nullptr, true, true));
    EXPECT_EQ("", op.m_strRequest);
    EXPECT_EQ(S_OK, op.WriteElement("m:title", "", nullptr, false, true));
    EXPECT_EQ(S_OK, op.WriteElement("m:title", "R&D", nullptr, false, true));
    EXPECT_EQ(S_OK, op.WriteElement("m:raw", "R&D", nullptr, false, false));
    EXPECT_EQ(S_OK, op.WriteElement("", "<as-is/>", nullptr, false, true));
    EXPECT_EQ("<m:title></m:title>\n<m:title>R&amp;D</m:title>\n<m:raw>R&D</m:raw>\n<as-is/>", op.m_strRequest);
}

TEST(SoapWriteElement, HeaderBlockLines) {
    WriteElementOp op;
    op.AddHeader("A", "1", false);
    op.AddHeader("B", "2", true);
    op.AddHeader(nullptr, nullptr, false);
    EXPECT_EQ("A: 1\nB: \"2\"\r\n", op.m_strHeaders);
}

}  // namespace
