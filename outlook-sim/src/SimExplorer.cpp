// Explorer and Selection.
#include "outlook-sim/src/SimExplorer.h"

#include "outlook-sim/src/SimFolder.h"
#include "outlook-sim/src/SimOutlookBar.h"

namespace hvsim {

namespace {

class CSelection : public CSimObject {
public:
    CSelection(std::shared_ptr<Session> s, std::vector<std::shared_ptr<ItemData>> items)
        : m_s(std::move(s)), m_items(std::move(items)) {}
    const char* TypeName() const override { return "Selection"; }

protected:
    enum class M { Count, Item, Class };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Count, "Count"}, {M::Item, "Item"}, {M::Class, "Class"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        switch (static_cast<M>(member)) {
            case M::Count:
                SetLong(result, static_cast<long>(m_items.size()));
                return;
            case M::Item: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(m_items.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, m_s->ItemObject(m_items[static_cast<size_t>(i - 1)]).get());
                return;
            }
            case M::Class:
                SetLong(result, 74);
                return;  // olSelection
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::vector<std::shared_ptr<ItemData>> m_items;
};

}  // namespace

const std::vector<const char*>& CExplorer::Names() const {
    static const auto n = MemberNames<M>({{M::Caption, "Caption"},
                                          {M::CurrentFolder, "CurrentFolder"},
                                          {M::Selection, "Selection"},
                                          {M::Activate, "Activate"},
                                          {M::Close, "Close"},
                                          {M::Display, "Display"},
                                          {M::Application, "Application"},
                                          {M::Class, "Class"},
                                          {M::WindowState, "WindowState"},
                                          {M::CommandBars, "CommandBars"},
                                          {M::Panes, "Panes"}});
    return n;
}

void CExplorer::Call(int member, bool put, Args& args, VARIANT* result) {
    auto s = m_s.lock();
    if (!s || s->down) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
    switch (static_cast<M>(member)) {
        case M::Caption:
            if (put) NotFound();
            SetText(result, Caption());
            return;
        case M::CurrentFolder:
            if (put) {
                auto* f =
                    dynamic_cast<CFolder*>(static_cast<CSimObject*>(static_cast<IDispatch*>(args.PutValue().pdispVal)));
                if (args.PutValue().vt != VT_DISPATCH || !f) Fail(E_INVALIDARG, "A folder was expected");
                SwitchTo(f->GetFolder());
                return;
            }
            SetDispatch(result, MakeSim<CFolder>(s, m_folder).get());
            return;
        case M::Selection:
            if (put) NotFound();
            SetDispatch(result, MakeSim<CSelection>(s, s->selection).get());
            return;
        case M::Activate:
        case M::Close:
        case M::Display:
            if (put) NotFound();
            return;
        case M::Application:
            if (put) NotFound();
            SetDispatch(result, s->appRef.get());
            return;
        case M::Class:
            if (put) NotFound();
            SetLong(result, 34);
            return;  // olExplorer
        case M::WindowState:
            if (put) return;
            SetLong(result, 0);
            return;
        case M::CommandBars:
            if (put) NotFound();
            SetDispatch(result, NewCommandBars(s->explorerBars, s->appRef.get()).get());
            return;
        case M::Panes:
            if (put) NotFound();
            SetDispatch(result, NewPanes(std::shared_ptr<Model>(s, &s->model), s->appRef.get()).get());
            return;
    }
    NotFound();
}

}  // namespace hvsim
