#pragma once
// Turns the flat list of the user's paths into the tree of workspaces and folders the Add Item
// dialog shows, and hands the paths to the type-ahead combo box.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "service/LocationRecords.h"
#include "ui/PathCombo.h"

// Image indexes of the tree (bitmap 26034).
enum : int {
    IMG_ROOT = 0,
    IMG_WORKSPACE = 1,
    IMG_FOLDER = 2,
    IMG_MY_CALENDAR = 3,
    IMG_TASKLIST = 4,
    IMG_MY_TASKS = 5,
    IMG_TASKLIST_ZERO = 6,
    IMG_PRIVATE_FOLDER = 7,
};

class CWorkspaceTree {
public:
    CWorkspaceTree() = default;
    ~CWorkspaceTree();
    CWorkspaceTree(const CWorkspaceTree&) = delete;
    CWorkspaceTree& operator=(const CWorkspaceTree&) = delete;

    // Gives the tree view its images.
    void AttachTree(HWND tree);
    // Builds the tree from m_paths for items of class m_lClass (task, appointment or mail);
    // selects the remembered location. The combo box, when given, gets the paths.
    void AbsorbPaths(CPathCombo* combo);
    // The entry for the user's own task list or calendar, under the root.
    void AddPersonalEntry();
    // Selects the tree item of the path chosen in the combo box and moves the focus to the tree.
    void SelectPath(const CUserPath* path);

    HWND m_hTree = nullptr;
    long m_lClass = 0;
    std::string m_strLastCategory;  // remembered location to select
    std::string m_strLastWorkspace;
    CUserPathList m_paths;
    CWorkspaceList m_workspaces;
    CCategoryList m_nodes;
    HTREEITEM m_hRoot = nullptr;
    HTREEITEM m_hPersonal = nullptr;
    HTREEITEM m_hSelect = nullptr;

private:
    HTREEITEM Insert(HTREEITEM parent, const std::string& text, int image, LPARAM data);
    HIMAGELIST m_hImages = nullptr;
};
