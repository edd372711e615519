// Add-in start-up as the host sees it: the time inside OnConnection plus OnStartupComplete
// (nothing synchronises: "SyncAtStartup" is 0), and the time until Outlook's "Startup" event
// returns after the silent login against the reference service. HvOut.dll is loaded from the
// build tree and its class object taken from DllGetClassObject, as COM would after a lookup in
// the registry. Usage: bench_startup.exe <service address> <HvOut.dll> [starts]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "addin/OfficeInterfaces.h"
#include "common/Config.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComPtr.h"
#include "win/Strings.h"

namespace {

double Ms(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup.exe <service address> <HvOut.dll> [starts] [items per folder]\n");
        return 2;
    }
    const std::string address = argv[1];
    const int starts = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    // The add-in sinks the task and calendar folders at start-up: a full mailbox must not make
    // that slower. Seeding happens before the clock starts.
    const int items = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;
    if (FAILED(::OleInitialize(nullptr))) return 2;

    HMODULE dll = ::LoadLibraryW(hv::ToWide(argv[2]).c_str());
    if (!dll) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 1;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    FARPROC proc = ::GetProcAddress(dll, "DllGetClassObject");
    GetClassObjectFn getClassObject = nullptr;
    memcpy(&getClassObject, &proc, sizeof(getClassObject));
    hv::com_ptr<IClassFactory> factory;
    if (!getClassObject || FAILED(getClassObject(hv::office::CLSID_OutAddIn, IID_IClassFactory, factory.put_void()))) {
        std::fprintf(stderr, "no class object\n");
        return 1;
    }

    const std::string user = hv::Format("startup%lu", ::GetCurrentProcessId());
    e2e::Admin admin(address);
    admin.Send("POST", "/admin/users", {{"username", user}, {"password", "bench-pass"}, {"full_name", "Start Up"}});
    CConfig config;
    config.DeleteAllSettings();
    config.SetKey("Host", address);
    config.SetKey("SSL", static_cast<DWORD>(0));
    config.SetCredentials(user, "bench-pass");
    config.SetSyncAtStartup(0);

    std::printf(
        "version items starts connect_startup_median_ms connect_startup_first_ms connect_startup_max_ms "
        "startup_event_median_ms startup_event_first_ms logins\n");
    int status = 0;
    for (int version : {11, 14}) {
        std::vector<double> connect, startup;
        const long long seq = admin.LastSeq();
        for (int i = 0; i < starts; ++i) {
            hvsim::SimOutlook outlook;
            outlook.SetVersion(version);
            for (int n = 0; n < items; ++n) {
                outlook.Seed(hvsim::olFolderTasks, {{"Subject", hv::Format("Task %d", n)}});
                outlook.Seed(hvsim::olFolderCalendar, {{"Subject", hv::Format("Meeting %d", n)}});
            }
            hv::com_ptr<IDTExtensibility2> addin;
            if (FAILED(factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), addin.put_void()))) return 1;
            LARGE_INTEGER t0, t1, t2, t3;
            ::QueryPerformanceCounter(&t0);
            HRESULT hr = addin->OnConnection(outlook.Application(), ext_cm_Startup, nullptr, nullptr);
            if (SUCCEEDED(hr)) hr = addin->OnStartupComplete(nullptr);
            ::QueryPerformanceCounter(&t1);
            ::QueryPerformanceCounter(&t2);
            outlook.FireStartup();
            ::QueryPerformanceCounter(&t3);
            if (FAILED(hr)) status = 1;
            connect.push_back(Ms(t0, t1));
            startup.push_back(Ms(t2, t3));
            addin->OnBeginShutdown(nullptr);
            addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
        }
        long logins = 0;
        for (const auto& m : admin.MethodsSince(seq)) logins += m == "CheckPluginVersion";
        if (logins != starts) status = 1;
        std::printf("%d %d %d %.2f %.2f %.2f %.2f %.2f %ld\n", version, items, starts, Median(connect), connect.front(),
                    *std::max_element(connect.begin(), connect.end()), Median(startup), startup.front(), logins);
    }
    config.DeleteAllSettings();
    factory.reset();
    ::OleUninitialize();
    return status;
}
