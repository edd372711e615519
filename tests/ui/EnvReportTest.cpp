// The environment report: Windows texts from given version data, the Outlook text from a small
// late-bound stand-in for Outlook's Application, and the system's own data.
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <vector>
#include "common/EnvReport.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"

namespace {

// A late-bound object whose members are functions; enough of Outlook for the report.
class CFakeDispatch : public IDispatch {
public:
    virtual ~CFakeDispatch() = default;
    using Member = std::function<HRESULT(DISPPARAMS*, VARIANT*)>;
    void Add(const std::wstring& name, Member member) {
        m_names.push_back(name);
        m_members.push_back(std::move(member));
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = --m_refs;
        if (!refs) delete this;
        return refs;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return E_INVALIDARG;
        for (size_t i = 0; i < m_names.size(); ++i)
            if (_wcsicmp(m_names[i].c_str(), names[0]) == 0) {
                ids[0] = static_cast<DISPID>(i + 1);
                return S_OK;
            }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id < 1 || static_cast<size_t>(id) > m_members.size()) return DISP_E_MEMBERNOTFOUND;
        if (result) ::VariantInit(result);
        return m_members[static_cast<size_t>(id - 1)](params, result);
    }

private:
    ULONG m_refs = 1;
    std::vector<std::wstring> m_names;
    std::vector<Member> m_members;
};

CFakeDispatch::Member Text(const wchar_t* text) {
    std::wstring value = text;
    return [value](DISPPARAMS*, VARIANT* result) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = ::SysAllocString(value.c_str());
        return S_OK;
    };
}

CFakeDispatch::Member Object(CFakeDispatch* object) {
    return [object](DISPPARAMS*, VARIANT* result) {
        object->AddRef();
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = object;
        return S_OK;
    };
}

// An Outlook with this version and add-ins; a null description cannot be read.
hv::com_ptr<IDispatch> FakeOutlook(const wchar_t* version, const std::vector<const wchar_t*>& descriptions) {
    std::vector<CFakeDispatch*> addIns;
    for (const wchar_t* d : descriptions) {
        auto* addIn = new CFakeDispatch;
        if (d)
            addIn->Add(L"Description", Text(d));
        else
            addIn->Add(L"Description", [](DISPPARAMS*, VARIANT*) { return E_ACCESSDENIED; });
        addIns.push_back(addIn);
    }
    auto* collection = new CFakeDispatch;
    collection->Add(L"Count", [n = static_cast<LONG>(addIns.size())](DISPPARAMS*, VARIANT* result) {
        V_VT(result) = VT_I4;
        V_I4(result) = n;
        return S_OK;
    });
    auto holder = std::make_shared<std::vector<hv::com_ptr<IDispatch>>>();
    for (auto* a : addIns) {
        hv::com_ptr<IDispatch> p;
        p.attach(a);
        holder->push_back(p);
    }
    collection->Add(L"Item", [holder](DISPPARAMS* params, VARIANT* result) {
        if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        hv::unique_variant index;
        if (FAILED(::VariantChangeType(index.addressof(), &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        LONG i = V_I4(index.addressof());
        if (i < 1 || static_cast<size_t>(i) > holder->size()) return E_INVALIDARG;
        IDispatch* item = (*holder)[static_cast<size_t>(i - 1)].get();
        item->AddRef();
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = item;
        return S_OK;
    });
    auto* app = new CFakeDispatch;
    app->Add(L"Version", Text(version));
    app->Add(L"COMAddIns", Object(collection));
    hv::com_ptr<IDispatch> keepCollection;
    keepCollection.attach(collection);
    auto keep = std::make_shared<hv::com_ptr<IDispatch>>(keepCollection);
    app->Add(L"Keep", [keep](DISPPARAMS*, VARIANT*) { return S_OK; });
    hv::com_ptr<IDispatch> result;
    result.attach(app);
    return result;
}

CWinVersionData Nt(DWORD major, DWORD minor, DWORD build, const char* sp, BYTE type, WORD arch) {
    CWinVersionData d;
    d.dwPlatformId = VER_PLATFORM_WIN32_NT;
    d.dwMajor = major;
    d.dwMinor = minor;
    d.dwBuild = build;
    d.strServicePack = sp;
    d.bProductType = type;
    d.wArchitecture = arch;
    return d;
}

TEST(EnvReport, WindowsXpProfessionalServicePack3) {
    EXPECT_EQ(
        "<Windows>Microsoft Windows XP Professional Service Pack 3 (build 2600)</Windows>",
        CEnvReport::WindowsText(Nt(5, 1, 2600, "Service Pack 3", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL)));
    CWinVersionData home = Nt(5, 1, 2600, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL);
    home.wSuiteMask = VER_SUITE_PERSONAL;
    EXPECT_EQ("<Windows>Microsoft Windows XP Home Edition (build 2600)</Windows>", CEnvReport::WindowsText(home));
}

TEST(EnvReport, VistaHomePremium64Bit) {
    CWinVersionData d = Nt(6, 0, 6002, "Service Pack 2", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64);
    d.dwProductInfo = 3;
    EXPECT_EQ("<Windows>Microsoft Windows Vista Home Premium Edition, 64-bit Service Pack 2 (build 6002)</Windows>",
              CEnvReport::WindowsText(d));
    d.bProductType = VER_NT_SERVER;
    d.dwProductInfo = 8;
    d.wArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    EXPECT_EQ("<Windows>Microsoft Windows Server 2008 Datacenter Edition, 32-bit Service Pack 2 (build 6002)</Windows>",
              CEnvReport::WindowsText(d));
}

TEST(EnvReport, NewerWindowsAreNamedToo) {
    EXPECT_EQ(
        "<Windows>Microsoft Windows 7 , 64-bit Service Pack 1 (build 7601)</Windows>",
        CEnvReport::WindowsText(Nt(6, 1, 7601, "Service Pack 1", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64)));
    EXPECT_EQ("<Windows>Microsoft Windows Server 2012 R2 , 64-bit (build 9600)</Windows>",
              CEnvReport::WindowsText(Nt(6, 3, 9600, "", VER_NT_SERVER, PROCESSOR_ARCHITECTURE_AMD64)));
    EXPECT_EQ("<Windows>Microsoft Windows 10 , 64-bit (build 19045)</Windows>",
              CEnvReport::WindowsText(Nt(10, 0, 19045, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64)));
    EXPECT_EQ("<Windows>Microsoft Windows 11 , 64-bit (build 22631)</Windows>",
              CEnvReport::WindowsText(Nt(10, 0, 22631, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64)));
}

TEST(EnvReport, Server2003AndWindows2000ByProductAndSuite) {
    CWinVersionData d = Nt(5, 2, 3790, "Service Pack 2", VER_NT_SERVER, PROCESSOR_ARCHITECTURE_INTEL);
    d.wSuiteMask = VER_SUITE_ENTERPRISE;
    EXPECT_EQ("<Windows>Microsoft Windows Server 2003, Enterprise Edition Service Pack 2 (build 3790)</Windows>",
              CEnvReport::WindowsText(d));
    d.nServerR2 = 1;
    d.wArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    d.wSuiteMask = 0;
    EXPECT_EQ("<Windows>Microsoft Windows Server 2003 R2, Standard x64 Edition Service Pack 2 (build 3790)</Windows>",
              CEnvReport::WindowsText(d));
    EXPECT_EQ("<Windows>Microsoft Windows XP Professional x64 Edition (build 3790)</Windows>",
              CEnvReport::WindowsText(Nt(5, 2, 3790, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64)));
    CWinVersionData w2k = Nt(5, 0, 2195, "Service Pack 4", VER_NT_SERVER, PROCESSOR_ARCHITECTURE_INTEL);
    w2k.wSuiteMask = VER_SUITE_DATACENTER;
    EXPECT_EQ("<Windows>Microsoft Windows 2000 Datacenter Server Service Pack 4 (build 2195)</Windows>",
              CEnvReport::WindowsText(w2k));
}

TEST(EnvReport, OldOrForeignSystemsGiveNoText) {
    EXPECT_EQ("", CEnvReport::WindowsText(Nt(4, 0, 1381, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL)));
    CWinVersionData nine = Nt(5, 1, 2600, "", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL);
    nine.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ("", CEnvReport::WindowsText(nine));
}

TEST(EnvReport, LongServicePackTextIsCutAt255Characters) {
    std::string text = CEnvReport::WindowsText(
        Nt(5, 1, 2600, std::string(400, 'x').c_str(), VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL));
    EXPECT_EQ(255u + std::string("<Windows></Windows>").size(), text.size());
}

TEST(EnvReport, WithoutOutlookTheOutlookTextIsEmptyElement) {
    CEnvReport report(nullptr);
    EXPECT_EQ("<Outlook></Outlook>", report.m_strOutlook);
    EXPECT_EQ(" 1.1.0.9", report.m_strVersion);
    EXPECT_EQ(0u, report.m_strWindows.find("<Windows>Microsoft Windows "));  // read by RtlGetVersion
    EXPECT_EQ(report.m_strWindows + "<Outlook></Outlook>", report.Environment());
}

TEST(EnvReport, OutlookVersionAndAddInsEscapedAndUnreadableOnesLeftOut) {
    hv::com_ptr<IDispatch> app = FakeOutlook(L"16.0.0.<1>", {L"Halvane & Co <beta>", nullptr, L"Plain"});
    CEnvReport report(app.get(), Nt(5, 1, 2600, "Service Pack 3", VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL));
    EXPECT_EQ(
        "<Outlook><version>16.0.0.&lt;1&gt;</version><COM AddIns><add-in>Halvane &amp; Co &lt;beta&gt;</add-in>"
        "<add-in>Plain</add-in></COM AddIns></Outlook>",
        report.m_strOutlook);
    EXPECT_EQ("<Windows>Microsoft Windows XP Professional Service Pack 3 (build 2600)</Windows>" + report.m_strOutlook,
              report.Environment());
}

}  // namespace
