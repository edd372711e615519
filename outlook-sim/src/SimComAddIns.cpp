// COMAddIns and COMAddIn: the registered add-ins; Connect loads or unloads one through the host.
#include "outlook-sim/src/SimComAddIns.h"

namespace hvsim {

namespace {

class CCOMAddIn : public CSimObject {
public:
    CCOMAddIn(std::shared_ptr<Session> s, size_t index) : m_s(std::move(s)), m_index(index) {}
    const char* TypeName() const override { return "COMAddIn"; }

protected:
    enum class M { Description, ProgId, Connect, Object, Guid };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Description, "Description"},
                                              {M::ProgId, "ProgId"},
                                              {M::Connect, "Connect"},
                                              {M::Object, "Object"},
                                              {M::Guid, "Guid"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (m_index >= m_s->model.addIns.size()) NotFound();
        AddInEntry& a = m_s->model.addIns[m_index];
        switch (static_cast<M>(member)) {
            case M::Description:
                if (put)
                    a.description = args.PutText();
                else
                    SetText(result, a.description);
                return;
            case M::ProgId:
                if (put) NotFound();
                SetText(result, a.progId);
                return;
            case M::Connect:
                if (!put) return SetBool(result, a.connected);
                if (m_s->host) {
                    // Copy: the host may change the list while it loads the add-in.
                    std::string progId = a.progId;
                    if (!m_s->host->Connect(progId, args.PutBool())) Fail(E_FAIL, "The add-in could not be connected.");
                } else {
                    a.connected = args.PutBool();
                }
                return;
            case M::Object:
                if (put) NotFound();
                SetDispatch(result, a.object);
                return;
            case M::Guid: {
                if (put) NotFound();
                CLSID clsid;
                wchar_t text[64] = {};
                if (SUCCEEDED(::CLSIDFromProgID(Wide(a.progId).c_str(), &clsid))) ::StringFromGUID2(clsid, text, 64);
                SetText(result, Utf8(text));
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    size_t m_index;
};

class CCOMAddIns : public CSimObject {
public:
    explicit CCOMAddIns(std::shared_ptr<Session> s) : m_s(std::move(s)) {}
    const char* TypeName() const override { return "COMAddIns"; }

protected:
    enum class M { Count, Item, Update };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Count, "Count"}, {M::Item, "Item"}, {M::Update, "Update"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        auto& list = m_s->model.addIns;
        switch (static_cast<M>(member)) {
            case M::Count:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case M::Item: {
                const VARIANT* a = args.At(0);
                if (a && a->vt == VT_BSTR) {
                    std::string id = args.Text(0);
                    for (size_t i = 0; i < list.size(); ++i)
                        if (_stricmp(list[i].progId.c_str(), id.c_str()) == 0)
                            return SetDispatch(result, MakeSim<CCOMAddIn>(m_s, i).get());
                    Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                }
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CCOMAddIn>(m_s, static_cast<size_t>(i - 1)).get());
                return;
            }
            case M::Update:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
};

}  // namespace

hv::com_ptr<IDispatch> NewComAddIns(std::shared_ptr<Session> s) {
    return hv::com_ptr<IDispatch>(MakeSim<CCOMAddIns>(std::move(s)).get());
}

hv::com_ptr<IDispatch> NewComAddIn(std::shared_ptr<Session> s, size_t index) {
    return hv::com_ptr<IDispatch>(MakeSim<CCOMAddIn>(std::move(s), index).get());
}

}  // namespace hvsim
