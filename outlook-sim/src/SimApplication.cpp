// Application: the namespace, explorer, inspectors, add-ins and CreateItem.
#include "outlook-sim/src/SimApplication.h"

#include "outlook-sim/src/SimComAddIns.h"
#include "outlook-sim/src/SimExplorer.h"
#include "outlook-sim/src/SimItemWindow.h"
#include "outlook-sim/src/SimNamespace.h"

namespace hvsim {

const std::vector<const char*>& CApplication::Names() const {
    static const auto n = MemberNames<M>({{M::Name, "Name"},
                                          {M::Version, "Version"},
                                          {M::GetNamespace, "GetNamespace"},
                                          {M::Session, "Session"},
                                          {M::ActiveExplorer, "ActiveExplorer"},
                                          {M::ActiveInspector, "ActiveInspector"},
                                          {M::Inspectors, "Inspectors"},
                                          {M::COMAddIns, "COMAddIns"},
                                          {M::CreateItem, "CreateItem"},
                                          {M::Quit, "Quit"},
                                          {M::Class, "Class"},
                                          {M::Application, "Application"},
                                          {M::ProductCode, "ProductCode"},
                                          {M::Explorers, "Explorers"}});
    return n;
}

void CApplication::Call(int member, bool put, Args& args, VARIANT* result) {
    auto s = m_s.lock();
    if (!s || s->down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
    if (put) NotFound();
    switch (static_cast<M>(member)) {
        case M::Name:
            SetText(result, "Outlook");
            return;
        case M::Version:
            SetText(result, s->model.version);
            return;
        case M::GetNamespace:
            if (_stricmp(args.Text(0).c_str(), "MAPI") != 0) Fail(E_INVALIDARG, "The operation failed.");
            SetDispatch(result, NewNamespace(s).get());
            return;
        case M::Session:
            SetDispatch(result, NewNamespace(s).get());
            return;
        case M::ActiveExplorer:
            SetDispatch(result, s->explorerOpen ? s->explorer.get() : nullptr);
            return;
        case M::ActiveInspector:
            SetDispatch(result, s->inspectors.empty() ? nullptr : s->inspectors.back().get());
            return;  // top-most
        case M::Inspectors:
            SetDispatch(result, s->inspectorsObj.get());
            return;
        case M::COMAddIns:
            SetDispatch(result, NewComAddIns(s).get());
            return;
        case M::CreateItem: {
            long kind = args.Long(0);
            long folderId = kind == olAppointmentItem ? olFolderCalendar
                            : kind == olTaskItem      ? olFolderTasks
                            : kind == olContactItem   ? olFolderContacts
                                                      : olFolderInbox;
            long cls = kind == olAppointmentItem ? olAppointment
                       : kind == olTaskItem      ? olTask
                       : kind == olContactItem   ? olContact
                                                 : olMail;
            if (kind == olMailItem) folderId = olFolderOutbox;
            SetDispatch(result, s->ItemObject(s->model.NewItem(s->model.GetFolder(folderId), cls)).get());
            return;
        }
        case M::Quit:
            return;
        case M::Class:
            SetLong(result, 0);
            return;  // olApplication
        case M::Application:
            SetDispatch(result, this);
            return;
        case M::ProductCode:
            SetText(result, "{90160000-000F-0000-0000-0000000FF1CE}");
            return;
        case M::Explorers:
            NotFound();
    }
    NotFound();
}

}  // namespace hvsim
