#include <gtest/gtest.h>
#include <regex>
#include <string>
#include "RegistryFixture.h"
#include "common/DiagLog.h"
#include "win/Errors.h"
#include "win/Files.h"

using namespace hvtest;

namespace {

class DiagLog : public RegistryTest {
protected:
    void TearDown() override {
        for (const std::string& f : m_files) ::DeleteFileA(f.c_str());
        RegistryTest::TearDown();
    }
    // Keeps the log file for removal after the test.
    std::string Track(const CDiagLog& log) {
        std::string name = log.GetFileName();
        if (!name.empty()) m_files.push_back(name);
        return name;
    }
    static std::string Contents(const std::string& file) {
        std::string data;
        hv::ReadWholeFile(file, data);
        return data;
    }
    static void EnableLog(DWORD diagnose = 1) { PutDword(kAdvancedPath, L"Diagnose", diagnose); }

    std::vector<std::string> m_files;
};

// The console echo is left out of most tests: it only clutters the test output.
constexpr DWORD kNoConsole = CDiagLog::OUT_CONSOLE;

TEST_F(DiagLog, OffWithoutRegistrySwitch) {
    CDiagLog log(kNoConsole);
    EXPECT_FALSE(log.IsEnabled());
    EXPECT_EQ(0u, log.GetOutputFlags());
    EXPECT_EQ(0u, log.GetMask());
    EXPECT_EQ("", log.GetFileName());
    log.LogComment("nothing happens");
    log.LogBlockEnter("CFoo::Bar");
    EXPECT_EQ(0, log.GetDepth());
    // Reading the switches creates no key.
    EXPECT_FALSE(KeyExists(kProductPath));
}

TEST_F(DiagLog, DiagnoseTwoStaysOff) {
    EnableLog(2);
    CDiagLog log(kNoConsole);
    EXPECT_FALSE(log.IsEnabled());
    EXPECT_EQ(0u, log.GetOutputFlags());
    EXPECT_EQ("", log.GetFileName());
}

TEST_F(DiagLog, FlagsZeroGivesXmlFileAndConsole) {
    EnableLog();
    PutDword(kAdvancedPath, L"Flags", 0);
    {
        CDiagLog log;
        Track(log);
        EXPECT_TRUE(log.IsEnabled());
        EXPECT_EQ(409u, log.GetOutputFlags());
        EXPECT_EQ(15u, log.GetMask());
        EXPECT_TRUE(log.IsFileOpen());
        EXPECT_EQ(0u, log.GetOutputFlags() & CDiagLog::OUT_MSGBOX);
    }
}

TEST_F(DiagLog, FlagsAreOredIn) {
    EnableLog();
    PutDword(kAdvancedPath, L"Flags", 4 | 64);
    CDiagLog log(kNoConsole);
    Track(log);
    EXPECT_EQ((409u | 4u | 64u) & ~kNoConsole, log.GetOutputFlags());
}

TEST_F(DiagLog, FileNameHeaderAndClosingTag) {
    EnableLog();
    std::string name;
    {
        CDiagLog log(kNoConsole);
        name = Track(log);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(0u, name.find(hv::TempFolder() + "\\vxmDebug ("));
        EXPECT_TRUE(std::regex_search(name, std::regex(R"(\\vxmDebug \(\d{2}-\d{2}-\d{4} \d{2} \d{2} \d{2}\)\.xml$)")))
            << name;
        std::string data = Contents(name);
        EXPECT_TRUE(std::regex_match(
            data,
            std::regex(
                R"(<\?xml version="1\.0" encoding="UTF-8"\?><Diagnostics><time>\d{2}/\d{2}/\d{4} \(\d{2}:\d{2}:\d{2}\)</time>)")))
            << data;
    }
    std::string data = Contents(name);
    ASSERT_GE(data.size(), 15u);
    EXPECT_EQ("</Diagnostics>\n", data.substr(data.size() - 15));
}

TEST_F(DiagLog, CommentEscapesLessThanAndAmpersand) {
    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    log.LogComment("a<b & c");
    std::string data = Contents(name);
    EXPECT_NE(std::string::npos, data.find(">a&lt;b &amp; c</comment>\n")) << data;
    EXPECT_EQ(std::string::npos, data.find("a<b"));
}

TEST_F(DiagLog, CommentCarriesLocalTimeStampAttribute) {
    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    log.LogComment("hello");
    std::string data = Contents(name);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        data, m, std::regex(R"(<comment time="(\d{4})-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}">hello</comment>\n)")))
        << data;
    SYSTEMTIME lt;
    ::GetLocalTime(&lt);
    EXPECT_EQ(std::to_string(lt.wYear), m[1].str());
}

TEST_F(DiagLog, RecordsInXmlForm) {
    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    log.LogError("disk full");
    log.LogWarning("slow");
    log.LogBlockEnter("CWebSvrOp::Run");
    log.LogBlockExit("CWebSvrOp::Run");
    log.LogCommentFmt("Name=%s", "SyncQuantum");
    log.LogCommentNum("Value=%ld", -42);
    std::string data = Contents(name);
    EXPECT_NE(std::string::npos, data.find("<error><details>disk full</details></error>\n"));
    EXPECT_NE(std::string::npos, data.find("<warning><details>slow</details></warning>\n"));
    EXPECT_NE(std::string::npos, data.find("<block_enter>CWebSvrOp&#58;&#58;Run</block_enter>"));
    EXPECT_NE(std::string::npos, data.find("<block_exit>CWebSvrOp&#58;&#58;Run</block_exit>"));
    EXPECT_NE(std::string::npos, data.find("\">Name&#61;SyncQuantum</comment>\n"));
    EXPECT_NE(std::string::npos, data.find("\">Value&#61;&#45;42</comment>\n"));
}

TEST_F(DiagLog, LongFormattedCommentWarnsFirst) {
    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    log.LogCommentFmt("Value=%s", std::string(1100, 'x'));
    std::string data = Contents(name);
    size_t warn = data.find(
        "<warning><details>The follow comment might be truncated due to wsprintf limitation</details></warning>");
    size_t comment = data.find("Value&#61;xxx");
    ASSERT_NE(std::string::npos, warn);
    ASSERT_NE(std::string::npos, comment);
    EXPECT_LT(warn, comment);
    log.LogCommentFmt(nullptr, "x");
    log.LogCommentFmt("x%s", static_cast<const char*>(nullptr));
}

TEST_F(DiagLog, TextFormGetsOnlyTheHeader) {
    EnableLog();
    CDiagLog log(CDiagLog::OUT_XML | kNoConsole);
    std::string name = Track(log);
    EXPECT_EQ((409u & ~CDiagLog::OUT_XML) & ~kNoConsole, log.GetOutputFlags());
    ASSERT_EQ(".txt", name.substr(name.size() - 4));
    log.LogComment("only on the console");
    log.LogError("nor this");
    std::string data = Contents(name);
    EXPECT_TRUE(
        std::regex_match(data, std::regex("=+\r\nLog Time: \\d{2}/\\d{2}/\\d{4} \\(\\d{2}:\\d{2}:\\d{2}\\)\r\n=+\r\n")))
        << data;
    EXPECT_EQ("=========================================\r\n", data.substr(0, 43));
}

TEST_F(DiagLog, BlockDepthFollowsEntryAndExit) {
    EnableLog();
    CDiagLog log(kNoConsole);
    Track(log);
    log.LogBlockEnter("A");
    log.LogBlockEnter("B");
    EXPECT_EQ(2, log.GetDepth());
    log.LogBlockExit("B");
    log.LogBlockExit("A");
    EXPECT_EQ(0, log.GetDepth());
    log.LogBlockExit("stray");
    EXPECT_EQ(-1, log.GetDepth());
}

TEST_F(DiagLog, EscapeTable) {
    char out[256];
    CDiagLog::EscapeText("\t!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\x7F", out, sizeof(out));
    EXPECT_STREQ(
        "&#9;&#33;&quot;&#35;&#36;&#37;&amp;&#39;&#40;&#41;&#42;&#43;&#44;&#45;.&#47;&#58;;&lt;&#61;&gt;&#63;"
        "&#64;&#91;&#92;&#93;&#94;&#95;&#96;&#123;&#124;&#125;&#126;&#127;",
        out);
    CDiagLog::EscapeText("Az09 .;\r\n\x01\x1F\x91\x92\xE9\x80\xFF", out, sizeof(out));
    EXPECT_STREQ("Az09 .;\r\n&#39;&#39;", out);
}

TEST_F(DiagLog, EscapeStopsAtBufferLimitWithoutSplittingAnEntity) {
    std::string text(5000, '<');
    char out[CDiagLog::BUFFER_SIZE];
    size_t n = CDiagLog::EscapeText(text.c_str(), out, sizeof(out));
    EXPECT_EQ(1023u * 4u, n);
    EXPECT_EQ(n, strlen(out));
    EXPECT_EQ("&lt;", std::string(out + n - 4));

    std::string plain(5000, 'a');
    n = CDiagLog::EscapeText(plain.c_str(), out, sizeof(out));
    EXPECT_EQ(4095u, n);

    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    log.LogComment(text);
    std::string data = Contents(name);
    size_t start = data.find("\">&lt;");
    size_t end = data.find("</comment>");
    ASSERT_NE(std::string::npos, start);
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(1023u * 4u, end - start - 2);
}

TEST_F(DiagLog, InstallsItselfAsFailureLogger) {
    EnableLog();
    CDiagLog log(kNoConsole);
    std::string name = Track(log);
    ASSERT_NE(nullptr, hv::FailureLogger());
    LOG_IF_FAILED(E_ACCESSDENIED);
    std::string data = Contents(name);
    EXPECT_NE(std::string::npos, data.find("<error><details>0x80070005")) << data;
}

}  // namespace

// The library closes its log from its own shutdown: the root element is closed then, and
// records that come later are dropped instead of landing after it.
TEST_F(DiagLog, ShutdownClosesTheFileAndDropsLaterRecords) {
    EnableLog();
    CDiagLog log(kNoConsole);
    const std::string name = Track(log);
    ASSERT_FALSE(name.empty());
    log.LogComment("before");
    log.Shutdown();
    EXPECT_FALSE(log.IsEnabled());
    log.LogComment("after");
    log.LogError("after");
    log.Shutdown();  // a second call changes nothing
    const std::string data = Contents(name);
    EXPECT_NE(std::string::npos, data.find("before"));
    EXPECT_EQ(std::string::npos, data.find("after"));
    ASSERT_GE(data.size(), 15u);
    EXPECT_EQ("</Diagnostics>\n", data.substr(data.size() - 15));
    EXPECT_EQ(data.find("</Diagnostics>"), data.rfind("</Diagnostics>"));
}
