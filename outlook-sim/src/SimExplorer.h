#pragma once
// The explorer (Outlook's main window): its folder, selection and events.
#include "outlook-sim/src/SimFolder.h"
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

class CExplorer : public CSimObject {
public:
    CExplorer(std::weak_ptr<Session> s, Folder* folder) : m_s(std::move(s)), m_folder(folder) {
        AddConnectionPoint(IID_ExplorerEvents);
        AddConnectionPoint(IID_ExplorerEvents_10);
        m_hwnd = CreateSimWindow(Caption(), 0);
    }
    ~CExplorer() override {
        if (m_hwnd) ::DestroyWindow(m_hwnd);
    }
    const char* TypeName() const override { return "Explorer"; }
    std::string Caption() const { return m_folder->Name() + " - Microsoft Outlook"; }
    HWND Window() const { return m_hwnd; }
    Folder* CurrentFolder() const { return m_folder; }

    bool SwitchTo(Folder* folder) {
        auto s = m_s.lock();
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT newFolder, cancelArg;
        auto folderObj = MakeSim<CFolder>(s, folder);
        newFolder.vt = VT_DISPATCH;
        newFolder.pdispVal = folderObj.get();
        cancelArg.vt = VT_BYREF | VT_BOOL;
        cancelArg.pboolVal = &cancel;
        FireBoth(DISPID_BeforeFolderSwitch, {&newFolder, &cancelArg});
        if (cancel != VARIANT_FALSE) return false;
        m_folder = folder;
        if (m_hwnd) ::SetWindowTextW(m_hwnd, Wide(Caption()).c_str());
        s->selection.clear();
        FireBoth(DISPID_FolderSwitch, {});
        FireBoth(DISPID_SelectionChange, {});
        return true;
    }
    void FireSelectionChange() { FireBoth(DISPID_SelectionChange, {}); }

protected:
    void FireBoth(DISPID id, std::vector<VARIANT*> args) {
        Fire(IID_ExplorerEvents, id, args);
        Fire(IID_ExplorerEvents_10, id, args);
    }
    enum class M {
        Caption,
        CurrentFolder,
        Selection,
        Activate,
        Close,
        Display,
        Application,
        Class,
        WindowState,
        CommandBars,
        Panes
    };
    const std::vector<const char*>& Names() const override;
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    std::weak_ptr<Session> m_s;  // the session owns this object
    Folder* m_folder;
    HWND m_hwnd = nullptr;
};

}  // namespace hvsim
