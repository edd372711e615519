// NameSpace: the default folders, items by EntryID, and the profile's state.
#include "outlook-sim/src/SimNamespace.h"

#include "outlook-sim/src/SimFolder.h"

namespace hvsim {

namespace {

class CNamespace : public CSimObject {
public:
    explicit CNamespace(std::shared_ptr<Session> s) : m_s(std::move(s)) {}
    const char* TypeName() const override { return "NameSpace"; }

protected:
    enum class M { GetDefaultFolder, GetItemFromID, Offline, Type, Application, CurrentUser, Class, Logon, Logoff };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::GetDefaultFolder, "GetDefaultFolder"},
                                              {M::GetItemFromID, "GetItemFromID"},
                                              {M::Offline, "Offline"},
                                              {M::Type, "Type"},
                                              {M::Application, "Application"},
                                              {M::CurrentUser, "CurrentUser"},
                                              {M::Class, "Class"},
                                              {M::Logon, "Logon"},
                                              {M::Logoff, "Logoff"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();  // Offline is read-only in Outlook; tests switch it through SimOutlook
        switch (static_cast<M>(member)) {
            case M::GetDefaultFolder: {
                Folder* f = m_s->model.GetFolder(args.Long(0));
                if (!f) Fail(E_INVALIDARG, "The operation failed.");
                SetDispatch(result, MakeSim<CFolder>(m_s, f).get());
                return;
            }
            case M::GetItemFromID: {
                auto item = m_s->model.FindByEntryId(args.Text(0));
                if (!item) Fail(MAPI_E_NOT_FOUND_, "The operation failed.  An object could not be found.");
                SetDispatch(result, (item->IsRecurring() ? m_s->SnapshotObject(item) : m_s->ItemObject(item)).get());
                return;
            }
            case M::Offline:
                SetBool(result, m_s->model.offline);
                return;
            case M::Type:
                SetText(result, "MAPI");
                return;
            case M::Application:
                SetDispatch(result, m_s->appRef.get());
                return;
            case M::CurrentUser:
                SetText(result, "Outlook User");
                return;
            case M::Class:
                SetLong(result, 1);
                return;  // olNamespace
            case M::Logon:
            case M::Logoff:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
};

}  // namespace

hv::com_ptr<IDispatch> NewNamespace(std::shared_ptr<Session> s) {
    return hv::com_ptr<IDispatch>(MakeSim<CNamespace>(std::move(s)).get());
}

}  // namespace hvsim
