// The add-in object, its class factory and its sinks, created directly in this process and
// connected to the simulated Outlook: the COM edge cases, the ribbon documents and image, the
// start-up steps per Outlook version and host, and the shutdown.
#include <gtest/gtest.h>
#include <windows.h>
#include <msxml2.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "addin/ExplorerEvents.h"
#include "addin/ItemEvents.h"
#include "addin/ItemWindowsEvents.h"
#include "addin/ItemsEvents.h"
#include "addin/OutAddIn.h"
#include "addin/OutAddInCF.h"
#include "addin/OutlookEvents.h"
#include "addin/WordEvents.h"
#include "common/Config.h"
#include "common/Registration.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "service/Msxml.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

using hv::office::CLSID_OutAddIn;

namespace {

constexpr const char* kNs = "http://schemas.microsoft.com/office/2006/01/customui";

// The four documents exactly as they ship.
const std::pair<const char*, std::string> kRibbons[] = {
    {"Microsoft.Outlook.Mail.Read",
     std::string("<customUI xmlns=\"") + kNs +
         "\"><ribbon><tabs><tab idMso=\"TabReadMessage\"><group id=\"hvAddGroup\" label=\"Halvane\"><button "
         "id=\"hvAdd\" getImage=\"GetCustomImage\" size=\"large\" label=\"Add to HV\" screentip=\"Add mail item to "
         "Halvane\" onAction=\"hvAddClicked\"/></group></tab></tabs></ribbon></customUI>"},
    {"Microsoft.Outlook.Explorer",
     std::string("<customUI xmlns=\"") + kNs +
         "\"><ribbon><tabs>"
         "<tab idMso=\"TabTasks\"><group id=\"hvSyncTasksGroup\" label=\"Halvane\"><button id=\"hvSyncTasks\" "
         "getImage=\"GetCustomImage\" size=\"large\" label=\"Sync with HV\" screentip=\"Synchronize with Halvane\" "
         "onAction=\"hvSyncClicked\"/></group></tab>"
         "<tab idMso=\"TabContacts\"><group id=\"hvSyncContactsGroup\" label=\"Halvane\"><button "
         "id=\"hvSyncContacts\" getImage=\"GetCustomImage\" size=\"large\" label=\"Sync with HV\" "
         "screentip=\"Synchronize with Halvane\" onAction=\"hvSyncClicked\"/></group></tab>"
         "<tab idMso=\"TabCalendar\"><group id=\"hvSyncCalendarGroup\" label=\"Halvane\"><button "
         "id=\"hvSyncCalendar\" getImage=\"GetCustomImage\" size=\"large\" label=\"Sync with HV\" "
         "screentip=\"Synchronize with Halvane\" onAction=\"hvSyncClicked\"/></group></tab>"
         "<tab idMso=\"TabMail\"><group id=\"hvAddGroup\" label=\"Halvane\"><button id=\"hvAdd\" "
         "getImage=\"GetCustomImage\" size=\"large\" label=\"Add to HV\" screentip=\"Add mail item to Halvane\" "
         "onAction=\"hvAddClicked\"/></group></tab>"
         "</tabs></ribbon></customUI>"},
    {"Microsoft.Outlook.Task",
     std::string("<customUI xmlns=\"") + kNs +
         "\"><ribbon><tabs><tab idMso=\"TabTask\"><group id=\"hvAddGroup\" label=\"Halvane\"><button id=\"hvAdd\" "
         "getImage=\"GetCustomImage\" size=\"large\" label=\"Add to HV\" screentip=\"Add task to Halvane\" "
         "onAction=\"hvAddClicked\"/></group></tab></tabs></ribbon></customUI>"},
    {"Microsoft.Outlook.Appointment",
     std::string("<customUI xmlns=\"") + kNs +
         "\"><ribbon><tabs><tab idMso=\"TabAppointment\"><group id=\"hvAddGroup\" label=\"Halvane\"><button "
         "id=\"hvAdd\" getImage=\"GetCustomImage\" size=\"large\" label=\"Add to HV\" screentip=\"Add event to "
         "Halvane\" onAction=\"hvAddClicked\"/></group></tab></tabs></ribbon></customUI>"},
};

// A new add-in object through the class factory, as the host gets it.
hv::com_ptr<IDTExtensibility2> NewAddIn() {
    hv::com_ptr<IClassFactory> factory;
    EXPECT_EQ(S_OK, COutAddInCF::GetClassObject(CLSID_OutAddIn, IID_IClassFactory, factory.put_void()));
    hv::com_ptr<IDTExtensibility2> addin;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), addin.put_void()));
    return addin;
}

COutAddIn* Impl(const hv::com_ptr<IDTExtensibility2>& p) {
    return static_cast<COutAddIn*>(p.get());
}

size_t Sinks(IDispatch* source, const IID& iid) {
    return source ? static_cast<hvsim::CSimObject*>(source)->SinkCount(iid) : 0;
}

hv::com_ptr<IDispatch> Prop(IDispatch* object, const wchar_t* name) {
    hv::unique_variant v;
    if (FAILED(CDispatcher::GetProperty(object, name, v.put()))) return nullptr;
    return hv::com_ptr<IDispatch>(v.AsDispatch());
}

std::string CustomUI(IDTRibbonExtensibility* ribbon, const char* id, HRESULT* hr = nullptr) {
    hv::unique_bstr in = hv::MakeBstr(std::string(id));
    BSTR out = nullptr;
    HRESULT result = ribbon->GetCustomUI(in.get(), &out);
    if (hr) *hr = result;
    std::string text = out ? hv::ToAnsi(out) : std::string();
    ::SysFreeString(out);
    return text;
}

class AddInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, CHvOutModule::LiveObjects());
        // Items seeded here are data, not the user's additions to send (and there is no service).
        CConfig().SetAutoPush(0);
    }
    void TearDown() override { EXPECT_EQ(S_OK, CHvOutModule::CanUnloadNow()); }
};

}  // namespace

// ---- COM edge cases -------------------------------------------------------------------------

TEST_F(AddInTest, QueryInterfaceAnswersItsInterfacesAndTheRibbonOnlyOnceConnected) {
    auto addin = NewAddIn();
    EXPECT_EQ(E_POINTER, addin->QueryInterface(IID_IUnknown, nullptr));
    hv::com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, addin->QueryInterface(IID_IUnknown, unknown.put_void()));
    hv::com_ptr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, addin->QueryInterface(IID_IDispatch, dispatch.put_void()));
    EXPECT_EQ(static_cast<IDispatch*>(addin.get()), dispatch.get());
    hv::com_ptr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE, addin->QueryInterface(IID_IClassFactory, other.put_void()));
    EXPECT_EQ(nullptr, other.get());

    hv::com_ptr<IDTRibbonExtensibility> ribbon;
    EXPECT_EQ(E_NOINTERFACE, addin->QueryInterface(hv::office::IID_IRibbonExtensibility, ribbon.put_void()));
    hvsim::SimOutlook outlook;
    ASSERT_EQ(S_OK, addin->OnConnection(outlook.Application(), ext_cm_Startup, nullptr, nullptr));
    EXPECT_EQ(S_OK, addin->QueryInterface(hv::office::IID_IRibbonExtensibility, ribbon.put_void()));
    EXPECT_TRUE(CHvOutModule::RibbonAsked());
    ribbon.reset();
    EXPECT_EQ(S_OK, addin->OnBeginShutdown(nullptr));
    EXPECT_EQ(S_OK, addin->OnDisconnection(ext_dm_HostShutdown, nullptr));
    EXPECT_EQ(E_POINTER, addin->OnConnection(nullptr, ext_cm_Startup, nullptr, nullptr));
}

TEST_F(AddInTest, GetIDsOfNamesKnowsTheImageAndTheButtonCallbacksCaseSensitively) {
    auto addin = NewAddIn();
    DISPID id = 0;
    auto lookup = [&](const wchar_t* name, const IID& riid = IID_NULL, UINT count = 1) {
        LPOLESTR names[2] = {const_cast<LPOLESTR>(name), const_cast<LPOLESTR>(name)};
        return addin->GetIDsOfNames(riid, names, count, 0x400, &id);
    };
    EXPECT_EQ(S_OK, lookup(L"GetCustomImage"));
    EXPECT_EQ(1, id);
    EXPECT_EQ(S_OK, lookup(L"hvSyncClicked"));
    EXPECT_EQ(2, id);
    EXPECT_EQ(S_OK, lookup(L"hvAddClicked"));
    EXPECT_EQ(3, id);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, lookup(L"hvaddclicked"));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, lookup(L"OnConnection"));
    EXPECT_EQ(E_INVALIDARG, lookup(L"hvAddClicked", IID_NULL, 2));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, lookup(L"hvAddClicked", IID_IDispatch));
    EXPECT_EQ(E_POINTER, addin->GetIDsOfNames(IID_NULL, nullptr, 1, 0x400, &id));
    LPOLESTR name = const_cast<LPOLESTR>(L"hvAddClicked");
    EXPECT_EQ(E_POINTER, addin->GetIDsOfNames(IID_NULL, &name, 1, 0x400, nullptr));
    UINT count = 5;
    EXPECT_EQ(E_FAIL, addin->GetTypeInfoCount(&count));
    ITypeInfo* info = nullptr;
    EXPECT_EQ(E_FAIL, addin->GetTypeInfo(0, 0, &info));
}

TEST_F(AddInTest, InvokeChecksInterfaceMemberArgumentsAndAnswersTheImageAsABitmapPicture) {
    auto addin = NewAddIn();
    hv::unique_variant control = hv::unique_variant::FromLong(0);
    hv::unique_variant result;
    DISPPARAMS one = {&control, nullptr, 1, 0};
    VARIANT two[2];
    ::VariantInit(&two[0]);
    ::VariantInit(&two[1]);
    DISPPARAMS twoArgs = {two, nullptr, 2, 0};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              addin->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, addin->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, addin->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              addin->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &twoArgs, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              addin->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &twoArgs, &result, nullptr, nullptr));

    ASSERT_EQ(S_OK, addin->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    ASSERT_EQ(VT_DISPATCH, result.vt);
    hv::com_ptr<IPicture> picture;
    ASSERT_EQ(S_OK, result.pdispVal->QueryInterface(IID_IPicture, picture.put_void()));
    SHORT type = 0;
    EXPECT_EQ(S_OK, picture->get_Type(&type));
    EXPECT_EQ(PICTYPE_BITMAP, type);
    OLE_HANDLE handle = 0;
    ASSERT_EQ(S_OK, picture->get_Handle(&handle));
    BITMAP bm = {};
    ASSERT_NE(0, ::GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), sizeof(bm), &bm));
    EXPECT_EQ(32, bm.bmWidth);
    EXPECT_EQ(32, bm.bmHeight);

    // The button callbacks answer without an Outlook behind them.
    hv::unique_variant none;
    EXPECT_EQ(S_OK, addin->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &one, &none, nullptr, nullptr));
    EXPECT_EQ(S_OK, addin->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &one, &none, nullptr, nullptr));
}

TEST_F(AddInTest, GetCustomUIReturnsEachOfTheFourDocumentsAndNothingForOtherRibbons) {
    auto addin = NewAddIn();
    hvsim::SimOutlook outlook;
    ASSERT_EQ(S_OK, addin->OnConnection(outlook.Application(), ext_cm_Startup, nullptr, nullptr));
    hv::com_ptr<IDTRibbonExtensibility> ribbon;
    ASSERT_EQ(S_OK, addin->QueryInterface(hv::office::IID_IRibbonExtensibility, ribbon.put_void()));
    for (const auto& [id, expected] : kRibbons) {
        HRESULT hr = E_FAIL;
        EXPECT_EQ(expected, CustomUI(ribbon.get(), id, &hr)) << id;
        EXPECT_EQ(S_OK, hr);
    }
    HRESULT hr = E_FAIL;
    EXPECT_EQ("", CustomUI(ribbon.get(), "Microsoft.Outlook.Mail.Compose", &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ("", CustomUI(ribbon.get(), "microsoft.outlook.explorer", &hr));
    hv::unique_bstr in = hv::MakeBstr(std::string("Microsoft.Outlook.Task"));
    EXPECT_EQ(E_POINTER, ribbon->GetCustomUI(in.get(), nullptr));
    ribbon.reset();
    addin->OnBeginShutdown(nullptr);
    addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
}

TEST_F(AddInTest, EachDocumentParsesInTheCustomUINamespaceAndNamesKnownCallbacks) {
    auto addin = NewAddIn();
    for (const auto& [id, text] : kRibbons) {
        hv::com_ptr<IXMLDOMDocument> doc;
        ASSERT_EQ(S_OK, ::CoCreateInstance(hv::msxml::CLSID_DOMDocumentVI, nullptr, CLSCTX_INPROC_SERVER,
                                           __uuidof(IXMLDOMDocument), doc.put_void()));
        VARIANT_BOOL ok = VARIANT_FALSE;
        hv::unique_bstr xml = hv::MakeBstr(text);
        ASSERT_EQ(S_OK, doc->loadXML(xml.get(), &ok)) << id;
        ASSERT_EQ(VARIANT_TRUE, ok) << id;
        hv::com_ptr<IXMLDOMElement> root;
        ASSERT_EQ(S_OK, doc->get_documentElement(root.put()));
        BSTR ns = nullptr;
        root->get_namespaceURI(&ns);
        EXPECT_EQ(kNs, hv::ToAnsi(ns ? ns : L""));
        ::SysFreeString(ns);
        hv::com_ptr<IXMLDOMNodeList> buttons;
        hv::unique_bstr all = hv::MakeBstr(std::string("//*"));
        ASSERT_EQ(S_OK, doc->selectNodes(all.get(), buttons.put()));
        long count = 0;
        buttons->get_length(&count);
        int seen = 0;
        for (long i = 0; i < count; ++i) {
            hv::com_ptr<IXMLDOMNode> node;
            buttons->get_item(i, node.put());
            BSTR name = nullptr;
            node->get_baseName(&name);
            const bool isButton = hv::ToAnsi(name ? name : L"") == "button";
            ::SysFreeString(name);
            if (!isButton) continue;
            ++seen;
            hv::com_ptr<IXMLDOMElement> element = node.query<IXMLDOMElement>();
            for (const wchar_t* attr : {L"onAction", L"getImage"}) {
                hv::unique_variant value;
                hv::unique_bstr attrName = hv::MakeBstr(attr);
                ASSERT_EQ(S_OK, element->getAttribute(attrName.get(), value.put()));
                const std::wstring callback = hv::ToWide(value.AsString());
                LPOLESTR names[1] = {const_cast<LPOLESTR>(callback.c_str())};
                DISPID dispid = 0;
                EXPECT_EQ(S_OK, addin->GetIDsOfNames(IID_NULL, names, 1, 0x400, &dispid)) << value.AsString();
            }
        }
        EXPECT_EQ(std::string(id) == "Microsoft.Outlook.Explorer" ? 4 : 1, seen) << id;
    }
}

TEST_F(AddInTest, ClassFactoryRefusesAggregationForeignClassesAndCountsLocks) {
    hv::com_ptr<IClassFactory> factory;
    EXPECT_EQ(E_POINTER, COutAddInCF::GetClassObject(CLSID_OutAddIn, IID_IClassFactory, nullptr));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              COutAddInCF::GetClassObject(IID_IDispatch, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(E_NOINTERFACE, COutAddInCF::GetClassObject(CLSID_OutAddIn, IID_IDispatch, factory.put_void()));
    ASSERT_EQ(S_OK, COutAddInCF::GetClassObject(CLSID_OutAddIn, IID_IClassFactory, factory.put_void()));

    hv::com_ptr<IUnknown> object;
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.get(), IID_IUnknown, object.put_void()));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, object.put_void()));
    EXPECT_EQ(0, CHvOutModule::LiveObjects());
    EXPECT_EQ(S_OK, CHvOutModule::CanUnloadNow());

    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, object.put_void()));
    EXPECT_EQ(1, CHvOutModule::LiveObjects());
    EXPECT_EQ(S_FALSE, CHvOutModule::CanUnloadNow());
    object.reset();
    EXPECT_EQ(S_OK, CHvOutModule::CanUnloadNow());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, CHvOutModule::CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, CHvOutModule::CanUnloadNow());
}

// ---- start-up and shutdown ----------------------------------------------------------------

TEST_F(AddInTest, Outlook11StartupConnectsFolderInspectorApplicationAndExplorerSinks) {
    hvsim::SimOutlook outlook;
    outlook.SetVersion(11);
    EXPECT_EQ("11", COutAddIn::OutlookVersion());
    auto addin = NewAddIn();
    COutAddIn* impl = Impl(addin);
    IDispatch* app = outlook.Application();
    ASSERT_EQ(S_OK, addin->OnConnection(app, ext_cm_Startup, nullptr, nullptr));
    // Start-up mode: nothing is sunk before the host says start-up is complete.
    EXPECT_EQ(0u, Sinks(app, hv::office::IID_ApplicationEvents));
    ASSERT_EQ(S_OK, addin->OnStartupComplete(nullptr));

    EXPECT_EQ(1u, Sinks(app, hv::office::IID_ApplicationEvents));
    ASSERT_NE(nullptr, impl->m_pCalendarItemsEvents);
    ASSERT_NE(nullptr, impl->m_pTasksItemsEvents);
    EXPECT_EQ(1u, Sinks(impl->m_calendarItems.AsDispatch(), hv::office::IID_ItemsEvents));
    EXPECT_EQ(1u, Sinks(impl->m_tasksItems.AsDispatch(), hv::office::IID_ItemsEvents));
    EXPECT_EQ(1u, Sinks(impl->m_pInspectors, hv::office::IID_InspectorsEvents));
    auto explorer = Prop(app, L"ActiveExplorer");
    EXPECT_EQ(1u, Sinks(explorer.get(), hv::office::IID_ExplorerEvents));
    EXPECT_EQ(nullptr, impl->m_pWordEvents);

    // Folder events reach the folder sinks.
    auto task = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "Paint the fence"}});
    outlook.EditAndSave(task, {{"Subject", "Paint the fence twice"}});
    EXPECT_GE(impl->m_pTasksItemsEvents->m_nChanges, 1);

    // An inspector on a saved task: item sink, class and link read; a new mail: sink, no link.
    {
        hvsim::SimOutlook::SetUserProperty(*task, "HV Record ID", std::string("77"));
        outlook.OpenInspector(task);
        ASSERT_EQ(1u, impl->m_pInspectorsEvents->m_contexts.size());
        CInspectorContext& ctx = *impl->m_pInspectorsEvents->m_contexts.back();
        EXPECT_EQ(hv::office::olTask, ctx.m_lClass);
        EXPECT_EQ(1, ctx.m_fExisting);
        EXPECT_EQ("77", ctx.m_target.m_strID);
        EXPECT_EQ("", ctx.m_target.m_strCatID);
        EXPECT_FALSE(ctx.m_strEntryID.empty());
        ASSERT_NE(nullptr, ctx.m_pItemEvents);
        EXPECT_TRUE(ctx.m_pItemEvents->IsConnected());
        outlook.CloseInspector(task);
        EXPECT_EQ(ctx.m_strEntryID, impl->m_pLastClosed->m_strData);
        EXPECT_FALSE(ctx.m_pItemEvents->IsConnected());
    }

    ASSERT_EQ(S_OK, addin->OnBeginShutdown(nullptr));
    EXPECT_EQ(0u, Sinks(app, hv::office::IID_ApplicationEvents));
    EXPECT_EQ(0u, Sinks(explorer.get(), hv::office::IID_ExplorerEvents));
    EXPECT_EQ(nullptr, impl->m_pInspectorsEvents);
    EXPECT_EQ(nullptr, impl->m_pOutlookEvents);
    EXPECT_EQ(nullptr, impl->m_pCalendarItemsEvents);
    EXPECT_EQ(nullptr, impl->m_pTasksItemsEvents);
    EXPECT_EQ(nullptr, impl->m_pExplorerEvents);
    EXPECT_EQ(nullptr, impl->m_pInspectors);
    ASSERT_EQ(S_OK, addin->OnDisconnection(ext_dm_HostShutdown, nullptr));
    EXPECT_EQ(nullptr, impl->m_pApplication);
    explorer.reset();
    addin.reset();
    EXPECT_EQ(S_OK, CHvOutModule::CanUnloadNow());
}

TEST_F(AddInTest, Outlook14GetsNoExplorerSinkAndALateLoadStartsInsideOnConnection) {
    hvsim::SimOutlook outlook;
    outlook.SetVersion(14);
    EXPECT_EQ("14", COutAddIn::OutlookVersion());
    auto addin = NewAddIn();
    COutAddIn* impl = Impl(addin);
    IDispatch* app = outlook.Application();
    ASSERT_EQ(S_OK, addin->OnConnection(app, ext_cm_AfterStartup, nullptr, nullptr));
    EXPECT_EQ(1u, Sinks(app, hv::office::IID_ApplicationEvents));
    EXPECT_NE(nullptr, impl->m_pInspectorsEvents);
    EXPECT_EQ(nullptr, impl->m_pExplorerEvents);
    auto explorer = Prop(app, L"ActiveExplorer");
    EXPECT_EQ(0u, Sinks(explorer.get(), hv::office::IID_ExplorerEvents));
    // A host that still calls OnStartupComplete does not get everything twice.
    ASSERT_EQ(S_OK, addin->OnStartupComplete(nullptr));
    EXPECT_EQ(1u, Sinks(app, hv::office::IID_ApplicationEvents));
    // A user-initiated unload runs the whole shutdown.
    ASSERT_EQ(S_OK, addin->OnDisconnection(ext_dm_UserClosed, nullptr));
    EXPECT_EQ(0u, Sinks(app, hv::office::IID_ApplicationEvents));
    EXPECT_EQ(nullptr, impl->m_pInspectorsEvents);
    EXPECT_EQ(nullptr, impl->m_pApplication);
}

TEST_F(AddInTest, CurVerMissingMeansVersion11AndNinesSortAfterThirteen) {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer");
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer");
    EXPECT_EQ("11", COutAddIn::OutlookVersion());
    EXPECT_FALSE(CRegistration::VersionBelow("9", "13"));
    EXPECT_TRUE(CRegistration::VersionBelow("11", "12"));
    EXPECT_FALSE(CRegistration::VersionBelow("14", "13"));
}

namespace {

// Word as the host of Outlook's mail editor: a named application that raises Word's events.
class FakeWord : public hvsim::CSimObject {
public:
    FakeWord() { AddConnectionPoint(hv::office::IID_WordApplicationEvents2); }
    const char* TypeName() const override { return "Application"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> names = {"Name"};
        return names;
    }
    void Call(int, bool, hvsim::Args&, VARIANT* result) override { hvsim::SetText(result, "Microsoft Word"); }
};

}  // namespace

TEST_F(AddInTest, AWordHostGetsOnlyTheWordSink) {
    auto word = hvsim::MakeSim<FakeWord>();
    auto addin = NewAddIn();
    COutAddIn* impl = Impl(addin);
    ASSERT_EQ(S_OK, addin->OnConnection(word.get(), ext_cm_Startup, nullptr, nullptr));
    ASSERT_EQ(S_OK, addin->OnStartupComplete(nullptr));
    EXPECT_EQ(1u, word->SinkCount(hv::office::IID_WordApplicationEvents2));
    EXPECT_NE(nullptr, impl->m_pWordEvents);
    EXPECT_EQ(nullptr, impl->m_pOutlookEvents);
    EXPECT_EQ(nullptr, impl->m_pInspectorsEvents);
    EXPECT_EQ(nullptr, impl->m_pTasksItemsEvents);
    ASSERT_EQ(S_OK, addin->OnBeginShutdown(nullptr));
    EXPECT_EQ(0u, word->SinkCount(hv::office::IID_WordApplicationEvents2));
    ASSERT_EQ(S_OK, addin->OnDisconnection(ext_dm_HostShutdown, nullptr));
}

// ---- sink services ----------------------------------------------------------------------------

namespace {

class SinkTest : public AddInTest {
protected:
    void SetUp() override {
        AddInTest::SetUp();
        ::InitializeCriticalSection(&m_cs);
        m_sink.AddRef();
        m_sink.m_pApplication = m_outlook.Application();
        m_sink.m_pcs = &m_cs;
        m_sink.m_pfOperation = &m_flag;
        CConfig().DeleteAllSettings();
    }
    void TearDown() override {
        CConfig().DeleteAllSettings();
        ::DeleteCriticalSection(&m_cs);
        AddInTest::TearDown();
    }
    hvsim::SimOutlook m_outlook;
    CRITICAL_SECTION m_cs;
    LONG m_flag = 0;
    COutlookEvents m_sink;
};

}  // namespace

TEST_F(SinkTest, TimeToSyncNeedsAQuantumAndAStoredMarkOlderThanIt) {
    CConfig config;
    EXPECT_FALSE(m_sink.IsTimeToSync());  // no mark stored for either kind
    config.SetKey("LastEventSync", "2001-01-01T00:00:00Z");
    EXPECT_TRUE(m_sink.IsTimeToSync());
    config.SetSyncQuantum(0);
    EXPECT_FALSE(m_sink.IsTimeToSync());
    config.SetSyncQuantum(120);
    config.SetKey("LastEventSync", CConfig::NowStamp());
    config.SetKey("LastTaskSync", "not a time");
    EXPECT_FALSE(m_sink.IsTimeToSync());
}

TEST_F(SinkTest, TheOperationFlagIsTakenOnceAndDoSynchLeavesAHeldFlagAlone) {
    EXPECT_TRUE(m_sink.TakeOperation());
    EXPECT_FALSE(m_sink.TakeOperation());
    EXPECT_TRUE(m_sink.TestOperation());
    m_sink.DoSynch(nullptr, nullptr);  // another operation runs: no dialog, flag untouched
    EXPECT_EQ(1, m_flag);
    EXPECT_EQ(nullptr, TheProtocol());
    m_sink.ClearOperation();
    EXPECT_FALSE(m_sink.TestOperation());
    m_sink.m_pcs = nullptr;
    EXPECT_FALSE(m_sink.TakeOperation());  // without a critical section nothing is taken
}

TEST_F(SinkTest, OfflineStartupDoesNothingAndParentWindowFallsBackToTheDesktop) {
    m_outlook.SetOffline(true);
    EXPECT_TRUE(m_sink.IsOffline(FALSE));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    m_sink.OnInvoke(COutlookEvents::DISPID_STARTUP, &none);
    EXPECT_EQ(nullptr, TheProtocol());
    m_outlook.SetOffline(false);
    EXPECT_FALSE(m_sink.IsOffline(FALSE));
    // The simulator's explorer window has the explorer's caption.
    EXPECT_EQ(m_outlook.ExplorerWindow(), m_sink.GetParentWindow(CEventHandler::PREFER_EXPLORER));
    // No inspector is open: "either" falls back to the explorer, "inspector" to the desktop.
    EXPECT_EQ(m_outlook.ExplorerWindow(), m_sink.GetParentWindow(CEventHandler::PREFER_EITHER));
    EXPECT_EQ(::GetDesktopWindow(), m_sink.GetParentWindow(CEventHandler::PREFER_INSPECTOR));
}

TEST_F(SinkTest, SinkDispatchChecksLikeTheAddInAndSwallowsHandlerTrouble) {
    DISPID id = 0;
    LPOLESTR startup = const_cast<LPOLESTR>(L"Startup");
    EXPECT_EQ(S_OK, m_sink.GetIDsOfNames(IID_NULL, &startup, 1, 0x400, &id));
    EXPECT_EQ(0xF006, id);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, m_sink.GetIDsOfNames(IID_IDispatch, &startup, 1, 0x400, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              m_sink.Invoke(0xF004, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              m_sink.Invoke(0xF002, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, m_sink.Invoke(0xF007, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, m_sink.Invoke(0xF007, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    hv::com_ptr<IUnknown> source;
    EXPECT_EQ(S_OK, m_sink.QueryInterface(hv::office::IID_ApplicationEvents, source.put_void()));
    EXPECT_EQ(E_NOINTERFACE, m_sink.QueryInterface(hv::office::IID_ItemsEvents, source.put_void()));
    UINT count = 7;
    EXPECT_EQ(S_OK, m_sink.GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
}

TEST_F(SinkTest, AChangeHookSwitchesTheFolderSinkOffAndOnAgain) {
    auto* items = new CItemsEvents;
    items->AddRef();
    hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
    hv::unique_variant ns, folder, coll;
    ASSERT_EQ(S_OK, CDispatcher::CallMethod(m_outlook.Application(), L"GetNamespace", ns.put(), 1, &mapi));
    hv::unique_variant id = hv::unique_variant::FromLong(13);
    ASSERT_EQ(S_OK, CDispatcher::CallMethod(ns.AsDispatch(), L"GetDefaultFolder", folder.put(), 1, &id));
    ASSERT_EQ(S_OK, CDispatcher::GetProperty(folder.AsDispatch(), L"Items", coll.put()));
    ASSERT_EQ(S_OK, items->Connect(coll.AsDispatch()));
    CChangeHook hook(items, coll.AsDispatch());
    hook.Disable(&m_cs);
    EXPECT_EQ(0u, Sinks(coll.AsDispatch(), hv::office::IID_ItemsEvents));
    hook.Enable(&m_cs);
    EXPECT_EQ(1u, Sinks(coll.AsDispatch(), hv::office::IID_ItemsEvents));
    hook.Disable(nullptr);  // no critical section: nothing happens
    EXPECT_EQ(1u, Sinks(coll.AsDispatch(), hv::office::IID_ItemsEvents));
    items->Disconnect();
    items->Release();
}
