// The registered options page in the simulator's Tools / Options dialog, as Outlook shows it:
// an "OptionsPagesAdd" handler adds it by its ProgID with the caption "Halvane", the dialog
// creates, sites and activates it on its tab, enables Apply on OnStatusChange and applies the
// dirty page on Apply and OK.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <atomic>
#include <functional>
#include <string>
#include "OptionsTestSupport.h"
#include "options/resource.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"

using hv::uiauto::Automation;

namespace {

const IID kApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID kOptionsPagesAdd = 0xF005;

// Does what the add-in's "OptionsPagesAdd" handler does: adds the page by its ProgID.
class PagesAddHandler : public IDispatch {
public:
    virtual ~PagesAddHandler() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != kApplicationEvents) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --m_cRef;
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id != kOptionsPagesAdd || !params || params->cArgs != 1) return S_OK;
        VARIANT& arg = params->rgvarg[0];
        IDispatch* pages = arg.vt == VT_DISPATCH                ? arg.pdispVal
                           : arg.vt == (VT_DISPATCH | VT_BYREF) ? *arg.ppdispVal
                                                                : nullptr;
        if (!pages) return E_INVALIDARG;
        hv::unique_variant reversed[2];
        reversed[0] = hv::unique_variant::FromString("Halvane");
        reversed[1] = hv::unique_variant::FromString("HvToolsOpts.PropPage");
        m_hrAdd = CDispatcher::CallMethod(pages, L"Add", nullptr, 2, reversed);
        return S_OK;
    }
    HRESULT m_hrAdd = E_FAIL;

private:
    ULONG m_cRef = 1;
};

// The page in the dialog, for the driver thread.
struct DialogDriver {
    HWND dialog;
    HWND page;
    hvsim::OptionsDialog& options;
    Automation& ui;

    bool ApplyEnabled() const { return ::IsWindowEnabled(::GetDlgItem(dialog, hvsim::kOptionsApplyId)) != FALSE; }
    int StatusChanges() const {
        ui.Settle(dialog);
        return options.StatusChanges();
    }
    // The dialog's Apply button, as the user presses it.
    void Apply() const {
        Automation::Command(dialog, hvsim::kOptionsApplyId);
        ui.Settle(dialog);
    }
    // The keyboard focus to a control of the page (as Tab or a click moves it).
    void Focus(int id) const {
        ::SendMessageW(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(page, id)), TRUE);
    }
};

class OptionsDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hvtest::RunRegsvr32(true);
        ASSERT_EQ(0u, hvtest::RunRegsvr32(false));
    }
    static void TearDownTestSuite() { hvtest::RunRegsvr32(true); }

    void SetUp() override {
        hvtest::DeleteSettings();
        hvtest::UseService(hvtest::ServiceAddress());
    }
    void TearDown() override { hvtest::DeleteSettings(); }

    DWORD Number(const char* name) {
        DWORD value = 0xDEADBEEF;
        EXPECT_TRUE(hvtest::GetNumber(name, value)) << name;
        return value;
    }

    // Opens Tools / Options on this thread, selects the "Halvane" tab and lets `driver` work the
    // page from a second thread; `closeWith` ends the dialog (IDOK or IDCANCEL) afterwards.
    void Run(const std::function<void(DialogDriver&)>& driver, int closeWith = IDOK) {
        hvsim::SimOutlook outlook;
        hv::com_ptr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, outlook.Application()->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
        hv::com_ptr<IConnectionPoint> point;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(kApplicationEvents, point.put()));
        PagesAddHandler* handler = new PagesAddHandler();
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, point->Advise(handler, &cookie));
        hvsim::OptionsDialog& options = outlook.Options();
        std::atomic<HWND> dialog{nullptr};
        std::atomic<HWND> page{nullptr};
        hv::uiauto::RunWhileDriving(
            [&] {
                HWND opened = options.Open();
                ASSERT_NE(nullptr, opened);
                EXPECT_EQ(S_OK, handler->m_hrAdd);
                EXPECT_TRUE(options.Errors().empty()) << options.Errors().front();
                EXPECT_EQ((std::vector<std::string>{"Preferences", "Halvane"}), options.TabCaptions());
                EXPECT_TRUE(options.SelectTab("Halvane"));
                page = options.PageWindow("Halvane");
                dialog = opened;
                while (options.IsOpen()) {
                    MSG msg;
                    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                        if (!::IsDialogMessageW(opened, &msg)) {
                            ::TranslateMessage(&msg);
                            ::DispatchMessageW(&msg);
                        }
                    } else {
                        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
                    }
                }
            },
            [&](Automation& ui) {
                if (!ui.WaitUntil([&] { return dialog.load() != nullptr; }))
                    throw hv::uiauto::AutomationError("the options dialog did not open");
                if (!page.load()) throw hv::uiauto::AutomationError("the Halvane page has no window");
                DialogDriver d{dialog.load(), page.load(), options, ui};
                driver(d);
                Automation::Command(dialog.load(), closeWith);
            },
            60000);
        point->Unadvise(cookie);
        handler->Release();
    }
};

TEST_F(OptionsDialog, PageAddedByProgIdOpensOnItsTabWithTheStoredSettings) {
    hvtest::StoreCredentials("alice", "alice-pass");
    hvtest::PutNumber("SyncQuantum", 60);
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.dialog, ::GetParent(d.page));
        EXPECT_TRUE(::GetWindowLongW(d.page, GWL_STYLE) & WS_VISIBLE);
        EXPECT_EQ("alice", d.ui.GetText(d.page, IDC_USERNAME));
        EXPECT_EQ("alice-pass", d.ui.GetText(d.page, IDC_PASSWORD));
        EXPECT_EQ("60", d.ui.GetText(d.page, IDC_SYNC_QUANTUM));
        EXPECT_EQ(" 1.1.0.9", d.ui.GetText(d.page, IDC_VERSION));
        EXPECT_FALSE(hvtest::HasVisibleStyle(d.page, IDC_DELETE_HV_ITEMS));
        EXPECT_TRUE(hvtest::HasVisibleStyle(d.page, IDC_AUTO_PUSH));
        // Opening is no change: Apply stays off.
        EXPECT_EQ(0, d.StatusChanges());
        EXPECT_FALSE(d.ApplyEnabled());
    });
}

TEST_F(OptionsDialog, SyncQuantumZeroOpensUntickedWithDisabledFifteenAndTickingStoresFifteen) {
    hvtest::PutNumber("SyncQuantum", 0);
    Run([&](DialogDriver& d) {
        EXPECT_FALSE(d.ui.IsChecked(d.page, IDC_SYNC_AUTOMATICALLY));
        EXPECT_FALSE(d.ui.IsEnabled(d.page, IDC_SYNC_QUANTUM));
        EXPECT_EQ("15", d.ui.GetText(d.page, IDC_SYNC_QUANTUM));
        d.ui.SetChecked(d.page, IDC_SYNC_AUTOMATICALLY, true);
        EXPECT_TRUE(d.ui.IsEnabled(d.page, IDC_SYNC_QUANTUM));
        EXPECT_TRUE(d.ApplyEnabled());
        d.Apply();
        EXPECT_EQ(15u, Number("SyncQuantum"));
        EXPECT_FALSE(d.ApplyEnabled());
    });
}

TEST_F(OptionsDialog, TypingTwoAndLeavingTheBoxShowsFiveAndOkStoresFive) {
    hvtest::PutNumber("SyncQuantum", 30);
    Run([&](DialogDriver& d) {
        d.Focus(IDC_SYNC_QUANTUM);
        d.ui.SetText(d.page, IDC_SYNC_QUANTUM, "");
        d.ui.TypeText(d.page, IDC_SYNC_QUANTUM, "2");
        d.Focus(IDC_SYNC_AT_STARTUP);
        EXPECT_EQ("5", d.ui.GetText(d.page, IDC_SYNC_QUANTUM));
    });
    EXPECT_EQ(5u, Number("SyncQuantum"));
}

TEST_F(OptionsDialog, ZeroWithTheBoxUntickedStoresZero) {
    hvtest::PutNumber("SyncQuantum", 30);
    Run([&](DialogDriver& d) {
        d.ui.SetChecked(d.page, IDC_SYNC_AUTOMATICALLY, false);
        d.ui.SetText(d.page, IDC_SYNC_QUANTUM, "0");
        d.Apply();
    });
    EXPECT_EQ(0u, Number("SyncQuantum"));
}

TEST_F(OptionsDialog, HiddenDeleteHVItemsIsRewrittenByEveryApply) {
    hvtest::PutNumber("DeleteHVItems", 0);
    Run([&](DialogDriver& d) {
        hvtest::DeleteValue("DeleteHVItems");
        d.ui.SetChecked(d.page, IDC_SYNC_AT_STARTUP, true);
        d.Apply();
        DWORD value = 7;
        EXPECT_TRUE(hvtest::GetNumber("DeleteHVItems", value));
        EXPECT_EQ(0u, value);
        hvtest::PutNumber("DeleteHVItems", 1);
        d.ui.SetChecked(d.page, IDC_SYNC_AT_STARTUP, false);
        d.Apply();
        EXPECT_TRUE(hvtest::GetNumber("DeleteHVItems", value));
        EXPECT_EQ(0u, value);
    });
}

TEST_F(OptionsDialog, ApplyAfterAnEditThatWasUndoneRewritesEveryValueAndTheCredentials) {
    hvtest::StoreCredentials("bob", "bob-pass");
    hvtest::PutNumber("SyncQuantum", 45);
    hvtest::PutNumber("SyncAtStartup", 1);
    hvtest::PutNumber("AutoPush", 0);
    hvtest::PutNumber("DeleteOutlookItems", 0);
    hvtest::PutNumber("DeleteHVItems", 1);
    Run([&](DialogDriver& d) {
        d.ui.TypeText(d.page, IDC_USERNAME, "x");
        d.ui.SetText(d.page, IDC_USERNAME, "bob");
        hvtest::DeleteSettings();
        d.Apply();
    });
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("bob", user);
    EXPECT_EQ("bob-pass", password);
    EXPECT_EQ(45u, Number("SyncQuantum"));
    EXPECT_EQ(1u, Number("SyncAtStartup"));
    EXPECT_EQ(0u, Number("AutoPush"));
    EXPECT_EQ(0u, Number("DeleteOutlookItems"));
    EXPECT_EQ(1u, Number("DeleteHVItems"));
}

TEST_F(OptionsDialog, EveryTriggerReachesOnStatusChangeOnceAndEnablesApply) {
    hvtest::StoreCredentials("alice", "alice-pass");
    hvtest::PutNumber("SyncQuantum", 30);
    std::string typedUser, typedPassword;
    Run([&](DialogDriver& d) {
        EXPECT_EQ(0, d.StatusChanges());
        int expected = 0;
        auto oneMore = [&](const char* trigger) {
            ++expected;
            EXPECT_EQ(expected, d.StatusChanges()) << trigger;
            EXPECT_TRUE(d.ApplyEnabled()) << trigger;
            // Apply turns the button off again, so the next trigger has to turn it on.
            d.Apply();
            EXPECT_FALSE(d.ApplyEnabled()) << trigger;
        };
        d.ui.TypeText(d.page, IDC_USERNAME, "a");
        oneMore("text change in 28000");
        d.ui.TypeText(d.page, IDC_PASSWORD, "b");
        oneMore("text change in 28001");
        d.ui.SetText(d.page, IDC_SYNC_QUANTUM, "40");
        oneMore("text change in 28010");
        d.Focus(IDC_SYNC_QUANTUM);
        EXPECT_EQ(expected, d.StatusChanges()) << "entering 28010";
        d.Focus(IDC_USERNAME);
        oneMore("leaving 28010");
        d.ui.Click(d.page, IDC_SYNC_AT_STARTUP);
        oneMore("click on 28006");
        d.ui.Click(d.page, IDC_SYNC_AUTOMATICALLY);
        oneMore("click on 28007");
        d.ui.Click(d.page, IDC_AUTO_PUSH);
        oneMore("click on 28008");
        d.ui.Click(d.page, IDC_DELETE_OUTLOOK_ITEMS);
        oneMore("click on 28009");
        Automation::Command(d.page, IDC_DELETE_HV_ITEMS);
        oneMore("click on 28011");
        typedUser = d.ui.GetText(d.page, IDC_USERNAME);
        typedPassword = d.ui.GetText(d.page, IDC_PASSWORD);
    });
    EXPECT_EQ(6u, typedUser.size());
    EXPECT_EQ(11u, typedPassword.size());
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ(typedUser, user);
    EXPECT_EQ(typedPassword, password);
    EXPECT_EQ(0u, Number("SyncQuantum"));  // 28007 was unticked last
}

TEST_F(OptionsDialog, TestCredentialsValidInvalidAndConnectionFailedStoreNothing) {
    Run(
        [&](DialogDriver& d) {
            d.ui.TypeText(d.page, IDC_USERNAME, "alice");
            d.ui.TypeText(d.page, IDC_PASSWORD, "alice-pass");
            auto testShows = [&](const std::string& text) {
                d.ui.Click(d.page, IDC_TEST_CREDENTIALS);
                EXPECT_TRUE(d.ui.WaitUntil([&] { return d.ui.GetText(d.page, IDC_TEST_RESULT) == text; }))
                    << d.ui.GetText(d.page, IDC_TEST_RESULT);
            };
            testShows("Credentials are valid");
            d.ui.SetText(d.page, IDC_PASSWORD, "wrong");
            testShows("Credentials are invalid!");
            hvtest::UseService(hvtest::DeadAddress());
            testShows("Connection failed!");
            EXPECT_FALSE(hvtest::ValueExists("Credentials"));
        },
        IDCANCEL);
    EXPECT_FALSE(hvtest::ValueExists("Credentials"));
    EXPECT_FALSE(hvtest::ValueExists("SyncQuantum"));
}

}  // namespace
