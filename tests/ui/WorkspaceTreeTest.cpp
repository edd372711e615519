// The workspace tree and the type-ahead combo box in a small dialog that hosts them as the Add
// Item dialog does; and the whole road from the login dialog to the tree.
#include <gtest/gtest.h>
#include "UiTestSupport.h"
#include "addin/resource.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "ui/DlgLogin.h"
#include "ui/ProtocolUI.h"
#include "ui/WorkspaceTree.h"
#include "win/Dialog.h"

using hv::uiauto::Automation;
using hv::uiauto::RunWhileDriving;
using hv::uiauto::TreeItem;

namespace {

class CDlgPathsTest : public hv::CDialogBase {
public:
    CDlgPathsTest() : CDialogBase(IDD_TEST_PATHS) {}
    CWorkspaceTree m_tree;
    CPathCombo m_combo;

protected:
    BOOL OnInitDialog() override {
        m_tree.AttachTree(GetItem(IDC_TEST_TREE));
        m_combo.Subclass(GetItem(IDC_TEST_COMBO));
        m_tree.AbsorbPaths(&m_combo);
        return TRUE;
    }
    bool OnCommand(WORD id, WORD code, HWND control) override {
        if (id == IDC_TEST_COMBO && code == CBN_EDITCHANGE) {
            m_combo.OnEditChange();
            return true;
        }
        if (id == IDC_TEST_COMBO && code == CBN_SELCHANGE) {
            m_tree.SelectPath(m_combo.SelectedPath());
            return true;
        }
        return CDialogBase::OnCommand(id, code, control);
    }
};

void AddPath(CWorkspaceTree& tree, const char* space, const char* category, const char* name, const char* guid = "") {
    std::unique_ptr<CUserPath> path(new CUserPath);
    path->space_id = space;
    path->category_id = category;
    path->category_name = name;
    path->db_guid = guid;
    tree.m_paths.push_back(std::move(path));
}

int ImageOf(HWND tree, HTREEITEM item) {
    TVITEMW tv = {};
    tv.mask = TVIF_IMAGE | TVIF_HANDLE;
    tv.hItem = item;
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.iImage;
}

struct Shown {
    std::vector<std::string> paths;
    std::vector<int> images;
    std::string selected;
};

// Opens the dialog, reads the tree, runs `more` and closes it.
Shown ShowTree(CDlgPathsTest& dialog, const std::function<void(Automation&, HWND)>& more = nullptr) {
    Shown shown;
    RunWhileDriving([&] { dialog.DoModal(nullptr); },
                    [&](Automation& a) {
                        HWND d = a.WaitForDialog("Paths Test");
                        a.Settle(d);
                        for (const TreeItem& item : Automation::TreeViewItems(d, IDC_TEST_TREE)) {
                            shown.paths.push_back(item.path);
                            shown.images.push_back(ImageOf(Automation::Control(d, IDC_TEST_TREE), item.handle));
                        }
                        shown.selected = Automation::TreeViewSelectedPath(d, IDC_TEST_TREE);
                        if (more) more(a, d);
                        Automation::Command(d, IDCANCEL);
                        a.WaitForClose(d);
                    });
    return shown;
}

TEST(WorkspaceTree, FoldersNestUnderTheirParentsAndWorkspacesOfOneNameStayApart) {
    CDlgPathsTest dialog;
    dialog.m_tree.m_lClass = HV_CLASS_MAIL;
    dialog.m_tree.m_strLastCategory = "12";
    dialog.m_tree.m_strLastWorkspace = "1";
    AddPath(dialog.m_tree, "1", "11", "Alpha > Docs");
    AddPath(dialog.m_tree, "1", "12", "Alpha > Docs > 2009");
    AddPath(dialog.m_tree, "1", "15", "Alpha > Records", "8f14e45f");
    AddPath(dialog.m_tree, "1", "13", "Alpha > Plans (private)");
    AddPath(dialog.m_tree, "5", "50", "Beta");
    AddPath(dialog.m_tree, "2", "21", "Alpha > Notes");
    Shown shown = ShowTree(dialog);
    EXPECT_EQ(
        (std::vector<std::string>{"Halvane", "Halvane\\Alpha", "Halvane\\Alpha\\Docs", "Halvane\\Alpha\\Docs\\2009",
                                  "Halvane\\Alpha\\Plans (private)", "Halvane\\Alpha", "Halvane\\Alpha\\Notes"}),
        shown.paths);
    EXPECT_EQ((std::vector<int>{IMG_ROOT, IMG_WORKSPACE, IMG_FOLDER, IMG_FOLDER, IMG_PRIVATE_FOLDER, IMG_WORKSPACE,
                                IMG_FOLDER}),
              shown.images);
    EXPECT_EQ("Halvane\\Alpha\\Docs\\2009", shown.selected);
    EXPECT_EQ(2u, dialog.m_tree.m_workspaces.size());
    EXPECT_EQ(nullptr, dialog.m_tree.m_paths[2]->m_hTreeItem);  // database record hidden
    EXPECT_EQ(nullptr, dialog.m_tree.m_paths[4]->m_hTreeItem);  // a bare name makes no workspace
    EXPECT_EQ(6u, dialog.m_tree.m_paths.size());                // mail has no personal entry
}

TEST(WorkspaceTree, FolderListedBeforeItsParentGetsNoItem) {
    CDlgPathsTest dialog;
    dialog.m_tree.m_lClass = HV_CLASS_MAIL;
    AddPath(dialog.m_tree, "1", "12", "Alpha > Docs > 2009");
    AddPath(dialog.m_tree, "1", "11", "Alpha > Docs");
    Shown shown = ShowTree(dialog);
    EXPECT_EQ((std::vector<std::string>{"Halvane", "Halvane\\Alpha", "Halvane\\Alpha\\Docs"}), shown.paths);
    EXPECT_EQ(nullptr, dialog.m_tree.m_paths[0]->m_hTreeItem);
    EXPECT_EQ("", shown.selected);
}

TEST(WorkspaceTree, TaskListsWithThePersonalListSelectedWhenRemembered) {
    CDlgPathsTest dialog;
    dialog.m_tree.m_lClass = HV_CLASS_TASK;
    dialog.m_tree.m_strLastCategory = "0";
    dialog.m_tree.m_strLastWorkspace = "0";
    AddPath(dialog.m_tree, "1", "14", "Alpha > Launch");
    AddPath(dialog.m_tree, "1", "0", "Alpha > Unfiled");
    Shown shown = ShowTree(dialog);
    EXPECT_EQ((std::vector<std::string>{"Halvane", "Halvane\\My Tasks", "Halvane\\Alpha", "Halvane\\Alpha\\Launch",
                                        "Halvane\\Alpha\\Unfiled"}),
              shown.paths);
    EXPECT_EQ((std::vector<int>{IMG_ROOT, IMG_MY_TASKS, IMG_WORKSPACE, IMG_TASKLIST, IMG_TASKLIST_ZERO}), shown.images);
    EXPECT_EQ("Halvane\\My Tasks", shown.selected);
    ASSERT_EQ(3u, dialog.m_tree.m_paths.size());
    EXPECT_EQ("My Tasks", dialog.m_tree.m_paths[2]->category_name);
    EXPECT_EQ("0", dialog.m_tree.m_paths[2]->space_id);
}

TEST(WorkspaceTree, AppointmentsOfferWorkspacesAndThePersonalCalendar) {
    CDlgPathsTest dialog;
    dialog.m_tree.m_lClass = HV_CLASS_APPOINTMENT;
    dialog.m_tree.m_strLastWorkspace = "2";
    AddPath(dialog.m_tree, "1", "17", "Alpha > Calendar");
    AddPath(dialog.m_tree, "2", "27", "Gamma > Calendar");
    std::vector<std::string> offered;
    Shown shown = ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "a");
        offered = Automation::ComboItems(d, IDC_TEST_COMBO);
    });
    EXPECT_EQ((std::vector<std::string>{"Halvane", "Halvane\\My Events", "Halvane\\Alpha", "Halvane\\Gamma"}),
              shown.paths);
    EXPECT_EQ((std::vector<int>{IMG_ROOT, IMG_MY_CALENDAR, IMG_WORKSPACE, IMG_WORKSPACE}), shown.images);
    EXPECT_EQ("Halvane\\Gamma", shown.selected);
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Gamma"}), offered);
    ASSERT_EQ(3u, dialog.m_tree.m_paths.size());
    EXPECT_EQ("My Events", dialog.m_tree.m_paths[2]->category_name);
}

void FillFolders(CWorkspaceTree& tree) {
    tree.m_lClass = HV_CLASS_MAIL;
    AddPath(tree, "1", "11", "Alpha > Docs");
    AddPath(tree, "1", "12", "Alpha > Docs > 2009");
    AddPath(tree, "1", "13", "Alpha > Plans (private)");
    AddPath(tree, "2", "21", "Alpha > Notes");
    AddPath(tree, "3", "31", "Omega > DOCUMENTS");
}

TEST(TypeAhead, FiltersInAnyLetterCaseAndKeepsTheTypedText) {
    CDlgPathsTest dialog;
    FillFolders(dialog.m_tree);
    std::vector<std::string> upper, lower;
    std::string text, selected;
    bool dropped = false;
    ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "DOC");
        upper = Automation::ComboItems(d, IDC_TEST_COMBO);
        text = Automation::GetText(d, IDC_TEST_COMBO);
        dropped = ::SendMessageW(Automation::Control(d, IDC_TEST_COMBO), CB_GETDROPPEDSTATE, 0, 0) != 0;
        Automation::SetText(d, IDC_TEST_COMBO, "");
        a.TypeText(d, IDC_TEST_COMBO, "nOtE");
        lower = Automation::ComboItems(d, IDC_TEST_COMBO);
        Automation::ComboSelect(d, IDC_TEST_COMBO, 0);
        a.Settle(d);
        selected = Automation::TreeViewSelectedPath(d, IDC_TEST_TREE);
    });
    EXPECT_EQ((std::vector<std::string>{"Alpha > Docs", "Alpha > Docs > 2009", "Omega > DOCUMENTS"}), upper);
    EXPECT_EQ("DOC", text);
    EXPECT_TRUE(dropped);
    EXPECT_EQ((std::vector<std::string>{"Alpha > Notes"}), lower);
    EXPECT_EQ("Halvane\\Alpha\\Notes", selected);
}

// Letters beyond ASCII match in either case too ("é" and "É" in code page 1252).
TEST(TypeAhead, AccentedLettersMatchInEitherCase) {
    CDlgPathsTest dialog;
    FillFolders(dialog.m_tree);
    AddPath(dialog.m_tree, "3", "32", "Omega > \xC9quipe");
    AddPath(dialog.m_tree, "3", "33", "Omega > caf\xE9");
    std::vector<std::string> upper, lower;
    ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "\xE9qu");
        lower = Automation::ComboItems(d, IDC_TEST_COMBO);
        Automation::SetText(d, IDC_TEST_COMBO, "");
        a.TypeText(d, IDC_TEST_COMBO, "CAF\xC9");
        upper = Automation::ComboItems(d, IDC_TEST_COMBO);
    });
    EXPECT_EQ((std::vector<std::string>{"Omega > \xC9quipe"}), lower);
    EXPECT_EQ((std::vector<std::string>{"Omega > caf\xE9"}), upper);
}

TEST(TypeAhead, BackspaceShortensWithoutFilteringAgain) {
    CDlgPathsTest dialog;
    FillFolders(dialog.m_tree);
    std::vector<std::string> none, after;
    std::string text;
    ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "Notesx");
        none = Automation::ComboItems(d, IDC_TEST_COMBO);
        a.TypeText(d, IDC_TEST_COMBO, "\b");
        text = Automation::GetText(d, IDC_TEST_COMBO);
        after = Automation::ComboItems(d, IDC_TEST_COMBO);
    });
    EXPECT_TRUE(none.empty());
    EXPECT_EQ("Notes", text);
    EXPECT_TRUE(after.empty());  // "Notes" would list Alpha > Notes if it had filtered
}

TEST(TypeAhead, DownAndUpWrapAroundTheOpenList) {
    CDlgPathsTest dialog;
    FillFolders(dialog.m_tree);
    std::vector<int> selections;
    ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "doc");
        HWND combo = Automation::Control(d, IDC_TEST_COMBO);
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        ::GetComboBoxInfo(combo, &info);
        auto key = [&](WPARAM vk) {
            ::SendMessageW(info.hwndItem, WM_KEYDOWN, vk, 0);
            selections.push_back(static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)));
        };
        ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        key(VK_UP);    // from no selection to the last
        key(VK_DOWN);  // from the last back to the first
        key(VK_DOWN);
        key(VK_UP);
    });
    EXPECT_EQ((std::vector<int>{2, 0, 1, 0}), selections);
}

// The whole road: the user logs in through the dialog, and the paths that proved the login
// become the tree with its type-ahead.
TEST(LoginToTree, PathsOfTheDialogLoginAppearAsATree) {
    ASSERT_FALSE(ConnectToService(ServiceAddress().c_str(), true).empty());
    CCredentials credentials;
    HRESULT hr = E_UNEXPECTED;
    RunWhileDriving([&] { hr = TheProtocol()->LoginUser(&credentials, HV_CLASS_MAIL); },
                    [&](Automation& a) {
                        HWND dialog = a.WaitForDialog("Halvane Login");
                        Automation::SetText(dialog, IDC_USERNAME, "alice");
                        Automation::SetText(dialog, IDC_PASSWORD, "alice-pass");
                        Automation::Click(dialog, IDOK);
                        if (!a.WaitForClose(dialog)) throw hv::uiauto::AutomationError("login stayed open");
                    });
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(TheProtocol()->m_pUserPathsOp);
    CDlgPathsTest dialog;
    dialog.m_tree.m_lClass = HV_CLASS_MAIL;
    dialog.m_tree.m_paths = std::move(TheProtocol()->m_pUserPathsOp->m_paths);
    DisconnectService();
    std::vector<std::string> offered;
    Shown shown = ShowTree(dialog, [&](Automation& a, HWND d) {
        a.TypeText(d, IDC_TEST_COMBO, "2009");
        offered = Automation::ComboItems(d, IDC_TEST_COMBO);
    });
    EXPECT_EQ(
        (std::vector<std::string>{"Halvane", "Halvane\\Alpha", "Halvane\\Alpha\\Docs", "Halvane\\Alpha\\Docs\\2009",
                                  "Halvane\\Alpha\\Plans (private)", "Halvane\\Alpha", "Halvane\\Alpha\\Notes"}),
        shown.paths);
    EXPECT_EQ((std::vector<std::string>{"Alpha > Docs > 2009"}), offered);
}

}  // namespace
