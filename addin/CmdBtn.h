#pragma once
// A command-bar button (or a ribbon button's stand-in) that sinks its Office control's "Click"
// and runs an action on the active item or the explorer's selection.
#include <memory>
#include <string>

#include "addin/ButtonPicture.h"
#include "addin/ChangeHook.h"
#include "addin/EventHandler.h"
#include "addin/OfficeInterfaces.h"
#include "service/Credentials.h"
#include "win/ComTypes.h"

class CProtocolUI;

class CCmdBtn : public CEventHandler {
public:
    enum : DISPID { DISPID_BUTTON_CLICK = 1 };
    static const DISPATCH_ENTRY s_table[];

    CCmdBtn(UINT captionId, UINT faceId, UINT maskId) noexcept
        : CEventHandler(s_table), m_nCaptionId(captionId), m_nFaceId(faceId), m_nMaskId(maskId) {}
    ~CCmdBtn() override;

    void OnInvoke(DISPID dispid, DISPPARAMS* params) override;
    const IID& GetSourceIID() const override { return hv::office::IID_CommandBarButtonEvents; }

    // Takes the operation flag and checks that Outlook is online; 1 when the action may run.
    virtual BOOL CanInvoke();
    virtual HRESULT OnClick() { return S_OK; }
    // String 26067: offline, or another operation runs.
    void ShowOfflineOrBusy();

    // The active inspector and its item into m_vtInspector and m_vtItem (the button's own
    // inspector for an inspector's bar); saves the item and resolves its recipients. 0 on success.
    HRESULT OnInspectorInvoke(IDispatch* control, BOOL checkTag);
    HRESULT TagIt(IDispatch* control, const std::string& tag);

    void DisableHooks();
    void EnableHooks();

    // The explorer the button acts in: its own window, else the application's active explorer.
    // Throws E_POINTER when there is none.
    hv::unique_variant ActiveExplorer();
    // Starts the protocol engine and logs the user in for `itemClass`: the protocol when the
    // login succeeded, null when the user cancelled it; throws on other failures. `logSteps`
    // writes the step comments of the Add to HV action.
    CProtocolUI* LogIn(HWND parent, long itemClass, CCredentials& credentials, bool logSteps);
    // Ends a click's action: drops the held item and inspector, turns the change hooks back on
    // and frees the operation flag.
    void EndAction();
    // What the shared state a creator hands every button.
    void ShareHooks(const CChangeHook& calendar, const CChangeHook& tasks) {
        m_calendarHook = calendar;
        m_tasksHook = tasks;
    }

    DWORD m_fSaveFirst = 1;
    BOOL m_fResolved = FALSE;
    hv::unique_variant m_vtInspector;
    hv::unique_variant m_vtItem;
    std::unique_ptr<CButtonPicture> m_pFace;
    std::unique_ptr<CButtonPicture> m_pMask;
    UINT m_nCaptionId;
    UINT m_nFaceId;
    UINT m_nMaskId;
    hv::com_ptr<IDispatch> m_pWindow;  // the explorer or inspector (the ribbon's context)
    std::string m_strTag;
    DWORD m_fInspectorButton = 0;
    DWORD m_fResolveRecipients = 1;
    CChangeHook m_calendarHook;
    CChangeHook m_tasksHook;
    DWORD m_fHooksEnabled = 1;
};
