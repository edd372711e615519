// The options page in its container: what it shows from the settings, what Apply stores, when
// it tells the site it is dirty, and the credential test against the reference service.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <atomic>
#include <string>
#include <vector>
#include "OptionsTestSupport.h"
#include "PageContainer.h"
#include "options/PropPage.h"
#include "options/resource.h"
#include "win/ComTypes.h"

using hv::uiauto::Automation;
using hvtest::PageContainer;
using hvtest::PageDriver;

namespace {

std::atomic<int> g_beeps{0};
void CountBeep() {
    ++g_beeps;
}

HRESULT CreatePage(IUnknown** page) {
    return CPropPage::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(page));
}

class OptionsPage : public ::testing::Test {
protected:
    void SetUp() override {
        hvtest::DeleteSettings();
        hvtest::UseService(hvtest::ServiceAddress());
        g_beeps = 0;
        CPropPage::s_pfnBeep = &CountBeep;
    }
    void TearDown() override { hvtest::DeleteSettings(); }

    DWORD Number(const char* name) {
        DWORD value = 0xDEADBEEF;
        EXPECT_TRUE(hvtest::GetNumber(name, value)) << name;
        return value;
    }

    void Open(const std::function<void(Automation&, PageDriver&)>& driver) {
        m_container = std::make_unique<PageContainer>(&CreatePage);
        m_container->Run(driver);
        EXPECT_EQ(S_OK, m_container->m_hrSetClientSite);
        EXPECT_EQ(S_OK, m_container->m_hrDoVerb);
    }

    std::unique_ptr<PageContainer> m_container;
};

TEST_F(OptionsPage, ShowsTheStoredSettingsAndTheLibraryVersion) {
    hvtest::StoreCredentials("alice", "alice-pass");
    hvtest::PutNumber("SyncQuantum", 30);
    hvtest::PutNumber("SyncAtStartup", 1);
    hvtest::PutNumber("AutoPush", 0);
    hvtest::PutNumber("DeleteOutlookItems", 0);
    hvtest::PutNumber("DeleteHVItems", 1);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        EXPECT_EQ("alice", ui.GetText(dlg, IDC_USERNAME));
        EXPECT_EQ("alice-pass", ui.GetText(dlg, IDC_PASSWORD));
        EXPECT_TRUE(::GetWindowLongW(Automation::Control(dlg, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_SYNC_AUTOMATICALLY));
        EXPECT_TRUE(ui.IsEnabled(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ("30", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_SYNC_AT_STARTUP));
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_AUTO_PUSH));
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_DELETE_OUTLOOK_ITEMS));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_DELETE_HV_ITEMS));
        // The container is hidden, so the controls' own styles tell what a user would see.
        EXPECT_FALSE(hvtest::HasVisibleStyle(dlg, IDC_DELETE_HV_ITEMS));
        EXPECT_TRUE(hvtest::HasVisibleStyle(dlg, IDC_DELETE_OUTLOOK_ITEMS));
        EXPECT_EQ(" 1.1.0.9", ui.GetText(dlg, IDC_VERSION));
        EXPECT_EQ("", ui.GetText(dlg, IDC_TEST_RESULT));
        EXPECT_EQ("Synchronize Automatically every", ui.GetText(dlg, IDC_SYNC_AUTOMATICALLY));
        EXPECT_EQ("Synchronize when Outlook Starts", ui.GetText(dlg, IDC_SYNC_AT_STARTUP));
        EXPECT_EQ("Push Outlook changes to Halvane as they occur", ui.GetText(dlg, IDC_AUTO_PUSH));
        EXPECT_EQ("Delete Items in Outlook when deleted in Halvane", ui.GetText(dlg, IDC_DELETE_OUTLOOK_ITEMS));
        EXPECT_EQ("Delete Items in Halvane when deleted in Outlook", ui.GetText(dlg, IDC_DELETE_HV_ITEMS));
        EXPECT_EQ("Test Credentials", ui.GetText(dlg, IDC_TEST_CREDENTIALS));
        EXPECT_FALSE(page.Dirty());
        EXPECT_EQ(0, page.StatusChanges());
    });
}

TEST_F(OptionsPage, FreshProfileShowsTheDefaults) {
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        EXPECT_EQ("", ui.GetText(dlg, IDC_USERNAME));
        EXPECT_EQ("", ui.GetText(dlg, IDC_PASSWORD));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_SYNC_AUTOMATICALLY));
        EXPECT_EQ("120", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_SYNC_AT_STARTUP));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_AUTO_PUSH));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_DELETE_OUTLOOK_ITEMS));
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_DELETE_HV_ITEMS));
    });
}

TEST_F(OptionsPage, SyncQuantumZeroOpensUntickedWithDisabledFifteenAndTickingStoresFifteen) {
    hvtest::PutNumber("SyncQuantum", 0);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_SYNC_AUTOMATICALLY));
        EXPECT_FALSE(ui.IsEnabled(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ("15", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        ui.SetChecked(dlg, IDC_SYNC_AUTOMATICALLY, true);
        EXPECT_TRUE(ui.IsEnabled(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(15u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, TypingTwoAndLeavingTheBoxShowsFiveBeepsAndStoresFive) {
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        page.Focus(IDC_SYNC_QUANTUM);
        ui.SetText(dlg, IDC_SYNC_QUANTUM, "");
        ui.TypeText(dlg, IDC_SYNC_QUANTUM, "2");
        EXPECT_EQ("2", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ(0, g_beeps.load());
        page.Focus(IDC_SYNC_AT_STARTUP);
        EXPECT_EQ("5", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ(1, g_beeps.load());
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(5u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, LeavingTheBoxWithFiveOrMoreNeitherChangesNorBeeps) {
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        page.Focus(IDC_SYNC_QUANTUM);
        ui.SetText(dlg, IDC_SYNC_QUANTUM, "");
        ui.TypeText(dlg, IDC_SYNC_QUANTUM, "5");
        page.Focus(IDC_SYNC_AT_STARTUP);
        EXPECT_EQ("5", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ(0, g_beeps.load());
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(5u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, ZeroWithTheBoxUntickedStoresZero) {
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        ui.SetChecked(dlg, IDC_SYNC_AUTOMATICALLY, false);
        EXPECT_FALSE(ui.IsEnabled(dlg, IDC_SYNC_QUANTUM));
        ui.SetText(dlg, IDC_SYNC_QUANTUM, "0");
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(0u, Number("SyncQuantum"));
    EXPECT_EQ(0, g_beeps.load());
}

TEST_F(OptionsPage, ApplyBelowFiveWithoutLeavingTheBoxStoresFive) {
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        ui.SetText(page.Page(), IDC_SYNC_QUANTUM, "3");
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(5u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, HiddenDeleteHVItemsIsRewrittenByEveryApply) {
    hvtest::PutNumber("DeleteHVItems", 0);
    Open([&](Automation&, PageDriver& page) {
        hvtest::DeleteValue("DeleteHVItems");
        EXPECT_EQ(S_OK, page.Apply());
        DWORD value = 7;
        EXPECT_TRUE(hvtest::GetNumber("DeleteHVItems", value));
        EXPECT_EQ(0u, value);
        hvtest::PutNumber("DeleteHVItems", 1);
        EXPECT_EQ(S_OK, page.Apply());
        EXPECT_TRUE(hvtest::GetNumber("DeleteHVItems", value));
        EXPECT_EQ(0u, value);
    });
}

TEST_F(OptionsPage, ApplyWithNothingChangedRewritesEveryValueAndTheCredentials) {
    hvtest::StoreCredentials("bob", "bob-pass");
    hvtest::PutNumber("SyncQuantum", 45);
    hvtest::PutNumber("SyncAtStartup", 1);
    hvtest::PutNumber("AutoPush", 0);
    hvtest::PutNumber("DeleteOutlookItems", 1);
    hvtest::PutNumber("DeleteHVItems", 0);
    Open([&](Automation&, PageDriver& page) {
        // Whatever happened to the settings since the page opened, Apply writes what it shows.
        hvtest::DeleteSettings();
        EXPECT_FALSE(page.Dirty());
        EXPECT_EQ(S_OK, page.Apply());
    });
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("bob", user);
    EXPECT_EQ("bob-pass", password);
    EXPECT_EQ(45u, Number("SyncQuantum"));
    EXPECT_EQ(1u, Number("SyncAtStartup"));
    EXPECT_EQ(0u, Number("AutoPush"));
    EXPECT_EQ(1u, Number("DeleteOutlookItems"));
    EXPECT_EQ(0u, Number("DeleteHVItems"));
    EXPECT_EQ(0, m_container->m_statusChanges.load());
}

TEST_F(OptionsPage, ApplyStoresEditedCredentialsAndSwitches) {
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        ui.TypeText(dlg, IDC_USERNAME, "carol");
        ui.SetText(dlg, IDC_PASSWORD, "pa\tss");
        ui.SetChecked(dlg, IDC_SYNC_AT_STARTUP, true);
        ui.SetChecked(dlg, IDC_AUTO_PUSH, false);
        ui.SetChecked(dlg, IDC_DELETE_OUTLOOK_ITEMS, false);
        EXPECT_TRUE(page.Dirty());
        EXPECT_EQ(S_OK, page.Apply());
        // Applied: nothing is left for the container to apply.
        EXPECT_FALSE(page.Dirty());
    });
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("carol", user);
    EXPECT_EQ("pa\tss", password);
    EXPECT_EQ(120u, Number("SyncQuantum"));
    EXPECT_EQ(1u, Number("SyncAtStartup"));
    EXPECT_EQ(0u, Number("AutoPush"));
    EXPECT_EQ(0u, Number("DeleteOutlookItems"));
    EXPECT_EQ(1u, Number("DeleteHVItems"));
}

TEST_F(OptionsPage, EditsSurviveDeactivationUntilApplied) {
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        ui.SetText(page.Page(), IDC_USERNAME, "carol");
        ui.SetText(page.Page(), IDC_SYNC_QUANTUM, "2");
        ui.SetChecked(page.Page(), IDC_AUTO_PUSH, false);
        ASSERT_EQ(S_OK, page.Deactivate());
        EXPECT_FALSE(::IsWindow(page.Page()));
        // Back on screen: the edits, not the settings.
        HWND dlg = page.Reactivate();
        ASSERT_NE(nullptr, dlg);
        EXPECT_EQ("carol", ui.GetText(dlg, IDC_USERNAME));
        EXPECT_EQ("2", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_AUTO_PUSH));
        EXPECT_TRUE(page.Dirty());
        // Gone again, then applied without a window.
        ASSERT_EQ(S_OK, page.Deactivate());
        EXPECT_EQ(S_OK, page.Apply());
        EXPECT_FALSE(page.Dirty());
        // Applied edits are forgotten: the next window shows the settings.
        hvtest::PutNumber("AutoPush", 1);
        dlg = page.Reactivate();
        ASSERT_NE(nullptr, dlg);
        EXPECT_TRUE(ui.IsChecked(dlg, IDC_AUTO_PUSH));
    });
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("carol", user);
    EXPECT_EQ(5u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, CredentialsTooLongToStoreFailApplyAndKeepTheOldOnes) {
    hvtest::StoreCredentials("alice", "alice-pass");
    Open([&](Automation& ui, PageDriver& page) {
        ui.SetText(page.Page(), IDC_PASSWORD, std::string(140, 'x'));
        EXPECT_EQ(E_INVALIDARG, page.Apply());
        EXPECT_TRUE(page.Dirty());
    });
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("alice-pass", password);
    EXPECT_EQ(120u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, DirtyReachesTheSiteOnlyAfterInitialisationOncePerTrigger) {
    hvtest::StoreCredentials("alice", "alice-pass");
    hvtest::PutNumber("SyncQuantum", 30);
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        // Filling the controls from the settings is no change.
        EXPECT_EQ(0, page.StatusChanges());
        EXPECT_FALSE(page.Dirty());
        int expected = 0;
        auto expectOneMore = [&](const char* trigger) {
            ++expected;
            EXPECT_TRUE(ui.WaitUntil([&] { return page.StatusChanges() >= expected; })) << trigger;
            ui.Settle(dlg);
            EXPECT_EQ(expected, page.StatusChanges()) << trigger;
        };
        ui.TypeText(dlg, IDC_USERNAME, "x");
        expectOneMore("text change in 28000");
        ui.TypeText(dlg, IDC_PASSWORD, "y");
        expectOneMore("text change in 28001");
        ui.SetText(dlg, IDC_SYNC_QUANTUM, "45");
        expectOneMore("text change in 28010");
        page.Focus(IDC_SYNC_QUANTUM);
        EXPECT_EQ(expected, page.StatusChanges()) << "entering 28010";
        page.Focus(IDC_USERNAME);
        expectOneMore("leaving 28010");
        ui.Click(dlg, IDC_SYNC_AT_STARTUP);
        expectOneMore("click on 28006");
        ui.Click(dlg, IDC_SYNC_AUTOMATICALLY);
        expectOneMore("click on 28007");
        ui.Click(dlg, IDC_AUTO_PUSH);
        expectOneMore("click on 28008");
        ui.Click(dlg, IDC_DELETE_OUTLOOK_ITEMS);
        expectOneMore("click on 28009");
        Automation::Command(dlg, IDC_DELETE_HV_ITEMS);
        expectOneMore("click on 28011");
        // The container read Dirty at each notification and found the page dirty every time.
        std::vector<bool> dirty = page.DirtyAtStatusChanges();
        EXPECT_EQ(static_cast<size_t>(expected), dirty.size());
        for (size_t i = 0; i < dirty.size(); ++i) EXPECT_TRUE(dirty[i]) << "notification " << i;
        EXPECT_TRUE(page.Dirty());
        // The test button changes no setting.
        hvtest::UseService(hvtest::DeadAddress());
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Connection failed!"; }));
        EXPECT_EQ(expected, page.StatusChanges());
    });
}

TEST_F(OptionsPage, TabMovesTheFocusThroughThePageControls) {
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        page.Focus(IDC_USERNAME);
        auto focused = [&] {
            GUITHREADINFO info{};
            info.cbSize = sizeof(info);
            ::GetGUIThreadInfo(::GetWindowThreadProcessId(dlg, nullptr), &info);
            return info.hwndFocus ? ::GetDlgCtrlID(info.hwndFocus) : 0;
        };
        EXPECT_EQ(IDC_USERNAME, focused());
        // The key goes through the container's loop, which hands it to the active object.
        ::PostMessageW(Automation::Control(dlg, IDC_USERNAME), WM_KEYDOWN, VK_TAB, 0);
        EXPECT_TRUE(ui.WaitUntil([&] { return focused() == IDC_PASSWORD; })) << focused();
    });
}

TEST_F(OptionsPage, PageSiteOfferedAsAServiceOfTheClientSiteIsFound) {
    m_container = std::make_unique<PageContainer>(&CreatePage);
    m_container->m_pageSiteAsService = true;
    m_container->Run([&](Automation& ui, PageDriver& page) {
        ui.SetChecked(page.Page(), IDC_AUTO_PUSH, false);
        EXPECT_TRUE(ui.WaitUntil([&] { return page.StatusChanges() == 1; }));
        EXPECT_TRUE(page.Dirty());
    });
}

TEST_F(OptionsPage, TestCredentialsAcceptedByTheServiceSaysValidAndStoresNothing) {
    hvtest::StoreCredentials("alice", "wrong");
    hvtest::PutNumber("SyncQuantum", 30);
    std::vector<std::string> shown;
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        // The typed, unsaved pair is tested.
        ui.SetText(dlg, IDC_PASSWORD, "alice-pass");
        hvtest::TextRecorder recorder(::GetWindowThreadProcessId(dlg, nullptr), IDC_TEST_RESULT);
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Credentials are valid"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
        ui.Settle(dlg);
        shown = recorder.Texts();
    });
    EXPECT_EQ((std::vector<std::string>{"Credentials are ...", "Credentials are valid"}), shown);
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("wrong", password);
    EXPECT_EQ(30u, Number("SyncQuantum"));
}

TEST_F(OptionsPage, TestCredentialsRejectedByTheServiceSaysInvalidAndStoresNothing) {
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        ui.TypeText(dlg, IDC_USERNAME, "alice");
        ui.TypeText(dlg, IDC_PASSWORD, "not-her-password");
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Credentials are invalid!"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
        // The same page can test again: the corrected pair passes.
        ui.SetText(dlg, IDC_PASSWORD, "alice-pass");
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Credentials are valid"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
    });
    EXPECT_FALSE(hvtest::ValueExists("Credentials"));
    EXPECT_FALSE(hvtest::ValueExists("SyncQuantum"));
}

TEST_F(OptionsPage, TestCredentialsWithoutAServiceSaysConnectionFailedAndStoresNothing) {
    hvtest::UseService(hvtest::DeadAddress());
    Open([&](Automation& ui, PageDriver& page) {
        HWND dlg = page.Page();
        ui.TypeText(dlg, IDC_USERNAME, "alice");
        ui.TypeText(dlg, IDC_PASSWORD, "alice-pass");
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Connection failed!"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
        // Back on the service (the settings changed meanwhile): the next test reaches it.
        hvtest::UseService(hvtest::ServiceAddress());
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Credentials are valid"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
    });
    EXPECT_FALSE(hvtest::ValueExists("Credentials"));
}

// ---------------------------------------------------------------------------------------------
// The object without a container

TEST(OptionsPageObject, AnswersTheInterfacesAContainerAsksFor) {
    hv::com_ptr<IUnknown> page;
    ASSERT_EQ(S_OK, CreatePage(page.put()));
    const IID iids[] = {IID_IOleObject,
                        IID_IOleInPlaceObject,
                        IID_IOleInPlaceActiveObject,
                        IID_IOleControl,
                        IID_IViewObject,
                        IID_IViewObject2,
                        IID_IPersistStreamInit,
                        IID_IPersistPropertyBag,
                        IID_IQuickActivate,
                        IID_IDataObject,
                        IID_IProvideClassInfo,
                        IID_IProvideClassInfo2,
                        IID_ISpecifyPropertyPages,
                        IID_ISupportErrorInfo,
                        IID_IDispatch,
                        IID_IPropPage,
                        IID_PropertyPage,
                        IID_IOleWindow};
    for (const IID& iid : iids) {
        hv::com_ptr<IUnknown> itf;
        EXPECT_EQ(S_OK, page->QueryInterface(iid, itf.put_void()));
        // Every interface leads back to one identity.
        hv::com_ptr<IUnknown> identity;
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, identity.put_void()));
        EXPECT_EQ(page.get(), identity.get());
    }
    hv::com_ptr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE, page->QueryInterface(IID_IClassFactory, none.put_void()));

    hv::com_ptr<IOleObject> object = page.query<IOleObject>();
    DWORD misc = 0;
    EXPECT_EQ(S_OK, object->GetMiscStatus(DVASPECT_CONTENT, &misc));
    EXPECT_TRUE(misc & OLEMISC_SETCLIENTSITEFIRST);
    EXPECT_TRUE(misc & OLEMISC_ACTIVATEWHENVISIBLE);
    SIZEL size{};
    EXPECT_EQ(S_OK, object->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(size.cy, 0);
    CLSID clsid{};
    EXPECT_EQ(S_OK, page.query<IPersistStreamInit>()->GetClassID(&clsid));
    EXPECT_EQ(CLSID_PropPage, clsid);

    hv::com_ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, page.query<IProvideClassInfo>()->GetClassInfo(info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(CLSID_PropPage, attr->guid);
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(S_OK, page.query<ISupportErrorInfo>()->InterfaceSupportsErrorInfo(IID_IPropPage));
    CAUUID pages{};
    EXPECT_EQ(S_OK, page.query<ISpecifyPropertyPages>()->GetPages(&pages));
    EXPECT_EQ(0u, pages.cElems);
}

TEST(OptionsPageObject, PropertyPageMembersThroughTheVtableAndByName) {
    hvtest::DeleteSettings();
    hv::com_ptr<IUnknown> page;
    ASSERT_EQ(S_OK, CreatePage(page.put()));
    hv::com_ptr<PropertyPage> outlookPage = page.query<PropertyPage>();
    BSTR file = nullptr;
    long context = 0;
    EXPECT_EQ(E_NOTIMPL, outlookPage->GetPageInfo(&file, &context));
    VARIANT_BOOL dirty = VARIANT_TRUE;
    EXPECT_EQ(S_OK, outlookPage->get_Dirty(&dirty));
    EXPECT_EQ(VARIANT_FALSE, dirty);

    hv::com_ptr<IDispatch> dispatch = page.query<IDispatch>();
    const wchar_t* names[] = {L"GetPageInfo", L"dirty", L"Apply"};
    const DISPID ids[] = {0x2100, 0x2101, 0x2102};
    for (int i = 0; i < 3; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
        EXPECT_EQ(ids[i], id);
    }
    DISPPARAMS none{};
    hv::unique_variant result;
    EXPECT_EQ(S_OK, dispatch->Invoke(0x2101, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr));
    EXPECT_EQ(VT_BOOL, result.vt);
    EXPECT_EQ(VARIANT_FALSE, result.boolVal);
    // A page that was never shown has nothing to apply and writes nothing.
    EXPECT_EQ(S_OK, dispatch->Invoke(0x2102, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_FALSE(hvtest::ValueExists("SyncQuantum"));
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    hv::com_ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, 0, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(IID_IPropPage, attr->guid);
    info->ReleaseTypeAttr(attr);
}

TEST(OptionsPageObject, DrawsIntoADeviceContextWithoutAWindow) {
    hv::com_ptr<IUnknown> page;
    ASSERT_EQ(S_OK, CreatePage(page.put()));
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 40, 30);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    RECTL bounds{0, 0, 40, 30};
    EXPECT_EQ(S_OK, page.query<IViewObject2>()->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memory, &bounds,
                                                     nullptr, nullptr, 0));
    EXPECT_EQ(::GetSysColor(COLOR_BTNFACE), ::GetPixel(memory, 20, 15));
    EXPECT_EQ(DV_E_DVASPECT, page.query<IViewObject2>()->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, memory,
                                                              &bounds, nullptr, nullptr, 0));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

TEST(OptionsPageObject, ParseMinutesReadsLeadingDigits) {
    EXPECT_EQ(0u, CPropPage::ParseMinutes(""));
    EXPECT_EQ(0u, CPropPage::ParseMinutes("x12"));
    EXPECT_EQ(12u, CPropPage::ParseMinutes("12x"));
    EXPECT_EQ(120u, CPropPage::ParseMinutes("120"));
    EXPECT_EQ(0xFFFFFFFFu, CPropPage::ParseMinutes("99999999999999999999"));
}

}  // namespace
