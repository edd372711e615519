#pragma once
// Where a user may post and who may be told: the records the directory operations fill and
// the Add Item dialog shows. Plain data; each record owns its texts.
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

// One path the service lists: a workspace and a folder (or task list) inside it, named by a
// display text whose levels are joined by " > ".
class CUserPath {
public:
    virtual ~CUserPath() = default;
    std::string space_id;
    std::string category_id;
    std::string db_guid;        // non-empty for database records
    std::string category_name;  // the whole display path, workspace first
    HTREEITEM m_hTreeItem = nullptr;
};

// A workspace made while building the tree from the paths.
class CWorkspace {
public:
    virtual ~CWorkspace() = default;
    std::string m_strName;
    std::string space_id;
    std::string m_strExtra;
    long m_nExtra = 0;
    HTREEITEM m_hTreeItem = nullptr;
};

// A category as GetCategory answers it, or a node of the workspace tree.
class CCategory {
public:
    virtual ~CCategory() = default;
    std::string category_id = "0";
    std::string space_id = "0";
    std::string category_name;  // as a tree node: the last level of the path (the caption)
    std::string m_strWorkspaceName;
    std::string m_strFullPath;
    std::string milestone_id;
    std::string email_primary;  // where a mail for this folder is forwarded
    std::string email_files;
    std::string email_discussions;
    DWORD internal_use_only = 0;
    HTREEITEM m_hTreeItem = nullptr;
};

// A member of a workspace.
class CMember {
public:
    virtual ~CMember() = default;
    std::string user_id;
    std::string username;
    std::string email;
    std::string full_name;  // the text the member list shows
    std::string phone;
    DWORD m_fChecked = 0;
};

using CUserPathList = std::vector<std::unique_ptr<CUserPath>>;
using CWorkspaceList = std::vector<std::unique_ptr<CWorkspace>>;
using CCategoryList = std::vector<std::unique_ptr<CCategory>>;
using CMemberList = std::vector<std::unique_ptr<CMember>>;
