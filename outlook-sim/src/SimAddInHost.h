#pragma once
// The add-in host: loads COM add-ins from their Office registration the way Outlook does
// (Software\Microsoft\Office\Outlook\Addins\<ProgID> under HKCU and HKLM, "LoadBehavior",
// CoCreateInstance by ProgID, IDTExtensibility2), drives their lifecycle, asks them for their
// ribbon markup and calls its callbacks, and at exit reports the references they still hold on
// Outlook's objects.
#include <windows.h>
#include <oaidl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outlook-sim/src/OfficeInterfaces.h"
#include "win/ComPtr.h"

namespace hvsim {

class SimOutlook;

// One control of an add-in's ribbon markup.
struct RibbonControlInfo {
    std::string progId;    // the add-in it belongs to
    std::string ribbonId;  // "Microsoft.Outlook.Explorer", "Microsoft.Outlook.Task" ...
    std::string kind;      // element name: "button", "toggleButton" ...
    std::string id, tag, label, onAction, getImage, tabIdMso, groupId;
    bool imageOk = false;                  // getImage answered an IPictureDisp
    long imageWidth = 0, imageHeight = 0;  // of that picture, in pixels
};

// What happened to one registered add-in.
struct AddInState {
    std::string progId;
    std::string hive;  // "HKCU" or "HKLM"
    DWORD loadBehavior = 0;
    std::string friendlyName, description;
    bool connected = false;
    std::string error;  // why it is not loaded
};

class AddInHost {
public:
    explicit AddInHost(SimOutlook& outlook);
    // A host for another application that loads Outlook's add-ins (Word as the mail editor):
    // add-ins get `application`, and no ribbon is asked for.
    AddInHost(SimOutlook& outlook, IDispatch* application);
    ~AddInHost();
    AddInHost(const AddInHost&) = delete;
    AddInHost& operator=(const AddInHost&) = delete;

    // Start-up: every add-in registered with LoadBehavior 3 is created and gets
    // OnConnection(app, ext_cm_Startup, COMAddIn, custom); then each gets OnAddInsUpdate and
    // OnStartupComplete. The caller raises Application "Startup" afterwards.
    size_t Start();
    // COMAddIns.Item(progId).Connect = connect: a late load (OnConnection with
    // ext_cm_AfterStartup only) or a user unload (OnDisconnection(ext_dm_UserClosed), Release).
    bool Connect(const std::string& progId, bool connect);
    // Exit: OnBeginShutdown to each connected add-in, then OnDisconnection(ext_dm_HostShutdown)
    // to each, then the final Release of each.
    void Shutdown();

    // Ribbon: the markup of a window type (asked once per add-in and ribbon id).
    void LoadRibbon(const std::string& ribbonId, IDispatch* context);
    // A click on a ribbon control: onAction(IRibbonControl). False (with the reason) when no
    // loaded ribbon of that window has the control or the callback fails.
    bool ClickRibbon(const std::string& controlId, const std::string& ribbonId, IDispatch* context, std::string* error);
    std::vector<RibbonControlInfo> RibbonControls(const std::string& ribbonId = std::string()) const;
    // How many times GetCustomUI was called for the ribbon id (all add-ins).
    int CustomUICalls(const std::string& ribbonId) const;

    const std::vector<AddInState>& States() const { return m_states; }
    const AddInState* State(const std::string& progId) const;
    bool IsConnected(const std::string& progId) const;
    IDispatch* AddInObject(const std::string& progId) const;
    // Messages Outlook would show or log: load failures, custom UI errors.
    std::vector<std::string>& Messages() { return m_messages; }

private:
    struct Loaded;
    bool LoadOne(AddInState& state, int connectMode);
    void Note(const std::string& message);
    void ParseRibbon(Loaded& addin, const std::string& ribbonId, const std::string& xml, IDispatch* context);
    Loaded* Find(const std::string& progId) const;

    IDispatch* Application() const;

    SimOutlook& m_outlook;
    hv::com_ptr<IDispatch> m_application;  // set for a host other than Outlook
    std::vector<AddInState> m_states;
    std::vector<std::unique_ptr<Loaded>> m_loaded;
    std::vector<RibbonControlInfo> m_controls;
    std::map<std::string, int> m_customUiCalls;
    std::vector<std::string> m_messages;
};

// Registry helpers for the simulated installation.
// Writes HKCR\Outlook.Application\CurVer = "Outlook.Application.<major>".
bool WriteCurVer(int major);
// Registers an add-in for Outlook: HKCU (or HKLM) Software\Microsoft\Office\Outlook\Addins\<ProgID>.
bool RegisterOutlookAddIn(const std::string& progId, DWORD loadBehavior, bool machine = false,
                          const std::string& friendlyName = std::string());
bool UnregisterOutlookAddIn(const std::string& progId, bool machine = false);
// The "LoadBehavior" value now in the registry (HKCU first), or -1 when absent.
long ReadLoadBehavior(const std::string& progId);

}  // namespace hvsim
