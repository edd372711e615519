#include "outlook-sim/src/SimOutlookBar.h"

#include <algorithm>

#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimModel.h"
#include "win/ComTypes.h"

namespace hvsim {

namespace {

[[noreturn]] void Fail(HRESULT hr, const std::string& text) {
    throw SimError(hr, text);
}
[[noreturn]] void BadIndex() {
    Fail(E_INVALIDARG, "The operation failed.  An object could not be found.");
}

bool Same(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

// 1-based index from an argument that may be a number or a name.
template <typename T, typename Named>
size_t Locate(const Args& args, const std::vector<std::shared_ptr<T>>& list, Named name) {
    const VARIANT* a = args.At(0);
    if (!a) Fail(DISP_E_PARAMNOTFOUND, "A required argument is missing");
    if (a->vt == VT_BSTR) {
        std::string wanted = args.Text(0);
        for (size_t i = 0; i < list.size(); ++i)
            if (Same(name(*list[i]), wanted)) return i;
        BadIndex();
    }
    long i = args.Long(0);
    if (i < 1 || i > static_cast<long>(list.size())) BadIndex();
    return static_cast<size_t>(i - 1);
}

class CShortcut : public CSimObject {
public:
    CShortcut(std::shared_ptr<ShortcutData> sc, IDispatch* app) : m_sc(std::move(sc)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarShortcut"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Name", "Target", "SetIcon", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        switch (member) {
            case 0:
                if (put)
                    m_sc->name = args.PutText();
                else
                    SetText(result, m_sc->name);
                return;
            case 1:
                if (put) NotFound();
                return SetText(result, m_sc->target);
            case 2: {
                if (put) NotFound();
                // The icon is read from the file: a file that is not there fails.
                std::string path = args.Text(0);
                if (::GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES)
                    Fail(E_INVALIDARG, "The icon file \"" + path + "\" could not be found.");
                m_sc->icon = path;
                return;
            }
            case 3:
            case 5:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
            case 4:
                if (put) NotFound();
                return SetLong(result, 68);  // olOutlookBarShortcut
        }
        NotFound();
    }

private:
    std::shared_ptr<ShortcutData> m_sc;
    hv::com_ptr<IDispatch> m_app;
};

class CShortcuts : public CSimObject {
public:
    CShortcuts(std::shared_ptr<BarGroupData> g, IDispatch* app) : m_g(std::move(g)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarShortcuts"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Count", "Item", "Add", "Remove", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_g->shortcuts;
        switch (member) {
            case 0:
                return SetLong(result, static_cast<long>(list.size()));
            case 1: {
                size_t i = Locate(args, list, [](const ShortcutData& s) { return s.name; });
                return SetDispatch(result, MakeSim<CShortcut>(list[i], m_app.get()).get());
            }
            case 2: {
                // Add(Target, Name, Index): the target is a folder, a path or an address.
                auto sc = std::make_shared<ShortcutData>();
                const VARIANT* target = args.At(0);
                if (!target) Fail(DISP_E_PARAMNOTFOUND, "A required argument is missing");
                if (target->vt == VT_DISPATCH && target->pdispVal) {
                    hv::unique_variant name;
                    DISPID id;
                    LPOLESTR n = const_cast<LPOLESTR>(L"Name");
                    DISPPARAMS none = {nullptr, nullptr, 0, 0};
                    if (SUCCEEDED(target->pdispVal->GetIDsOfNames(IID_NULL, &n, 1, 0, &id)) &&
                        SUCCEEDED(target->pdispVal->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, name.put(),
                                                           nullptr, nullptr)) &&
                        name.vt == VT_BSTR)
                        sc->target = "outlook:" + Utf8(name.bstrVal);
                } else {
                    sc->target = args.Text(0);
                }
                sc->name = args.Text(1);
                long index = args.LongOr(2, static_cast<long>(list.size()) + 1);
                if (index < 1 || index > static_cast<long>(list.size()) + 1) BadIndex();
                list.insert(list.begin() + (index - 1), sc);
                return SetDispatch(result, MakeSim<CShortcut>(sc, m_app.get()).get());
            }
            case 3: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) BadIndex();
                list.erase(list.begin() + (i - 1));
                return;
            }
            case 4:
            case 6:
                return SetDispatch(result, m_app.get());
            case 5:
                return SetLong(result, 67);  // olOutlookBarShortcuts
        }
        NotFound();
    }

private:
    std::shared_ptr<BarGroupData> m_g;
    hv::com_ptr<IDispatch> m_app;
};

class CGroup : public CSimObject {
public:
    CGroup(std::shared_ptr<BarGroupData> g, IDispatch* app) : m_g(std::move(g)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarGroup"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Name", "ViewType", "Shortcuts", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        switch (member) {
            case 0:
                if (put)
                    m_g->name = args.PutText();
                else
                    SetText(result, m_g->name);
                return;
            case 1:
                if (put)
                    m_g->viewType = args.PutLong();
                else
                    SetLong(result, m_g->viewType);
                return;
            case 2:
                if (put) NotFound();
                return SetDispatch(result, MakeSim<CShortcuts>(m_g, m_app.get()).get());
            case 3:
            case 5:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
            case 4:
                if (put) NotFound();
                return SetLong(result, 66);  // olOutlookBarGroup
        }
        NotFound();
    }

private:
    std::shared_ptr<BarGroupData> m_g;
    hv::com_ptr<IDispatch> m_app;
};

class CGroups : public CSimObject {
public:
    CGroups(std::shared_ptr<Model> model, IDispatch* app) : m_model(std::move(model)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarGroups"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Count", "Item", "Add", "Remove", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_model->outlookBarGroups;
        switch (member) {
            case 0:
                return SetLong(result, static_cast<long>(list.size()));
            case 1: {
                size_t i = Locate(args, list, [](const BarGroupData& g) { return g.name; });
                return SetDispatch(result, MakeSim<CGroup>(list[i], m_app.get()).get());
            }
            case 2: {
                // Add(Name, Index)
                auto g = std::make_shared<BarGroupData>();
                g->name = args.Text(0);
                long index = args.LongOr(1, static_cast<long>(list.size()) + 1);
                if (index < 1 || index > static_cast<long>(list.size()) + 1) BadIndex();
                list.insert(list.begin() + (index - 1), g);
                return SetDispatch(result, MakeSim<CGroup>(g, m_app.get()).get());
            }
            case 3: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) BadIndex();
                list.erase(list.begin() + (i - 1));
                return;
            }
            case 4:
            case 6:
                return SetDispatch(result, m_app.get());
            case 5:
                return SetLong(result, 65);  // olOutlookBarGroups
        }
        NotFound();
    }

private:
    std::shared_ptr<Model> m_model;  // keeps the session alive
    hv::com_ptr<IDispatch> m_app;
};

class CStorage : public CSimObject {
public:
    CStorage(std::shared_ptr<Model> model, IDispatch* app) : m_model(std::move(model)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarStorage"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Groups", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        if (put) NotFound();
        switch (member) {
            case 0:
                return SetDispatch(result, MakeSim<CGroups>(m_model, m_app.get()).get());
            case 1:
            case 3:
                return SetDispatch(result, m_app.get());
            case 2:
                return SetLong(result, 64);  // olOutlookBarStorage
        }
        NotFound();
    }

private:
    std::shared_ptr<Model> m_model;
    hv::com_ptr<IDispatch> m_app;
};

class CBarPane : public CSimObject {
public:
    CBarPane(std::shared_ptr<Model> model, IDispatch* app) : m_model(std::move(model)), m_app(app) {}
    const char* TypeName() const override { return "OutlookBarPane"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Name", "Contents", "Visible", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        switch (member) {
            case 0:
                if (put) NotFound();
                return SetText(result, "OutlookBar");
            case 1:
                if (put) NotFound();
                return SetDispatch(result, MakeSim<CStorage>(m_model, m_app.get()).get());
            case 2:
                if (put) return;
                return SetBool(result, true);
            case 3:
            case 5:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
            case 4:
                if (put) NotFound();
                return SetLong(result, 63);  // olOutlookBarPane
        }
        NotFound();
    }

private:
    std::shared_ptr<Model> m_model;
    hv::com_ptr<IDispatch> m_app;
};

class CPanes : public CSimObject {
public:
    CPanes(std::shared_ptr<Model> model, IDispatch* app) : m_model(std::move(model)), m_app(app) {}
    const char* TypeName() const override { return "Panes"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Count", "Item", "Application", "Class", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        switch (member) {
            case 0:
                return SetLong(result, m_model->outlookBar ? 1 : 0);
            case 1: {
                const VARIANT* a = args.At(0);
                bool wanted = a && (a->vt == VT_BSTR ? Same(args.Text(0), "OutlookBar") : args.Long(0) == 1);
                if (!wanted || !m_model->outlookBar)
                    Fail(E_INVALIDARG, "The operation failed.  An object could not be found.");
                return SetDispatch(result, MakeSim<CBarPane>(m_model, m_app.get()).get());
            }
            case 2:
            case 4:
                return SetDispatch(result, m_app.get());
            case 3:
                return SetLong(result, 62);  // olPanes
        }
        NotFound();
    }

private:
    std::shared_ptr<Model> m_model;
    hv::com_ptr<IDispatch> m_app;
};

}  // namespace

hv::com_ptr<IDispatch> NewPanes(std::shared_ptr<Model> model, IDispatch* application) {
    return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(MakeSim<CPanes>(std::move(model), application).get()));
}

}  // namespace hvsim
