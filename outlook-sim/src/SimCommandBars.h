#pragma once
// Office command bars as Outlook (before the ribbon) and Word's mail editor offer them:
// CommandBars of a window, CommandBar, CommandBarControls and CommandBarButton with its
// CommandBarButtonEvents "Click". The bars are plain state here; COM objects are views on it,
// so that the leak report sees only what an add-in still holds.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "win/ComPtr.h"

namespace hvsim {

class CSimObject;
struct CommandBarSet;

struct ControlState {
    long type = 1;  // msoControlButton
    long id = 1;
    std::string caption, tag, tooltip, onAction, parameter;
    long style = 0;  // msoButtonAutomatic
    long faceId = 0;
    bool visible = true, enabled = true, beginGroup = false, temporary = false;
    hv::com_ptr<IPictureDisp> picture, mask;  // set by reference
    // What PasteFace read from the clipboard: the CF_DIB bytes, the "Toolbar Button Face" and
    // "Toolbar Button Mask" bytes, and the names of the formats that were there.
    std::vector<BYTE> faceDib, toolbarFace, toolbarMask;
    std::vector<std::string> pastedFormats;
    int pasteCount = 0;
    CSimObject* live = nullptr;  // the button object while someone holds it (not owned)
};

struct BarState {
    std::string name;
    long position = 1;  // msoBarTop
    long top = 0, left = 0, rowIndex = 0;
    bool visible = false, enabled = true, menuBar = false, temporary = false, builtIn = false;
    std::vector<std::shared_ptr<ControlState>> controls;
};

// The CommandBars of one window ("Explorer", "Inspector" or "Word").
struct CommandBarSet {
    std::string owner;
    std::vector<std::shared_ptr<BarState>> bars;
    std::shared_ptr<BarState> Find(const std::string& name) const;
};

// Every set of a session, so a click reaches the controls of the same Tag in every window.
class CommandBarRegistry : public std::enable_shared_from_this<CommandBarRegistry> {
public:
    // A window's set with Office's built-in bars ("Menu Bar", "Standard").
    std::shared_ptr<CommandBarSet> NewSet(const std::string& owner);
    void Adopt(const std::shared_ptr<CommandBarSet>& set);
    std::vector<std::shared_ptr<CommandBarSet>> Sets() const;
    // Clicks the button: CommandBarButtonEvents "Click"(Ctrl, ByRef CancelDefault) to the
    // sinks of every control with the same non-empty Tag (only the button's own sinks when it
    // has no Tag). Returns false with the reason when the bar or button is missing, hidden or
    // disabled. `sinks` is the number of sinks called.
    bool Click(CommandBarSet& set, const std::string& bar, const std::string& caption, bool* cancelDefault,
               size_t* sinks, std::string* error);
    // Connected Click sinks on controls with this Tag (all windows).
    size_t ClickSinks(const std::string& tag) const;

private:
    std::vector<std::weak_ptr<CommandBarSet>> m_sets;
};

// The CommandBars object of a window (a new view per call, as Office hands them out).
hv::com_ptr<IDispatch> NewCommandBars(std::shared_ptr<CommandBarSet> set, IDispatch* application);
// The button object of a control (the same object while it is held).
hv::com_ptr<IDispatch> CommandBarButtonObject(const std::shared_ptr<ControlState>& control, IDispatch* application);

}  // namespace hvsim
