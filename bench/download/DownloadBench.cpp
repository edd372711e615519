// One measurement per process (so the peak memory belongs to it):
//   bench_download ADDRESS USER MODE      MODE = sax | dom | floor | transfer
// sax/dom: OpGetMyTasks with that parse; the time of the exchange is split into transfer
// (everything up to the parse) and parse (ParseResponse, which builds the records).
// floor: the answer is received to a file, then the platform's SAX reader runs over it with an
// empty handler. transfer: the answer is received to a file and not parsed.
// Prints one line: mode records total_s transfer_s parse_s peak_private_MB answer_MB.
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cstring>
#include <string>
#include "common/Config.h"
#include "service/OpGetMyTasks.h"
#include "service/Protocol.h"
#include "service/SAXHandlers.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Strings.h"
#include <shlwapi.h>

namespace {

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double PeakPrivateMB() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    return static_cast<double>(pmc.PeakPagefileUsage) / (1024.0 * 1024.0);
}

// Parses nothing: the floor that any handler stands on.
class CEmptyHandler : public CSAXContentHandler {};

class OpBench : public OpGetMyTasks {
public:
    OpBench(const std::string& url, const std::string& mode) : OpGetMyTasks(url), m_mode(mode) {
        if (mode == "floor" || mode == "transfer") m_fStreaming = 1;
    }
    int ParseResponse() override {
        m_tParseStart = Now();
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExA(m_strResponsePath.c_str(), GetFileExInfoStandard, &data))
            m_answerBytes = (static_cast<double>(data.nFileSizeHigh) * 4294967296.0) + data.nFileSizeLow;
        int result = 1;
        if (m_mode == "floor") {
            CSyncItemList none;
            m_hResult = StreamingParse(m_strResponsePath, new CEmptyHandler(), none);
        } else if (m_mode != "transfer") {
            result = OpGetMyTasks::ParseResponse();
        }
        m_tParseEnd = Now();
        return result;
    }
    std::string m_mode;
    double m_tParseStart = 0, m_tParseEnd = 0, m_answerBytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: bench_download ADDRESS USER sax|dom|floor|transfer\n");
        return 2;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = 0;
    {
        const std::string mode = argv[3];
        CConfig config;
        config.SetKey("Host", argv[1]);
        config.SetKey("SSL", static_cast<DWORD>(0));
        config.SetKey("Timeout", static_cast<DWORD>(600));
        config.SetKey("SAXParsing", static_cast<DWORD>(mode == "dom" ? 0 : 1));
        SetTheProtocol(new CProtocol(0));
        CWebService::FireUpProtocol(0);
        const std::string url = TheAPI() ? TheAPI()->m_strServiceURL : std::string();
        OpBench op(url, mode);
        op.m_strUser = argv[2];
        op.m_strPassword = "bench-pass";
        op.m_nOption = 1;
        const double start = Now();
        const int ok = op.Run(0, nullptr, 0, 0);
        const double end = Now();
        if (!ok || FAILED(op.m_hResult)) {
            fprintf(stderr, "bench_download: the download failed (0x%08lx) %s\n",
                    static_cast<unsigned long>(op.m_hResult), op.m_strFaultString.c_str());
            rc = 1;
        }
        const double parse = op.m_tParseEnd - op.m_tParseStart;
        printf("%s %zu %.3f %.3f %.3f %.1f %.1f\n", mode.c_str(), op.m_records.size(), end - start,
               (end - start) - parse, parse, PeakPrivateMB(), op.m_answerBytes / (1024.0 * 1024.0));
        SetTheProtocol(nullptr);
    }
    ::CoUninitialize();
    return rc;
}
