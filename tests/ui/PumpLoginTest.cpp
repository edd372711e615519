// The operation pump, the login and error dialogs and the login of the protocol objects, driven
// through the real dialogs against the reference service.
#include "TestResponder.h"
#include <gtest/gtest.h>
#include <atomic>
#include "UiTestSupport.h"
#include "addin/resource.h"
#include "common/Config.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "ui/DlgError.h"
#include "ui/DlgLogin.h"
#include "ui/ProtocolUI.h"
#include "win/Strings.h"

using hv::uiauto::Automation;
using hv::uiauto::RunWhileDriving;

namespace {

const std::vector<std::string> kSixTexts = {"Preparing Data",     "Connecting to Halvane", "Requesting User Paths",
                                            "Receiving Response", "Confirming Result",     "User Paths Received"};

std::string RawCredentials() {
    HKEY key = nullptr;
    std::string bytes;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Halvane\\Halvane for Outlook", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return bytes;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, "Credentials", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size) {
        bytes.resize(size);
        ::RegQueryValueExA(key, "Credentials", nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size);
    }
    ::RegCloseKey(key);
    return bytes;
}

class Login : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(ConnectToService(ServiceAddress().c_str(), true).empty()); }
    void TearDown() override { DisconnectService(); }
    CProtocol& Protocol() { return *TheProtocol(); }
};

TEST_F(Login, DialogOpensWithRememberTickedAndCancelFailsWithErrorCancelled) {
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    bool remember = false;
    RunWhileDriving([&] { hr = Protocol().LoginUser(&credentials, HV_CLASS_MAIL); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        remember = Automation::IsChecked(dialog, IDC_REMEMBER);
                        Automation::Command(dialog, IDCANCEL);
                        a.WaitForClose(dialog);
                    });
    EXPECT_TRUE(remember);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED), hr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(1223, HRESULT_CODE(hr));
    EXPECT_TRUE(credentials.m_strUser.empty());
    EXPECT_FALSE(Protocol().m_pUserPathsOp);
}

TEST_F(Login, AcceptedLoginShowsSixStepsStoresCredentialsAndKeepsThePaths) {
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    CPumpWatch watch;
    RunWhileDriving([&] { hr = Protocol().LoginUser(&credentials, HV_CLASS_TASK); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        Automation::SetText(dialog, IDC_USERNAME, "alice");
                        Automation::SetText(dialog, IDC_PASSWORD, "alice-pass");
                        Automation::Click(dialog, IDOK);
                        if (!a.WaitForClose(dialog)) throw hv::uiauto::AutomationError("login stayed open");
                    });
    EXPECT_EQ(S_OK, hr);
    // The blank indicator text of the new status bar, then one text per step.
    std::vector<std::string> texts = {" "};
    texts.insert(texts.end(), kSixTexts.begin(), kSixTexts.end());
    EXPECT_EQ(texts, watch.Texts());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6}), watch.Positions());
    EXPECT_EQ("alice", credentials.m_strUser);
    EXPECT_EQ("alice-pass", credentials.m_strPassword);
    CConfig config;
    std::string user, password;
    ASSERT_EQ(S_OK, config.GetCredentials(user, password));
    EXPECT_EQ("alice", user);
    EXPECT_EQ("alice-pass", password);
    const std::string raw = RawCredentials();
    EXPECT_FALSE(raw.empty());
    EXPECT_EQ(std::string::npos, raw.find("alice"));  // enciphered
    ASSERT_TRUE(Protocol().m_pUserPathsOp);
    ASSERT_EQ(1u, Protocol().m_pUserPathsOp->m_paths.size());  // a task login lists task lists
    EXPECT_EQ("Alpha > Launch", Protocol().m_pUserPathsOp->m_paths[0]->category_name);
}

TEST_F(Login, RejectedLoginShowsTheFaultAndASecondOkStartsAgain) {
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    std::string details, pane, paneAfter;
    int progress = -1;
    bool stayedOpen = false;
    CPumpWatch watch;
    RunWhileDriving([&] { hr = Protocol().LoginUser(&credentials, HV_CLASS_MAIL); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        Automation::SetText(dialog, IDC_USERNAME, "alice");
                        Automation::SetText(dialog, IDC_PASSWORD, "wrong");
                        a.SetChecked(dialog, IDC_REMEMBER, false);
                        Automation::Click(dialog, IDOK);
                        HWND error = a.WaitForDialog("Halvane Error");
                        details = Automation::GetText(error, IDC_ERROR_DETAILS);
                        Automation::Click(error, IDOK);
                        a.WaitForClose(error);
                        a.Settle(dialog);
                        stayedOpen = ::IsWindowVisible(dialog) != FALSE;
                        pane = StatusPaneText(dialog, 1);
                        progress = ProgressPos(dialog);
                        Automation::SetText(dialog, IDC_PASSWORD, "alice-pass");
                        Automation::Click(dialog, IDOK);
                        if (!a.WaitForClose(dialog)) throw hv::uiauto::AutomationError("login stayed open");
                    });
    EXPECT_EQ("Invalid user name or password", details);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ("", pane);
    EXPECT_EQ(0, progress);
    EXPECT_EQ(S_OK, hr);
    // The failed run: after its answer the operation still posts step 5, which shows
    // "Operation Failed!" at 6 of 6 while the error dialog is up; then the emptied pane, and the
    // second run from step 0 with its own six texts.
    std::vector<std::string> expected = {" ",          kSixTexts[0], kSixTexts[1],        kSixTexts[2],
                                         kSixTexts[3], kSixTexts[4], "Operation Failed!", ""};
    expected.insert(expected.end(), kSixTexts.begin(), kSixTexts.end());
    EXPECT_EQ(expected, watch.Texts());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0, 1, 2, 3, 4, 5, 6}), watch.Positions());
    std::string user, password;
    CConfig().GetCredentials(user, password);
    EXPECT_TRUE(user.empty());  // Remember was cleared
}

// The store holds 128 characters; a longer pair the user asked to remember is refused, and the
// user is told so instead of being asked again next time without a word.
TEST_F(Login, RememberedPairTooLongToStoreIsReportedAndNotStored) {
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    std::string details;
    const std::string password(130, 'd');
    RunWhileDriving([&] { hr = Protocol().LoginUser(&credentials, HV_CLASS_MAIL); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        Automation::SetText(dialog, IDC_USERNAME, "dave");
                        Automation::SetText(dialog, IDC_PASSWORD, password);
                        a.SetChecked(dialog, IDC_REMEMBER, true);
                        Automation::Click(dialog, IDOK);
                        HWND error = a.WaitForDialog("Halvane Error");
                        details = Automation::GetText(error, IDC_ERROR_DETAILS);
                        Automation::Click(error, IDOK);
                        a.WaitForClose(error);
                    });
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ("dave", credentials.m_strUser);
    EXPECT_NE(std::string::npos, details.find("could not be remembered")) << details;
    EXPECT_TRUE(RawCredentials().empty());
}

TEST_F(Login, StoredGoodCredentialsLogInWithoutAWindow) {
    ASSERT_EQ(S_OK, CConfig().SetCredentials("alice", "alice-pass"));
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    std::atomic<bool> done{false};
    bool sawWindow = false;
    RunWhileDriving(
        [&] {
            hr = Protocol().LoginUser(&credentials, HV_CLASS_MAIL);
            done = true;
        },
        [&](Automation& a) {
            a.WaitUntil([&] {
                if (HWND w = Automation::FindTopLevel("Halvane Login")) {
                    sawWindow = true;
                    Automation::Close(w);
                }
                return done.load();
            });
        });
    EXPECT_EQ(S_OK, hr);
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ("alice", credentials.m_strUser);
    EXPECT_FALSE(Protocol().m_pUserPathsOp);
}

TEST_F(Login, StoredRejectedCredentialsOpenTheDialogWithThem) {
    ASSERT_EQ(S_OK, CConfig().SetCredentials("alice", "stale"));
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    std::string user, password;
    RunWhileDriving([&] { hr = Protocol().LoginUser(&credentials, HV_CLASS_MAIL); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        user = Automation::GetText(dialog, IDC_USERNAME);
                        password = Automation::GetText(dialog, IDC_PASSWORD);
                        Automation::Command(dialog, IDCANCEL);
                        a.WaitForClose(dialog);
                    });
    EXPECT_EQ(HV_E_LOGIN_CANCELLED, hr);
    EXPECT_EQ("alice", user);
    EXPECT_EQ("stale", password);
}

TEST_F(Login, SilentLoginUsesTheStoredPairAndNeverPrompts) {
    EXPECT_EQ(E_FAIL, Protocol().SilentLogin(nullptr));  // nothing stored
    ASSERT_EQ(S_OK, CConfig().SetCredentials("bob", "bob-pass"));
    EXPECT_EQ(S_OK, Protocol().SilentLogin(nullptr));
    ASSERT_EQ(S_OK, CConfig().SetCredentials("bob", "nope"));
    EXPECT_EQ(E_FAIL, Protocol().SilentLogin(nullptr));
    CCredentials given{"alice", "alice-pass"};
    EXPECT_EQ(S_OK, Protocol().SilentLogin(&given));
    CCredentials empty{"alice", ""};
    EXPECT_EQ(E_FAIL, Protocol().SilentLogin(&empty));
}

TEST_F(Login, CredentialCheckOfTheBaseProtocol) {
    CProtocol& base = Protocol();
    CCredentials good{"carol", "carol-pass"}, bad{"carol", "x"};
    EXPECT_EQ(S_OK, base.CProtocol::LoginUser(&good, HV_CLASS_TASK));
    EXPECT_EQ(E_FAIL, base.CProtocol::LoginUser(&bad, HV_CLASS_TASK));
    ASSERT_TRUE(base.m_pEnvReport);
    EXPECT_EQ(0u, base.m_pEnvReport->Environment().find("<Windows>Microsoft "));
}

// --- the pump against a responder --------------------------------------------------------------

class Pump : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_responder.Listening());
        ASSERT_FALSE(ConnectToService(hvtest::Loopback(22).c_str()).empty());
    }
    void TearDown() override { DisconnectService(); }
    CTestResponder m_responder{hvtest::Loopback(22).c_str()};
};

TEST_F(Pump, FailureWithoutFaultTextShowsTheCallersMessage) {
    m_responder.Enqueue(404, "not here");
    CDlgLogin dialog(TheAPI(), HV_CLASS_MAIL, nullptr);
    std::string details, text;
    INT_PTR result = 0;
    RunWhileDriving([&] { result = dialog.DoModal(); },
                    [&](Automation& a) {
                        HWND login = a.WaitForDialog("Halvane Login");
                        Automation::SetText(login, IDC_USERNAME, "u");
                        Automation::SetText(login, IDC_PASSWORD, "p");
                        Automation::Click(login, IDOK);
                        HWND error = a.WaitForDialog("Halvane Error");
                        details = Automation::GetText(error, IDC_ERROR_DETAILS);
                        text = Automation::GetText(error, IDC_ERROR_TEXT);
                        Automation::Click(error, IDOK);
                        a.WaitForClose(error);
                        Automation::Command(login, IDCANCEL);
                        a.WaitForClose(login);
                    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(hv::LoadResString(IDS_CREDENTIALS_REJECTED), details);
    EXPECT_EQ("The current Halvane operation could not be performed successfully.", text);
    EXPECT_EQ(0u, dialog.m_fSuccess);
    EXPECT_EQ(-1, dialog.m_nStep);
}

TEST_F(Pump, StepMessageWithoutAnOperationDoesNothing) {
    CDlgLogin dialog(TheAPI(), HV_CLASS_MAIL, nullptr);
    std::string before, after;
    int progress = -1;
    RunWhileDriving([&] { dialog.DoModal(); },
                    [&](Automation& a) {
                        HWND login = a.WaitForDialog("Halvane Login");
                        a.Settle(login);
                        before = StatusPaneText(login, 1);
                        ::PostMessageW(login, hv::WMU_RUN_OP, 3, 0);
                        a.Settle(login);
                        ::Sleep(100);
                        a.Settle(login);
                        after = StatusPaneText(login, 1);
                        progress = ProgressPos(login);
                        Automation::Command(login, IDCANCEL);
                        a.WaitForClose(login);
                    });
    EXPECT_EQ(before, after);
    EXPECT_EQ(0, progress);
    EXPECT_TRUE(m_responder.Requests().empty());
}

TEST(ErrorDialog, ShowsTheDetailsGiven) {
    CDlgError dialog(nullptr);
    dialog.m_strDetails = "Line one\nLine two";
    std::string details;
    RunWhileDriving([&] { dialog.DoModal(); },
                    [&](Automation& a) {
                        HWND error = a.WaitForDialog("Halvane Error");
                        details = Automation::GetText(error, IDC_ERROR_DETAILS);
                        Automation::Click(error, IDOK);
                        a.WaitForClose(error);
                    });
    EXPECT_EQ("Line one\r\nLine two", details);
}

}  // namespace
