// Entry point of every Windows test program: COM on this (user-interface) thread and the
// common controls, as Outlook has them set up before any add-in code runs.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(::OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                 ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES};
    ::InitCommonControlsEx(&icc);
    int rc = RUN_ALL_TESTS();
    ::OleUninitialize();
    return rc;
}
