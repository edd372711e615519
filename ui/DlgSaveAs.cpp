#include "ui/DlgSaveAs.h"

#include <windowsx.h>

#include "ui/UiRes.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/OpGetCategory.h"
#include "service/OpGetEvent.h"
#include "service/OpGetTask.h"
#include "service/OpGetUserPaths.h"
#include "service/OpGetWorkspaceMemberList.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/WebSvrAPI.h"
#include "ui/DlgError.h"
#include "ui/DlgLogin.h"
#include "win/Strings.h"

namespace {

constexpr int kStateUnchecked = 2;
constexpr int kStateChecked = 3;

void Log(const char* text) {
    HvLog().LogComment(text);
}

// True when `ids` (comma separated) names `id`.
bool ListHasId(const std::string& ids, const std::string& id) {
    if (id.empty()) return false;
    size_t pos = 0;
    while (pos <= ids.size()) {
        size_t comma = ids.find(',', pos);
        if (comma == std::string::npos) comma = ids.size();
        std::string part = ids.substr(pos, comma - pos);
        const size_t first = part.find_first_not_of(" \t");
        const size_t last = part.find_last_not_of(" \t");
        part = first == std::string::npos ? std::string() : part.substr(first, last - first + 1);
        if (part == id) return true;
        pos = comma + 1;
    }
    return false;
}

void EnableItem(HWND dialog, int id, bool enable) {
    ::EnableWindow(::GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void ShowItem(HWND dialog, int id, bool show) {
    ::ShowWindow(::GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

}  // namespace

CDlgSaveAs::CDlgSaveAs(CWebSvrAPI* api, HWND parent)
    : CDialogBase(IDD_SAVEAS), CPushPull(api, nullptr), m_hParent(parent) {
    m_strStatus = hv::LoadResString(IDS_FETCHING_FOLDERS);
    m_itemTarget.m_strCatID.clear();
    m_itemTarget.m_strSpaceID.clear();
}

CDlgSaveAs::~CDlgSaveAs() {
    if (m_imlUsers) ImageList_Destroy(m_imlUsers);
    if (m_imlUserStates) ImageList_Destroy(m_imlUserStates);
}

void CDlgSaveAs::SetCurrentItem(IDispatch* item) {
    m_vtItem.reset();
    if (!item) return;
    m_vtItem = hv::unique_variant::FromDispatch(item);
    // The item's own link: user properties, or the blob of a recurring appointment.
    CSyncItem record;
    record.m_target.m_strCatID.clear();
    record.m_target.m_strSpaceID.clear();
    hv::unique_variant recurring;
    const bool isRecurring = SUCCEEDED(CDispatcher::GetProperty(item, L"IsRecurring", recurring.put())) &&
                             !recurring.IsEmpty() && recurring.AsBool();
    LoadUserProps(item, record, isRecurring);
    m_itemTarget = record.m_target;
}

// ---- initialisation -------------------------------------------------------------------------

BOOL CDlgSaveAs::OnInitDialog() {
    CLogBlock block("CDlgSaveAs::OnInitDialog");
    const HWND hwnd = GetHwnd();
    m_hOwner = hwnd;
    Log("Calling CDialog::OnInitDialog");
    const HICON icon = ::LoadIconW(hv::ThisModule(), MAKEINTRESOURCEW(IDI_HV_ADD));
    if (icon) {
        ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }

    Log("Adapting UI");
    AdaptUi();

    EnableItem(hwnd, IDC_SAVEAS_MEMBERS, false);
    EnableItem(hwnd, IDC_SAVEAS_NOTIFY, false);
    SetItemText(IDC_SAVEAS_CHECK_ALL, hv::LoadResString(IDS_CHECK_ALL));
    EnableItem(hwnd, IDC_SAVEAS_CHECK_ALL, false);
    EnableItem(hwnd, IDC_SAVEAS_SEND_EMAIL, false);
    if (m_lClass == OL_CLASS_MAIL) ShowItem(hwnd, IDC_SAVEAS_SEND_EMAIL, false);
    m_fNotify = 0;
    EnableItem(hwnd, IDOK, false);
    m_banner.Attach(hwnd, IDC_BANNER);  // hides the placeholder

    Log("Initializing Status Bar");
    CreateStatusBar(hwnd);
    if (StatusBar()) {
        std::wstring text = hv::ToWide(m_strStatus);
        ::SendMessageW(StatusBar(), SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text.c_str()));
    }

    const HWND tree = GetItem(IDC_SAVEAS_TREE);
    m_tree.AttachTree(tree);
    if (HIMAGELIST images = TreeView_GetImageList(tree, TVSIL_NORMAL)) {
        ImageList_SetBkColor(images, ::GetSysColor(COLOR_WINDOW));
    } else {
        HvLog().LogError("m_TreeCtrl.SetImageList");
    }

    CConfig config;
    if (m_itemTarget.m_strID.empty()) {
        if (m_lClass == OL_CLASS_TASK) {
            config.GetLastCategory(CConfig::TYPE_TASK, m_strLastCategory);
            config.GetLastWorkspace(CConfig::TYPE_TASK, m_strLastWorkspace);
        } else if (m_lClass == OL_CLASS_APPOINTMENT) {
            config.GetLastWorkspace(CConfig::TYPE_EVENT, m_strLastWorkspace);
        }
    } else {
        // A linked item goes back where it is: its own location is the target until the user
        // picks another.
        m_strCatID = m_itemTarget.m_strCatID.empty() ? "0" : m_itemTarget.m_strCatID;
        m_strSpaceID = m_itemTarget.m_strSpaceID.empty() ? "0" : m_itemTarget.m_strSpaceID;
        EnableItem(hwnd, IDOK, true);
    }
    m_tree.m_lClass = m_lClass;
    m_tree.m_strLastCategory = m_strLastCategory;
    m_tree.m_strLastWorkspace = m_strLastWorkspace;
    m_combo.Subclass(GetItem(IDC_SAVEAS_COMBO));

    Log("Absorbing Paths");
    for (auto& path : m_paths)
        if (path && path->db_guid.empty()) m_tree.m_paths.push_back(std::move(path));
    m_paths.clear();
    const bool havePaths = !m_tree.m_paths.empty();
    if (havePaths) m_tree.AbsorbPaths(&m_combo);

    if (m_lClass == OL_CLASS_APPOINTMENT) {
        // The box is ticked by the code when a workspace is chosen, not by a click alone.
        const HWND notify = GetItem(IDC_SAVEAS_NOTIFY);
        LONG_PTR style = ::GetWindowLongPtrW(notify, GWL_STYLE);
        style = (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_CHECKBOX;
        ::SetWindowLongPtrW(notify, GWL_STYLE, style);
    }

    CreateImageLists();

    RECT client = {};
    ::GetClientRect(hwnd, &client);
    m_client = {client.right - client.left, client.bottom - client.top};

    if (!havePaths) {
        Log("Preparing GetUserPaths request");
        std::unique_ptr<OpGetUserPaths> op(new OpGetUserPaths(ServiceURL()));
        op->m_credentials = m_credentials;
        if (m_lClass == OL_CLASS_TASK) {
            Log("m_lClass is olTask");
            op->m_strCategoryType = "task";
        }
        Log("Calling WaitCursor");
        WaitCursor(true);
        Log("Posting WMU_RUN_OP");
        StartOp(std::move(op));
    } else {
        LoadUsers();
    }
    return TRUE;
}

void CDlgSaveAs::AdaptUi() {
    const HWND hwnd = GetHwnd();
    UINT notifyId = IDS_NOTIFY_USERS, labelId = IDS_SELECT_FOLDER, titleId = IDS_ADD_FILES_TITLE;
    const bool linked = !m_itemTarget.m_strID.empty();
    if (m_lClass == OL_CLASS_TASK) {
        notifyId = IDS_ASSIGN_TO_USERS;
        labelId = IDS_SELECT_TASK_LIST;
        titleId = linked ? IDS_UPDATE_TASK_TITLE : IDS_ADD_TASKS_TITLE;
    } else if (m_lClass == OL_CLASS_APPOINTMENT) {
        notifyId = IDS_SELECT_PARTICIPANTS;
        labelId = IDS_SELECT_CALENDAR;
        titleId = linked ? IDS_UPDATE_EVENT_TITLE : IDS_ADD_EVENTS_TITLE;
    }
    SetItemText(IDC_SAVEAS_NOTIFY, hv::LoadResString(notifyId));
    SetItemText(IDC_SAVEAS_TREE_LABEL, hv::LoadResString(labelId));
    ::SetWindowTextW(hwnd, hv::ToWide(hv::LoadResString(titleId)).c_str());
    if (m_lClass == OL_CLASS_TASK || m_lClass == OL_CLASS_APPOINTMENT) {
        for (int id : {IDC_SAVEAS_COMMENTS, IDC_SAVEAS_COMMENTS_LABEL}) {
            ShowItem(hwnd, id, false);
            EnableItem(hwnd, id, false);
        }
        // The tree takes the room of the comments.
        RECT tree = {}, comments = {};
        ::GetWindowRect(GetItem(IDC_SAVEAS_TREE), &tree);
        ::GetWindowRect(GetItem(IDC_SAVEAS_COMMENTS), &comments);
        ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&tree), 2);
        ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&comments), 2);
        ::SetWindowPos(GetItem(IDC_SAVEAS_TREE), nullptr, 0, 0, tree.right - tree.left, comments.bottom - tree.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CDlgSaveAs::CreateImageLists() {
    const HWND list = GetItem(IDC_SAVEAS_MEMBERS);
    m_imlUsers = ImageList_LoadImageW(hv::ThisModule(), MAKEINTRESOURCEW(IDB_MEMBER_IMAGES), 16, 8, RGB(255, 0, 255),
                                      IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (m_imlUsers) {
        ImageList_SetBkColor(m_imlUsers, ::GetSysColor(COLOR_WINDOW));
        ListView_SetImageList(list, m_imlUsers, LVSIL_SMALL);
    } else {
        HvLog().LogError("m_imlUsers.SetBkColor");
        HvLog().LogError("m_lstUsers.SetImageList");
    }
    m_imlUserStates = ImageList_LoadImageW(hv::ThisModule(), MAKEINTRESOURCEW(IDB_MEMBER_STATES), 16, 1,
                                           RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (!m_imlUserStates)
        HvLog().LogError("m_imlUserStates.Create");
    else
        ListView_SetImageList(list, m_imlUserStates, LVSIL_STATE);
    RECT rc = {};
    ::GetClientRect(list, &rc);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = rc.right - rc.left - ::GetSystemMetrics(SM_CXVSCROLL);
    ListView_InsertColumn(list, 0, &column);
}

void CDlgSaveAs::StartOp(std::unique_ptr<CWebSvrOp> op) {
    StartOperation(GetHwnd(), std::move(op));
}

void CDlgSaveAs::WaitCursor(bool on) {
    m_fWait = on;
    ::SetCursor(::LoadCursorA(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void CDlgSaveAs::ClearStatus() {
    m_strStatus.clear();
    if (StatusBar()) ::SendMessageW(StatusBar(), SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L""));
}

void CDlgSaveAs::LoadUsers() {
    if (m_itemTarget.m_strID.empty()) return;
    Log("CDlgSaveAs::LoadUsers");
    if (m_lClass == OL_CLASS_APPOINTMENT) {
        Log("LoadUsers: PullAppt");
        WaitCursor(true);
        PullEvent(m_itemTarget.m_strID, 1);
    } else if (m_lClass == OL_CLASS_TASK) {
        Log("LoadUsers: PullTask");
        WaitCursor(true);
        PullTask(m_itemTarget.m_strID, 1);
    }
}

// ---- completion of an operation ----------------------------------------------------------------

bool CDlgSaveAs::AllDone() {
    CWebSvrOp* op = Op();
    if (!op) return true;
    const std::string kind = op->m_strKind;
    const bool failed = !m_fSuccess || FAILED(op->m_hResult);
    const HWND hwnd = GetHwnd();

    if (kind == "OpGetUserPaths") {
        Log("CDlgSaveAs::AllDone: Processing UserPaths");
        ClearStatus();
        WaitCursor(false);
        auto* paths = static_cast<OpGetUserPaths*>(op);
        std::unique_ptr<OpGetUserPaths> proven;
        if (failed) {
            Log("CDlgSaveAs::AllDone: dlgLogin");
            CDlgLogin login(m_pAPI, m_lClass, hwnd);
            login.m_strUser = m_credentials.m_strUser;
            login.m_strPassword = m_credentials.m_strPassword;
            if (login.DoModal() != IDOK) {
                Log("CDlgSaveAs::AllDone: Login Failed!");
                ReleaseOperation();
                EndDialog(IDCANCEL);
                return true;
            }
            Log("User Logged In");
            m_credentials.m_strUser = login.m_strUser;
            m_credentials.m_strPassword = login.m_strPassword;
            if (login.m_fRemember) {
                Log("Saving Credentials");
                CConfig().SetCredentials(m_credentials.m_strUser, m_credentials.m_strPassword);
            }
            proven = login.TakeOperation();
            paths = proven.get();
            // The failure belonged to the rejected try.
            m_fSuccess = 1;
        }
        Log("CDlgSaveAs::AllDone: Saving UserPaths");
        if (paths) {
            for (auto& path : paths->m_paths)
                if (path && path->db_guid.empty()) m_tree.m_paths.push_back(std::move(path));
            paths->m_paths.clear();
        }
        Log("CDlgSaveAs::AllDone: AbsorbPaths");
        m_tree.AbsorbPaths(&m_combo);
        Log("CDlgSaveAs::AllDone: LoadUsers");
        LoadUsers();
        return false;
    }

    if (kind == "OpGetWorkspaceMemberList") {
        auto* list = static_cast<OpGetWorkspaceMemberList*>(op);
        WaitCursor(false);
        if (!failed && !list->m_members.empty()) {
            m_members.clear();
            if (m_lClass == OL_CLASS_APPOINTMENT) {
                auto everyone = std::make_unique<CMember>();
                everyone->user_id = "-1";
                everyone->full_name = hv::LoadResString(IDS_EVERYONE);
                m_members.push_back(std::move(everyone));
            }
            for (auto& member : list->m_members) {
                if (!member) continue;
                if (!m_strAssignedIds.empty())
                    member->m_fChecked = ListHasId(m_strAssignedIds, member->user_id) ? 1 : 0;
                else
                    member->m_fChecked = member->username == m_credentials.m_strUser ? 1 : 0;
                m_members.push_back(std::move(member));
            }
            list->m_members.clear();
            if (m_lClass == OL_CLASS_APPOINTMENT && !m_strAssignedIds.empty())
                m_members.front()->m_fChecked = ListHasId(m_strAssignedIds, "-1") ? 1 : 0;
            ShowMembers();
        }
        ClearStatus();
        return false;
    }

    if (kind == "OpGetCategory") {
        auto* category = static_cast<OpGetCategory*>(op);
        if (failed || !category->m_pCategory) {
            WaitCursor(false);
            EnableItem(hwnd, IDOK, true);
            m_fSuccess = 0;
            return true;  // reported by the pump; the dialog stays open
        }
        m_pCategory = std::move(category->m_pCategory);
        ApplyNodeSelection();
        NextOp();
        WaitCursor(false);
        ClearStatus();
        ReleaseOperation();
        if (m_fAnyFailed) {
            m_fSuccess = 0;
            ShowError(hwnd, hv::LoadResString(IDS_UNKNOWN_FAILURE));
            EnableItem(hwnd, IDOK, true);
        }
        return true;
    }

    if (kind == "OpGetTask" || kind == "OpGetEvent") {
        if (kind == "OpGetTask") Log("CDlgSaveAs::AllDone: OpGetTask");
        WaitCursor(false);
        const CSyncItem* record = kind == "OpGetTask" ? static_cast<OpGetTask*>(op)->m_pRecord.get()
                                                      : static_cast<OpGetEvent*>(op)->m_pRecord.get();
        if (!failed && record && !record->assigned_to.empty() && !record->assigned_to_userids.empty()) {
            if (kind == "OpGetTask") Log("AllDone: Setting m_strAssignedIds");
            m_strAssignedIds = record->assigned_to_userids + ",";
            if (kind == "OpGetTask") Log(m_strAssignedIds.c_str());
            if (m_strSpaceID != "0") {
                ::EnableWindow(GetItem(IDC_SAVEAS_NOTIFY), TRUE);
                SetChecked(IDC_SAVEAS_NOTIFY, true);
                if (kind == "OpGetTask") Log("AllDone: Calling OnBnClickedNotify");
                OnBnClickedNotify();
            }
        }
        if (kind == "OpGetTask") Log("AllDone: Calling ResetStatusBar");
        if (m_nStep >= 5 || !Op() || Op() == op) ClearStatus();
        if (kind == "OpGetTask") Log("AllDone: returning FALSE");
        return false;
    }

    // A push of a task or an event.
    if (failed || op->m_strReturnedId.empty()) {
        HvLog().LogError("CDlgSaveAs::AllDone: the push failed");
        m_fAnyFailed = 1;
    }
    if (NextOp()) {
        WaitCursor(true);
        return false;
    }
    SaveLastTarget();
    ClearStatus();
    WaitCursor(false);
    ReleaseOperation();
    if (m_fAnyFailed) {
        // What was sent stays sent; the user sees the failure and may try again or cancel.
        m_fSuccess = 0;
        EnableItem(hwnd, IDOK, true);
    }
    return true;
}

// ---- sending ----------------------------------------------------------------------------------

bool CDlgSaveAs::FetchItem(long index) {
    if (!m_pSelection) return false;
    hv::unique_variant i = hv::unique_variant::FromLong(index);
    hv::unique_variant item;
    if (FAILED(CallMethod(m_pSelection.get(), L"Item", item.put(), 1, &i)) || !item.AsDispatch()) return false;
    m_vtItem = hv::unique_variant::FromDispatch(item.AsDispatch());
    return true;
}

bool CDlgSaveAs::ForwardCurrent() {
    IDispatch* item = m_vtItem.AsDispatch();
    if (!item || !m_pCategory) return false;
    Log("NextOp: Emailing Item...");
    const std::string comments = GetItemText(IDC_SAVEAS_COMMENTS);
    const HRESULT hr = ForwardItem(item, OL_CLASS_MAIL, m_pCategory->email_primary, comments);
    if (FAILED(hr)) {
        HvLog().LogError("NextOp: the mail could not be forwarded");
        m_fAnyFailed = 1;
    }
    return false;
}

void CDlgSaveAs::MarkPushed() {
    IDispatch* item = m_vtItem.AsDispatch();
    CWebSvrOp* op = Op();
    if (!item || !op || !m_fSuccess || FAILED(op->m_hResult) || op->m_strReturnedId.empty()) return;
    if (op->m_strKind == "OpPushTask") {
        Log("NextOp: Marking Task");
        CSyncItem record = static_cast<OpPushTask*>(op)->m_answer;
        record.m_strType = "Task";
        CTarget target = record.m_target;
        if (target.m_strID.empty()) target.m_strID = op->m_strReturnedId;
        if (target.m_strCatID.empty()) target.m_strCatID = m_strCatID;
        if (target.m_strSpaceID.empty()) target.m_strSpaceID = m_strSpaceID;
        if (FAILED(SetLinkProps(item, OL_CLASS_TASK, &record, target, &record.last_modified, &record.assigned_to,
                                &record.assigned_to_userids, nullptr, nullptr))) {
            HvLog().LogError("NextOp: the task's link could not be saved");
            // The next synchronisation pairs the record with its item and writes the link.
            hv::unique_variant entryId;
            if (SUCCEEDED(GetProperty(item, L"EntryID", entryId.put())) && entryId.vt == VT_BSTR)
                CConfig().SetPendingLink(CConfig::TYPE_TASK, entryId.AsString(), target.m_strID);
            m_fAnyFailed = 1;
        }
    } else if (op->m_strKind == "OpPushEvent") {
        Log("NextOp: Marking Event");
        CSyncItem record = static_cast<OpPushEvent*>(op)->m_answer;
        record.m_strType = "Event";
        CTarget target = record.m_target;
        if (target.m_strID.empty()) target.m_strID = op->m_strReturnedId;
        if (target.m_strSpaceID.empty()) target.m_strSpaceID = m_strSpaceID;
        if (FAILED(SetLinkProps(item, OL_CLASS_APPOINTMENT, &record, target, &record.last_modified, &record.assigned_to,
                                &record.assigned_to_userids, &record.organizer, &record.internal_use_only))) {
            HvLog().LogError("NextOp: the event's link could not be saved");
            m_fAnyFailed = 1;
        }
    }
}

bool CDlgSaveAs::NextOp() {
    CLogBlock block("CDlgSaveAs::NextOp");
    CTarget target;
    target.m_strCatID = m_strCatID;
    target.m_strSpaceID = m_strSpaceID;
    target.m_strFolder = m_strFolder;
    target.m_strWorkspace = m_strWorkspace;
    if (m_fJustItem) {
        m_nIndex = 1;
        m_fJustItem = 0;
        Log("NextOp: m_fJustItem");
        if (m_lClass == OL_CLASS_MAIL) {
            if (m_pCategory) ForwardCurrent();
            // The rest of the selection goes in the same pass.
        } else {
            Log("NextOp: Pushing Item...");
            target.m_strID = m_itemTarget.m_strID;
            if (m_vtItem.AsDispatch()) {
                PushItem(m_vtItem.AsDispatch(), m_lClass, target);
                if (Op()) return true;
            }
            HvLog().LogError("NextOp: the item could not be pushed");
            m_fAnyFailed = 1;
        }
    } else {
        Log("NextOp: m_fJustItem is FALSE");
        if (m_nIndex > 0 && m_lClass != OL_CLASS_MAIL) MarkPushed();
        m_vtItem.reset();
    }
    while (m_nIndex < m_nCount) {
        Log("NextOp: Fetching next item...");
        ++m_nIndex;
        if (!FetchItem(m_nIndex)) continue;  // an item that cannot be fetched is skipped
        if (m_lClass == OL_CLASS_MAIL) {
            ForwardCurrent();
            continue;
        }
        CSyncItem record;
        record.m_strType = m_lClass == OL_CLASS_APPOINTMENT ? "Event" : "Task";
        LoadOneItem(&record, m_vtItem.AsDispatch(), 0);
        m_itemTarget = record.m_target;
        target.m_strID = record.m_target.m_strID;
        PushItem(m_vtItem.AsDispatch(), m_lClass, target);
        if (Op()) return true;
        HvLog().LogError("NextOp: the item could not be pushed");
        m_fAnyFailed = 1;
    }
    return false;
}

void CDlgSaveAs::OnBnClickedOk() {
    CLogBlock block("CDlgSaveAs::OnBnClickedOk");
    const HWND hwnd = GetHwnd();
    // One send at a time: a second click while an operation runs is ignored.
    if (m_nStep >= 0 && m_nStep < 5 && Op()) return;
    m_fAnyFailed = 0;
    if (m_lClass == OL_CLASS_MAIL) {
        Log("OnBnClickedOk: m_lClass == olMail");
        ReleaseOperation();
        std::unique_ptr<OpGetCategory> op(new OpGetCategory(ServiceURL()));
        op->m_credentials = m_credentials;
        op->m_strCategoryId = m_pNode ? m_pNode->category_id : m_strCatID;
        op->m_strSpaceId = m_pNode ? m_pNode->space_id : m_strSpaceID;
        m_fJustItem = 1;
        EnableItem(hwnd, IDOK, false);
        WaitCursor(true);
        StartOp(std::move(op));
        return;
    }
    if (!m_fJustItem) {
        if (!FetchItem(m_nIndex + 1)) {
            EndDialog(IDOK);
            return;
        }
    }
    IDispatch* item = m_vtItem.AsDispatch();
    hv::unique_variant recurring;
    if (item && m_lClass == OL_CLASS_APPOINTMENT && SUCCEEDED(GetProperty(item, L"IsRecurring", recurring.put())) &&
        !recurring.IsEmpty() && recurring.AsBool()) {
        ApplyNodeSelection();
        if (m_strAssignees.empty()) {
            for (const auto& member : m_members) {
                if (!member || !member->m_fChecked) continue;
                if (member->user_id == "-1") {
                    m_strAssignees = "-1";
                    break;
                }
                if (!m_strAssignees.empty()) m_strAssignees += ",";
                m_strAssignees += member->user_id;
            }
        }
        SaveLastTarget();
        m_pSyncItem = std::make_unique<CSyncItem>();
        m_pSyncItem->m_strType = "Event";
        LoadOneItem(m_pSyncItem.get(), item, 1);
        CTarget target;
        target.m_strCatID = m_strCatID;
        target.m_strSpaceID = m_strSpaceID;
        target.m_strFolder = m_strFolder;
        target.m_strWorkspace = m_strWorkspace;
        target.m_strID = m_pSyncItem->m_target.m_strID;
        m_pSyncItem->m_target = target;
        m_pSyncItem->assigned_to_userids = m_strAssignees;
        EndDialog(IDOK);
        return;
    }
    if (NextOp()) {
        EnableItem(hwnd, IDOK, false);
        WaitCursor(true);
        return;
    }
    if (m_fAnyFailed) {
        ShowError(hwnd, hv::LoadResString(IDS_UNKNOWN_FAILURE));
        return;
    }
    Log("OnBnClickedOk: Calling CDialog::OnOK");
    EndDialog(IDOK);
}

void CDlgSaveAs::SaveLastTarget() {
    CConfig config;
    if (m_lClass == OL_CLASS_TASK) {
        config.SetLastCategory(CConfig::TYPE_TASK, m_strCatID);
        config.SetLastWorkspace(CConfig::TYPE_TASK, m_strSpaceID);
    } else if (m_lClass == OL_CLASS_APPOINTMENT) {
        config.SetLastWorkspace(CConfig::TYPE_EVENT, m_strSpaceID);
    }
}

// ---- choosing a location -------------------------------------------------------------------------

void CDlgSaveAs::ApplyNodeSelection() {
    if (m_pNode) {
        m_strCatID = m_pNode->category_id;
        m_strSpaceID = m_pNode->space_id;
        m_strFolder = m_pNode->category_name;
        m_strWorkspace = m_pNode->m_strWorkspaceName;
    } else if (m_pWorkspace) {
        m_strSpaceID = m_pWorkspace->space_id;
        m_strWorkspace = m_pWorkspace->m_strName;
        m_strFolder.clear();
        m_strCatID = "0";
    }
}

void CDlgSaveAs::OnTreeSelChanged() {
    const HWND hwnd = GetHwnd();
    const HWND tree = GetItem(IDC_SAVEAS_TREE);
    TVITEMW item = {};
    item.mask = TVIF_IMAGE | TVIF_PARAM | TVIF_HANDLE;
    item.hItem = TreeView_GetSelection(tree);
    if (!item.hItem || !TreeView_GetItem(tree, &item)) return;
    const int kind = item.iImage;

    m_members.clear();
    ListView_DeleteAllItems(GetItem(IDC_SAVEAS_MEMBERS));
    SetChecked(IDC_SAVEAS_NOTIFY, false);
    SetChecked(IDC_SAVEAS_SEND_EMAIL, false);
    m_fNotify = 0;
    EnableItem(hwnd, IDC_SAVEAS_SEND_EMAIL, false);
    EnableItem(hwnd, IDC_SAVEAS_MEMBERS, false);
    EnableItem(hwnd, IDC_SAVEAS_CHECK_ALL, false);

    bool target = false, notify = false;
    if (m_lClass == OL_CLASS_APPOINTMENT) {
        if (kind == IMG_MY_CALENDAR) {
            m_pNode = reinterpret_cast<CCategory*>(item.lParam);
            m_pWorkspace = nullptr;
            target = m_pNode != nullptr;
            if (m_pNode) SetItemText(IDC_SAVEAS_COMBO, m_pNode->m_strFullPath);
        } else if (kind == IMG_WORKSPACE) {
            m_pWorkspace = reinterpret_cast<CWorkspace*>(item.lParam);
            m_pNode = nullptr;
            target = notify = m_pWorkspace != nullptr;
            if (m_pWorkspace) SetItemText(IDC_SAVEAS_COMBO, m_pWorkspace->m_strName);
        } else {
            m_pNode = nullptr;
            m_pWorkspace = nullptr;
        }
    } else if (kind == IMG_FOLDER || kind == IMG_TASKLIST || kind == IMG_MY_TASKS || kind == IMG_TASKLIST_ZERO ||
               kind == IMG_PRIVATE_FOLDER) {
        m_pNode = reinterpret_cast<CCategory*>(item.lParam);
        m_pWorkspace = nullptr;
        target = m_pNode != nullptr;
        notify = target && kind != IMG_MY_TASKS;
        if (m_pNode) SetItemText(IDC_SAVEAS_COMBO, m_pNode->m_strFullPath);
    } else {
        m_pNode = nullptr;
        m_pWorkspace = nullptr;
    }
    if (target) ApplyNodeSelection();
    EnableItem(hwnd, IDOK, target || !m_itemTarget.m_strID.empty());
    EnableItem(hwnd, IDC_SAVEAS_NOTIFY, notify);
    if (m_lClass == OL_CLASS_APPOINTMENT && m_pWorkspace && m_pWorkspace->space_id != "0") {
        SetChecked(IDC_SAVEAS_NOTIFY, true);
        OnBnClickedNotify();
    }
}

void CDlgSaveAs::OnComboSelChange() {
    if (CUserPath* path = m_combo.SelectedPath()) m_tree.SelectPath(path);
}

// ---- members -----------------------------------------------------------------------------------

void CDlgSaveAs::OnBnClickedNotify() {
    const HWND hwnd = GetHwnd();
    if (!IsChecked(IDC_SAVEAS_NOTIFY)) {
        m_members.clear();
        ListView_DeleteAllItems(GetItem(IDC_SAVEAS_MEMBERS));
        EnableItem(hwnd, IDC_SAVEAS_MEMBERS, false);
        EnableItem(hwnd, IDC_SAVEAS_CHECK_ALL, false);
        SetChecked(IDC_SAVEAS_SEND_EMAIL, false);
        EnableItem(hwnd, IDC_SAVEAS_SEND_EMAIL, false);
        m_fNotify = 0;
        return;
    }
    if (m_lClass == OL_CLASS_APPOINTMENT && !m_members.empty()) return;
    EnableItem(hwnd, IDC_SAVEAS_MEMBERS, true);
    EnableItem(hwnd, IDC_SAVEAS_CHECK_ALL, true);
    if (m_lClass == OL_CLASS_TASK || m_lClass == OL_CLASS_APPOINTMENT) {
        EnableItem(hwnd, IDC_SAVEAS_SEND_EMAIL, true);
        SetChecked(IDC_SAVEAS_SEND_EMAIL, true);
        m_fNotify = 1;
    }
    m_members.clear();
    ListView_DeleteAllItems(GetItem(IDC_SAVEAS_MEMBERS));
    std::string spaceId = m_strSpaceID;
    if (m_pNode) spaceId = m_pNode->space_id;
    if (m_pWorkspace) spaceId = m_pWorkspace->space_id;
    std::unique_ptr<OpGetWorkspaceMemberList> op(new OpGetWorkspaceMemberList(ServiceURL()));
    op->m_credentials = m_credentials;
    op->m_strSpaceId = spaceId;
    WaitCursor(true);
    StartOp(std::move(op));
}

bool CDlgSaveAs::IsOwnEventEntry(const CMember& member) const {
    return m_lClass == OL_CLASS_APPOINTMENT && !member.username.empty() && member.username == m_credentials.m_strUser;
}

void CDlgSaveAs::ShowMembers() {
    const HWND list = GetItem(IDC_SAVEAS_MEMBERS);
    ListView_DeleteAllItems(list);
    int row = 0;
    for (const auto& member : m_members) {
        std::wstring text = hv::ToWide(member->full_name);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
        item.iItem = row++;
        item.pszText = &text[0];
        item.iImage = 0;
        item.lParam = reinterpret_cast<LPARAM>(member.get());
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(member->m_fChecked ? kStateChecked : kStateUnchecked);
        ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    ::EnableWindow(list, TRUE);
}

void CDlgSaveAs::RedrawMembers() {
    const HWND list = GetItem(IDC_SAVEAS_MEMBERS);
    for (size_t i = 0; i < m_members.size(); ++i)
        ListView_SetItemState(list, static_cast<int>(i),
                              INDEXTOSTATEIMAGEMASK(m_members[i]->m_fChecked ? kStateChecked : kStateUnchecked),
                              LVIS_STATEIMAGEMASK);
    ::InvalidateRect(list, nullptr, TRUE);
}

void CDlgSaveAs::OnBnClickedCheckAll() {
    if (m_members.empty() || !IsChecked(IDC_SAVEAS_NOTIFY)) return;
    const bool checkAll = GetItemText(IDC_SAVEAS_CHECK_ALL) == hv::LoadResString(IDS_CHECK_ALL);
    for (auto& member : m_members) {
        if (IsOwnEventEntry(*member)) continue;
        member->m_fChecked = checkAll ? 1 : 0;
    }
    SetItemText(IDC_SAVEAS_CHECK_ALL, hv::LoadResString(checkAll ? IDS_CHECK_NONE : IDS_CHECK_ALL));
    RedrawMembers();
}

void CDlgSaveAs::OnMembersClick(NMITEMACTIVATE* activate) {
    const HWND list = GetItem(IDC_SAVEAS_MEMBERS);
    LVHITTESTINFO hit = {};
    hit.pt = activate->ptAction;
    const int row = ListView_HitTest(list, &hit);
    if (row < 0 || row >= static_cast<int>(m_members.size()) || !(hit.flags & LVHT_ONITEMSTATEICON)) return;
    CMember& member = *m_members[row];
    if (IsOwnEventEntry(member) && member.m_fChecked) return;  // one's own event stays one's own
    member.m_fChecked = member.m_fChecked ? 0 : 1;
    RedrawMembers();
}

// ---- messages -----------------------------------------------------------------------------------

bool CDlgSaveAs::OnCommand(WORD id, WORD code, HWND control) {
    switch (id) {
        case IDC_SAVEAS_NOTIFY:
            if (code == BN_CLICKED) {
                if (m_lClass == OL_CLASS_APPOINTMENT) SetChecked(IDC_SAVEAS_NOTIFY, !IsChecked(IDC_SAVEAS_NOTIFY));
                OnBnClickedNotify();
            }
            return true;
        case IDC_SAVEAS_SEND_EMAIL:
            if (code == BN_CLICKED) m_fNotify = IsChecked(IDC_SAVEAS_SEND_EMAIL) ? 1 : 0;
            return true;
        case IDC_SAVEAS_CHECK_ALL:
            if (code == BN_CLICKED) OnBnClickedCheckAll();
            return true;
        case IDC_SAVEAS_COMBO:
            if (code == CBN_EDITCHANGE) m_combo.OnEditChange();
            if (code == CBN_SELCHANGE) OnComboSelChange();
            return true;
        default:
            return CDialogBase::OnCommand(id, code, control);
    }
}

LRESULT CDlgSaveAs::OnNotify(NMHDR* header, bool& handled) {
    if (header->idFrom == IDC_SAVEAS_TREE && (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA)) {
        handled = true;
        OnTreeSelChanged();
        return 0;
    }
    if (header->idFrom == IDC_SAVEAS_MEMBERS && header->code == NM_CLICK) {
        handled = true;
        OnMembersClick(reinterpret_cast<NMITEMACTIVATE*>(header));
        return 0;
    }
    return CDialogBase::OnNotify(header, handled);
}

void CDlgSaveAs::OnTimer(UINT_PTR id) {
    CPumpOp::OnTimer(GetHwnd(), id, IDS_UNKNOWN_FAILURE);
    if (m_nStep < 0) {
        // A failed step: the user may choose again.
        WaitCursor(false);
        if (m_pNode || m_pWorkspace || !m_itemTarget.m_strID.empty()) EnableItem(GetHwnd(), IDOK, true);
    }
}

INT_PTR CDlgSaveAs::OnMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (msg) {
        case hv::WMU_RUN_OP:
            return OnStep(GetHwnd(), static_cast<int>(wParam), true);
        case WM_SIZE:
            OnSize(GetHwnd());
            return 0;
        case WM_SETCURSOR:
            if (m_fWait) {
                ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
                ::SetWindowLongPtrW(GetHwnd(), DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            handled = false;
            return 0;
        default:
            handled = false;
            return 0;
    }
}
