// The UI-automation helpers against a dialog of our own: the modal loop runs on the test
// thread, the driver on a second one, as the product's dialog tests do it.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "UiAutoTestDialog.h"
#include "outlook-sim/automation/UiAutomation.h"

using hv::uiauto::Automation;
using hv::uiauto::RunWhileDriving;

namespace {

// What the dialog saw, read after it closed.
struct DialogState {
    std::string edit;
    bool checked = false;
    int checkClicks = 0;
    int answer = 0;
    int listSelChanges = 0;
    std::string treeSelection;
    int comboSelChanges = 0;
    int comboEditChanges = 0;
    std::string comboText;
    INT_PTR result = 0;
};

void Fill(HWND dlg) {
    HWND list = ::GetDlgItem(dlg, IDC_UA_LIST);
    const wchar_t* headers[] = {L"Subject", L"Action"};
    for (int c = 0; c < 2; ++c) {
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.cx = 80;
        col.pszText = const_cast<wchar_t*>(headers[c]);
        ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
    }
    const wchar_t* rows[][2] = {{L"Buy milk", L"Create in Outlook"}, {L"Team meeting", L"Update Halvane"}};
    for (int r = 0; r < 2; ++r) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = r;
        item.pszText = const_cast<wchar_t*>(rows[r][0]);
        ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<wchar_t*>(rows[r][1]);
        ::SendMessageW(list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
    }
    HWND tree = ::GetDlgItem(dlg, IDC_UA_TREE);
    auto add = [&](HTREEITEM parent, const wchar_t* text) {
        TVINSERTSTRUCTW ins = {};
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT;
        ins.item.pszText = const_cast<wchar_t*>(text);
        return reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    };
    HTREEITEM ws = add(TVI_ROOT, L"Workspace A");
    add(ws, L"Tasks");
    add(ws, L"Calendar");
    add(TVI_ROOT, L"Workspace B");
    HWND combo = ::GetDlgItem(dlg, IDC_UA_COMBO);
    for (const wchar_t* text : {L"Alice", L"Bob", L"Carol"})
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

INT_PTR CALLBACK TestDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            Fill(dlg);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == IDC_UA_CHECK && code == BN_CLICKED) {
                ++state->checkClicks;
            } else if (id == IDC_UA_ASK && code == BN_CLICKED) {
                state->answer =
                    ::MessageBoxW(dlg, L"Proceed with the upload?", L"UiAuto Test", MB_YESNO | MB_ICONQUESTION);
                ::SetDlgItemTextW(dlg, IDC_UA_STATUS, state->answer == IDYES ? L"yes" : L"no");
            } else if (id == IDC_UA_COMBO && code == CBN_SELCHANGE) {
                ++state->comboSelChanges;
            } else if (id == IDC_UA_COMBO && code == CBN_EDITCHANGE) {
                ++state->comboEditChanges;
                wchar_t text[128] = {};
                ::GetDlgItemTextW(dlg, IDC_UA_COMBO, text, 128);
                ::SetDlgItemTextW(dlg, IDC_UA_TYPED, text);
            } else if (id == IDOK || id == IDCANCEL) {
                wchar_t text[256] = {};
                ::GetDlgItemTextW(dlg, IDC_UA_EDIT, text, 256);
                char ansi[256] = {};
                ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, 256, nullptr, nullptr);
                state->edit = ansi;
                state->checked = ::IsDlgButtonChecked(dlg, IDC_UA_CHECK) == BST_CHECKED;
                ::GetDlgItemTextW(dlg, IDC_UA_COMBO, text, 256);
                ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, 256, nullptr, nullptr);
                state->comboText = ansi;
                ::EndDialog(dlg, id);
            }
            return TRUE;
        }
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->idFrom == IDC_UA_LIST && header->code == LVN_ITEMCHANGED) {
                auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
                if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED))
                    ++state->listSelChanges;
            } else if (header->idFrom == IDC_UA_TREE && header->code == TVN_SELCHANGEDW) {
                auto* change = reinterpret_cast<NMTREEVIEWW*>(lParam);
                wchar_t text[128] = {};
                TVITEMW item = {};
                item.mask = TVIF_TEXT;
                item.hItem = change->itemNew.hItem;
                item.pszText = text;
                item.cchTextMax = 128;
                ::SendMessageW(header->hwndFrom, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                char ansi[128] = {};
                ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, 128, nullptr, nullptr);
                state->treeSelection = ansi;
            }
            return FALSE;
        }
    }
    return FALSE;
}

INT_PTR RunTestDialog(DialogState& state) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UIAUTO_TEST), nullptr, TestDialogProc,
                             reinterpret_cast<LPARAM>(&state));
}

}  // namespace

TEST(UiAutomation, DriverReadsAndSetsControlsOfAModalDialog) {
    DialogState state;
    std::vector<std::vector<std::string>> rows;
    std::vector<hv::uiauto::TreeItem> tree;
    std::vector<std::string> combo;
    RunWhileDriving([&] { state.result = RunTestDialog(state); },
                    [&](Automation& ui) {
                        HWND dlg = ui.WaitForDialog("UiAuto Test");
                        rows = Automation::ListViewRows(dlg, IDC_UA_LIST);
                        tree = Automation::TreeViewItems(dlg, IDC_UA_TREE);
                        combo = Automation::ComboItems(dlg, IDC_UA_COMBO);
                        Automation::SetText(dlg, IDC_UA_EDIT, "Quarterly report");
                        ui.SetChecked(dlg, IDC_UA_CHECK, true);
                        ui.SetChecked(dlg, IDC_UA_CHECK, true);  // already ticked: no second click
                        Automation::ListViewSelect(dlg, IDC_UA_LIST, 1);
                        Automation::TreeViewSelect(dlg, IDC_UA_TREE, "Workspace A\\Calendar");
                        Automation::ComboSelectText(dlg, IDC_UA_COMBO, "Bob");
                        EXPECT_EQ(std::vector<int>{1}, Automation::ListViewSelection(dlg, IDC_UA_LIST));
                        EXPECT_EQ("Workspace A\\Calendar", Automation::TreeViewSelectedPath(dlg, IDC_UA_TREE));
                        EXPECT_EQ(1, Automation::ComboSelection(dlg, IDC_UA_COMBO));
                        Automation::Click(dlg, IDOK);
                        EXPECT_TRUE(ui.WaitForClose(dlg));
                    });
    EXPECT_EQ(IDOK, state.result);
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ((std::vector<std::string>{"Buy milk", "Create in Outlook"}), rows[0]);
    EXPECT_EQ((std::vector<std::string>{"Team meeting", "Update Halvane"}), rows[1]);
    ASSERT_EQ(4u, tree.size());
    EXPECT_EQ("Workspace A", tree[0].path);
    EXPECT_EQ(0, tree[0].level);
    EXPECT_EQ("Workspace A\\Tasks", tree[1].path);
    EXPECT_EQ(1, tree[1].level);
    EXPECT_EQ("Workspace B", tree[3].path);
    EXPECT_EQ((std::vector<std::string>{"Alice", "Bob", "Carol"}), combo);
    EXPECT_EQ("Quarterly report", state.edit);
    EXPECT_TRUE(state.checked);
    EXPECT_EQ(1, state.checkClicks);
    EXPECT_EQ(1, state.listSelChanges);
    EXPECT_EQ("Calendar", state.treeSelection);
    EXPECT_EQ(1, state.comboSelChanges);
    EXPECT_EQ("Bob", state.comboText);
}

TEST(UiAutomation, ClickThatOpensAMessageBoxDoesNotBlockTheDriver) {
    DialogState state;
    std::string boxText, status;
    RunWhileDriving([&] { state.result = RunTestDialog(state); },
                    [&](Automation& ui) {
                        HWND dlg = ui.WaitForDialog("UiAuto Test");
                        Automation::Click(dlg, IDC_UA_ASK);
                        boxText = ui.AnswerMessageBox("upload", IDYES);
                        ASSERT_TRUE(ui.WaitUntil([&] { return Automation::GetText(dlg, IDC_UA_STATUS) == "yes"; }));
                        status = Automation::GetText(dlg, IDC_UA_STATUS);
                        Automation::Command(dlg, IDCANCEL);
                    });
    EXPECT_EQ(IDCANCEL, state.result);
    EXPECT_EQ(IDYES, state.answer);
    EXPECT_NE(std::string::npos, boxText.find("Proceed with the upload?"));
    EXPECT_EQ("yes", status);
}

TEST(UiAutomation, TypingIntoAComboBoxNotifiesEveryCharacter) {
    DialogState state;
    std::string typed;
    RunWhileDriving([&] { state.result = RunTestDialog(state); },
                    [&](Automation& ui) {
                        HWND dlg = ui.WaitForDialog("UiAuto Test");
                        ui.TypeText(dlg, IDC_UA_COMBO, "Car");
                        typed = Automation::GetText(dlg, IDC_UA_TYPED);
                        Automation::Click(dlg, IDOK);
                    });
    EXPECT_EQ("Car", state.comboText);
    EXPECT_EQ("Car", typed);
    EXPECT_EQ(3, state.comboEditChanges);
}

TEST(UiAutomation, DriverFailureClosesTheDialogAndIsReported) {
    DialogState state;
    bool thrown = false;
    try {
        RunWhileDriving([&] { state.result = RunTestDialog(state); },
                        [&](Automation& ui) {
                            ui.WaitForDialog("UiAuto Test");
                            ui.WaitForDialog("A dialog that never opens", 200);
                        });
    } catch (const hv::uiauto::AutomationError& e) {
        thrown = std::string(e.what()).find("A dialog that never opens") != std::string::npos;
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(IDCANCEL, state.result);
}

TEST(UiAutomation, ScreenshotWritesBmpAndPng) {
    wchar_t dir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    char ansiDir[MAX_PATH] = {};
    ::WideCharToMultiByte(CP_ACP, 0, dir, -1, ansiDir, MAX_PATH, nullptr, nullptr);
    const std::string bmp = std::string(ansiDir) + "hv_uiauto_shot.bmp";
    const std::string png = std::string(ansiDir) + "hv_uiauto_shot.png";
    ASSERT_TRUE(Automation::SaveScreenshot(bmp));
    ASSERT_TRUE(Automation::SaveScreenshot(png));
    char head[8] = {};
    std::ifstream(bmp, std::ios::binary).read(head, 2);
    EXPECT_EQ(std::string("BM"), std::string(head, 2));
    std::ifstream(png, std::ios::binary).read(head, 8);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), std::string(head, 8));
    ::DeleteFileA(bmp.c_str());
    ::DeleteFileA(png.c_str());
}
