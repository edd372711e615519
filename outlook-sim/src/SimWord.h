#pragma once
// Word as Outlook's mail editor (WordMail, Outlook 2002/2003 style): a Word Application
// ("Microsoft Word") with its command bars and its ApplicationEvents2 ("WindowActivate",
// DISPID 10), one Document and Window per mail inspector (Document.EnvelopeVisible), and an
// add-in host that loads Outlook's registered add-ins into Word with Word's Application.
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "win/ComPtr.h"

namespace hvsim {

class SimOutlook;
class AddInHost;
class CommandBarRegistry;
struct CommandBarSet;
struct ItemData;

class WordHost {
public:
    WordHost(SimOutlook& outlook, CommandBarRegistry& registry);
    ~WordHost();
    WordHost(const WordHost&) = delete;
    WordHost& operator=(const WordHost&) = delete;

    IDispatch* Application() const;
    // Word's Application.CommandBars (the bars an add-in adds in a WordMail inspector).
    const std::shared_ptr<CommandBarSet>& Bars() const { return m_bars; }
    // Loads the add-ins registered for Outlook into Word (OnConnection(Word.Application,
    // ext_cm_Startup, …), OnAddInsUpdate, OnStartupComplete). Returns the number connected.
    size_t StartAddIns();
    AddInHost& Host() const { return *m_host; }
    // The Document (and its Window) Word edits the item in; created on first use.
    IDispatch* Document(const std::shared_ptr<ItemData>& item);
    // Word activates the item's window: WindowActivate(Document, Window) to the
    // ApplicationEvents2 sinks; the document's envelope (the mail header) is shown or not.
    void Activate(const std::shared_ptr<ItemData>& item, bool envelopeVisible);
    // The document of the item is closed (its inspector closed).
    void Forget(const std::shared_ptr<ItemData>& item);
    // Unloads the add-ins (OnBeginShutdown, OnDisconnection(0), Release) and lets go of Word's
    // objects.
    void Shutdown();

private:
    struct Doc;
    SimOutlook& m_outlook;
    hv::com_ptr<IDispatch> m_app;
    std::shared_ptr<CommandBarSet> m_bars;
    std::unique_ptr<AddInHost> m_host;
    std::vector<std::unique_ptr<Doc>> m_docs;
};

}  // namespace hvsim
