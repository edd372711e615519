#include "ui/WorkspaceTree.h"
#include "ui/UiRes.h"
#include "ui/DlgLogin.h"
#include "win/Strings.h"

namespace {
const std::string kLevel = " > ";
}

CWorkspaceTree::~CWorkspaceTree() {
    if (m_hTree && ::IsWindow(m_hTree)) TreeView_SetImageList(m_hTree, nullptr, TVSIL_NORMAL);
    if (m_hImages) ImageList_Destroy(m_hImages);
}

void CWorkspaceTree::AttachTree(HWND tree) {
    m_hTree = tree;
    if (!m_hImages)
        m_hImages = ImageList_LoadImageW(hv::ThisModule(), MAKEINTRESOURCEW(IDB_TREE_IMAGES), 16, 0, RGB(255, 0, 255),
                                         IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (m_hImages && m_hTree) TreeView_SetImageList(m_hTree, m_hImages, TVSIL_NORMAL);
}

HTREEITEM CWorkspaceTree::Insert(HTREEITEM parent, const std::string& text, int image, LPARAM data) {
    std::wstring wide = hv::ToWide(text);
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent ? parent : TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    ins.item.pszText = &wide[0];
    ins.item.iImage = image;
    ins.item.iSelectedImage = image;
    ins.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(::SendMessageW(m_hTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

void CWorkspaceTree::AddPersonalEntry() {
    UINT nameId;
    int image;
    if (m_lClass == HV_CLASS_TASK) {
        nameId = IDS_MY_TASKS;
        image = IMG_MY_TASKS;
    } else if (m_lClass == HV_CLASS_APPOINTMENT) {
        nameId = IDS_MY_EVENTS;
        image = IMG_MY_CALENDAR;
    } else {
        return;  // mail goes to folders only
    }
    const std::string name = hv::LoadResString(nameId);
    std::unique_ptr<CUserPath> path(new CUserPath);
    path->space_id = "0";
    path->category_id = "0";
    path->category_name = name;
    std::unique_ptr<CCategory> node(new CCategory);
    node->space_id = "0";
    node->category_id = "0";
    node->category_name = name;
    node->m_strFullPath = name;
    node->m_hTreeItem = Insert(m_hRoot, name, image, reinterpret_cast<LPARAM>(node.get()));
    path->m_hTreeItem = node->m_hTreeItem;
    m_hPersonal = node->m_hTreeItem;
    if (m_strLastCategory == "0" && m_strLastWorkspace == "0") m_hSelect = m_hPersonal;
    m_paths.push_back(std::move(path));
    m_nodes.push_back(std::move(node));
}

void CWorkspaceTree::AbsorbPaths(CPathCombo* combo) {
    if (m_paths.empty() || !m_hTree) return;
    m_hSelect = nullptr;
    m_hRoot = Insert(nullptr, "Halvane", IMG_ROOT, 0);
    // The personal entry is appended to the list; walk only the service's own paths.
    const size_t served = m_paths.size();
    AddPersonalEntry();

    for (size_t i = 0; i < served; ++i) {
        CUserPath& path = *m_paths[i];
        if (!path.db_guid.empty()) continue;  // database records are not offered here
        CWorkspace* workspace = nullptr;
        for (const auto& w : m_workspaces)
            if (w->space_id == path.space_id) {
                workspace = w.get();
                break;
            }
        if (!workspace) {
            const size_t cut = path.category_name.find(kLevel);
            if (cut == std::string::npos) continue;  // a bare name names no workspace
            std::unique_ptr<CWorkspace> made(new CWorkspace);
            made->m_strName = path.category_name.substr(0, cut);
            made->space_id = path.space_id;
            made->m_hTreeItem = Insert(m_hRoot, made->m_strName, IMG_WORKSPACE, reinterpret_cast<LPARAM>(made.get()));
            workspace = made.get();
            m_workspaces.push_back(std::move(made));
        }
        if (m_lClass == HV_CLASS_APPOINTMENT) continue;  // calendars belong to workspaces

        const size_t last = path.category_name.rfind(kLevel);
        std::string caption, parentText;
        if (last == std::string::npos) {
            caption = path.category_name;
        } else {
            caption = path.category_name.substr(last + kLevel.size());
            parentText = path.category_name.substr(0, last);
        }
        int image;
        if (m_lClass == HV_CLASS_TASK)
            image = path.category_id == "0" ? IMG_TASKLIST_ZERO : IMG_TASKLIST;
        else
            image = caption.find("(private)") != std::string::npos ? IMG_PRIVATE_FOLDER : IMG_FOLDER;

        std::unique_ptr<CCategory> node(new CCategory);
        node->category_id = path.category_id;
        node->space_id = path.space_id;
        node->category_name = caption;
        node->m_strWorkspaceName = workspace->m_strName;
        node->m_strFullPath = path.category_name;
        HTREEITEM parent = nullptr;
        if (parentText.find(kLevel) != std::string::npos) {
            // A sub-folder hangs under the folder listed before it; without one it is not shown.
            for (const auto& n : m_nodes)
                if (n->m_strFullPath == parentText) {
                    parent = n->m_hTreeItem;
                    break;
                }
        } else {
            parent = workspace->m_hTreeItem;
        }
        if (parent) node->m_hTreeItem = Insert(parent, caption, image, reinterpret_cast<LPARAM>(node.get()));
        path.m_hTreeItem = node->m_hTreeItem;
        if (node->m_hTreeItem && node->category_id == m_strLastCategory && node->space_id == m_strLastWorkspace)
            m_hSelect = node->m_hTreeItem;
        m_nodes.push_back(std::move(node));
    }
    TreeView_Expand(m_hTree, m_hRoot, TVE_EXPAND);

    if (m_lClass == HV_CLASS_APPOINTMENT) {
        // The type-ahead offers workspaces, each standing for its calendar.
        m_paths.clear();
        for (const auto& w : m_workspaces) {
            std::unique_ptr<CUserPath> path(new CUserPath);
            path->space_id = w->space_id;
            path->category_name = w->m_strName;
            path->m_hTreeItem = w->m_hTreeItem;
            if (w->space_id == m_strLastWorkspace) m_hSelect = w->m_hTreeItem;
            m_paths.push_back(std::move(path));
        }
        if (m_hPersonal) {
            std::unique_ptr<CUserPath> path(new CUserPath);
            path->space_id = "0";
            path->category_id = "0";
            path->category_name = hv::LoadResString(IDS_MY_EVENTS);
            path->m_hTreeItem = m_hPersonal;
            if (m_strLastWorkspace == "0") m_hSelect = m_hPersonal;
            m_paths.push_back(std::move(path));
        }
    }
    if (combo) combo->Attach(&m_paths);
    if (m_hSelect) {
        TreeView_EnsureVisible(m_hTree, m_hSelect);
        TreeView_SelectItem(m_hTree, m_hSelect);
    }
}

void CWorkspaceTree::SelectPath(const CUserPath* path) {
    if (!path || !path->m_hTreeItem || !m_hTree) return;
    TreeView_SelectItem(m_hTree, path->m_hTreeItem);
    TreeView_EnsureVisible(m_hTree, path->m_hTreeItem);
    ::SetFocus(m_hTree);
}
