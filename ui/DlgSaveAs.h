#pragma once
// "Add Item to Halvane": sends the Outlook items the user selected (all of one class) to a
// place in Halvane. Mail is forwarded to the chosen folder's address with "hvmeta.xml"; tasks
// and appointments are pushed to the chosen task list or calendar and linked on their items.
// A recurring appointment is not sent from here: the dialog hands a record with the chosen
// target and assignees back to its caller, which runs a synchronisation with it.
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>

#include "service/SyncItem.h"
#include "sync/PushPull.h"
#include "ui/Banner.h"
#include "service/LocationRecords.h"
#include "ui/PathCombo.h"
#include "ui/WorkspaceTree.h"
#include "win/ComTypes.h"
#include "win/Dialog.h"
#include "ui/DlgError.h"

class CDlgSaveAs : public hv::CDialogBase, public CPushPull {
public:
    CDlgSaveAs(CWebSvrAPI* api, HWND parent);
    ~CDlgSaveAs() override;

    INT_PTR DoModal() { return CDialogBase::DoModal(m_hParent); }

    // ---- set by the caller before DoModal ---------------------------------------------------
    // The single item of an inspector, or the first item of the selection (read for its link).
    void SetCurrentItem(IDispatch* item);
    hv::com_ptr<IDispatch> m_pSelection;  // Outlook "Selection" (null for an inspector's item)
    long m_nCount = 0;                    // items to send
    DWORD m_fFromInspector = 0;
    // The user paths an earlier login already fetched (moved in); empty: the dialog fetches them.
    CUserPathList m_paths;

    // ---- the operation pump ---------------------------------------------------------------------
    bool AllDone() override;
    void ShowError(HWND dialog, const std::string& details) override { ShowErrorDialog(dialog, details); }
    // Sends the next item; true when a service operation was started.
    bool NextOp();
    void LoadUsers();

    // ---- state (readable by tests) ----------------------------------------------------------
    long m_nIndex = 0;      // 1-based index of the item being sent
    DWORD m_fJustItem = 1;  // the first item has not been sent yet
    hv::unique_variant m_vtItem;
    CTarget m_itemTarget;  // the item's own link: record id empty when not linked
    // The chosen target.
    std::string m_strCatID = "0";
    std::string m_strSpaceID = "0";
    std::string m_strFolder;
    std::string m_strWorkspace;
    std::string m_strLastCategory;
    std::string m_strLastWorkspace;
    CCategory* m_pNode = nullptr;
    CWorkspace* m_pWorkspace = nullptr;
    std::unique_ptr<CCategory> m_pCategory;  // the answer of GetCategory: where mail goes
    std::string m_strAssignees;              // recurring appointments: ids joined by "," or "-1"
    // The record of a recurring appointment, handed to a synchronisation run by the caller.
    std::unique_ptr<CSyncItem> m_pSyncItem;
    DWORD m_fAnyFailed = 0;  // a push of this run failed: the dialog stays open at the end
    CWorkspaceTree m_tree;
    std::string m_strStatus;

    // Texts of the member list's callbacks must outlive the notification.
    std::string m_strCallbackText;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }
    bool OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT OnNotify(NMHDR* header, bool& handled) override;
    void OnTimer(UINT_PTR id) override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    void OnBnClickedOk();
    void OnBnClickedNotify();
    void OnBnClickedCheckAll();
    void OnTreeSelChanged();
    void OnMembersClick(NMITEMACTIVATE* activate);
    void OnComboSelChange();

private:
    void AdaptUi();
    void CreateImageLists();
    void ApplyNodeSelection();
    void SaveLastTarget();
    void ShowMembers();
    void RedrawMembers();
    // The member is the current user's own entry of an appointment, which stays checked.
    bool IsOwnEventEntry(const CMember& member) const;
    void StartOp(std::unique_ptr<CWebSvrOp> op);
    bool ForwardCurrent();
    bool FetchItem(long index);
    void MarkPushed();
    void WaitCursor(bool on);
    void ClearStatus();

    HWND m_hParent;
    HIMAGELIST m_imlUsers = nullptr;
    HIMAGELIST m_imlUserStates = nullptr;
    CPathCombo m_combo;
    CBanner m_banner;
    SIZE m_client{0, 0};
    bool m_fWait = false;
};
