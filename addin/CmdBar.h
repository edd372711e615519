#pragma once
// The add-in's "Halvane" command bar in an explorer or inspector window (Outlook below 13), with
// its buttons. The bar owns its buttons; it is temporary, so Office forgets it at exit.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

#include "addin/CmdBarState.h"
#include "win/ComPtr.h"

class CCmdBtn;

class CCmdBar {
public:
    CCmdBar() = default;
    ~CCmdBar();
    CCmdBar(const CCmdBar&) = delete;
    CCmdBar& operator=(const CCmdBar&) = delete;

    // Finds the bar of that name on the window, or adds it.
    HRESULT Create(IDispatch* window, const std::string& name);
    // Appends the button (the bar keeps a reference from here on) and puts its control on the
    // bar, reusing a control with the same caption.
    HRESULT AddButton(CCmdBtn* button, BOOL inspector);
    // The bar's visibility, or that of one of its controls by caption.
    HRESULT SetVisibility(const char* controlName, BOOL visible);
    HRESULT Render(const CCmdBarState& state);
    // Every button lets go of its control's Click event (the window closed).
    void DisconnectButtons();

    const std::vector<CCmdBtn*>& Buttons() const noexcept { return m_buttons; }
    IDispatch* Bar() const noexcept { return m_pBar.get(); }

private:
    void SetUpControl(IDispatch* control, CCmdBtn* button, const std::string& caption, bool pasteFace);
    void PasteFace(IDispatch* control, CCmdBtn* button);

    std::vector<CCmdBtn*> m_buttons;
    hv::com_ptr<IDispatch> m_pWindow;
    std::string m_strName;
    hv::com_ptr<IDispatch> m_pBar;
    bool m_fWordMail = false;
};
