#pragma once
// The Application object, root of the object model, which raises the application events.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

class CApplication : public CSimObject {
public:
    explicit CApplication(std::weak_ptr<Session> s) : m_s(std::move(s)) {
        AddConnectionPoint(IID_ApplicationEvents);
        AddConnectionPoint(IID_ApplicationEvents_10);
        AddConnectionPoint(IID_ApplicationEvents_11);
    }
    const char* TypeName() const override { return "Application"; }
    std::weak_ptr<Session> SessionRef() const { return m_s; }

    void FireAll(DISPID id, std::vector<VARIANT*> args) {
        Fire(IID_ApplicationEvents, id, args);
        Fire(IID_ApplicationEvents_10, id, args);
        Fire(IID_ApplicationEvents_11, id, args);
    }

protected:
    enum class M {
        Name,
        Version,
        GetNamespace,
        Session,
        ActiveExplorer,
        ActiveInspector,
        Inspectors,
        COMAddIns,
        CreateItem,
        Quit,
        Class,
        Application,
        ProductCode,
        Explorers
    };
    const std::vector<const char*>& Names() const override;
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    std::weak_ptr<Session> m_s;
};

}  // namespace hvsim
