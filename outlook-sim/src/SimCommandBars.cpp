#include "outlook-sim/src/SimCommandBars.h"

#include <algorithm>

#include "outlook-sim/src/SimDispatch.h"

namespace hvsim {

namespace {

const IID IID_CommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID DISPID_Click = 1;

[[noreturn]] void Fail(HRESULT hr, const std::string& text) {
    throw SimError(hr, text);
}

bool Same(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

// Office compares captions without the accelerator ampersands.
std::string Plain(const std::string& caption) {
    std::string out;
    for (char c : caption)
        if (c != '&') out += c;
    return out;
}

// Reads one clipboard format into bytes.
bool ReadClipboard(UINT format, std::vector<BYTE>* out) {
    HANDLE h = ::GetClipboardData(format);
    if (!h) return false;
    const void* p = ::GlobalLock(h);
    if (!p) return false;
    SIZE_T n = ::GlobalSize(h);
    out->assign(static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
    ::GlobalUnlock(h);
    return true;
}

class CCommandBarButton : public CSimObject {
public:
    CCommandBarButton(std::shared_ptr<ControlState> c, IDispatch* app) : m_c(std::move(c)), m_app(app) {
        AddConnectionPoint(IID_CommandBarButtonEvents);
        m_c->live = this;
    }
    ~CCommandBarButton() override {
        if (m_c->live == this) m_c->live = nullptr;
    }
    const char* TypeName() const override { return "CommandBarButton"; }
    void FireClick(IDispatch* clicked, VARIANT_BOOL* cancel) {
        VARIANT ctrl, cancelArg;
        ctrl.vt = VT_DISPATCH;
        ctrl.pdispVal = clicked;
        cancelArg.vt = VT_BYREF | VT_BOOL;
        cancelArg.pboolVal = cancel;
        Fire(IID_CommandBarButtonEvents, DISPID_Click, {&ctrl, &cancelArg});
    }
    size_t Sinks() const { return SinkCount(IID_CommandBarButtonEvents); }
    void Orphan() { m_deleted = true; }

protected:
    enum {
        Caption,
        Style,
        Tag,
        Visible,
        Enabled,
        Picture,
        Mask,
        PasteFace,
        Execute,
        Delete,
        Id,
        Type,
        TooltipText,
        FaceId,
        OnAction,
        Parameter,
        BeginGroup,
        State,
        DescriptionText,
        Application,
        Parent,
        Index,
        Priority
    };
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {
            "Caption",   "Style",      "Tag",         "Visible",         "Enabled",
            "Picture",   "Mask",       "PasteFace",   "Execute",         "Delete",
            "Id",        "Type",       "TooltipText", "FaceId",          "OnAction",
            "Parameter", "BeginGroup", "State",       "DescriptionText", "Application",
            "Parent",    "Index",      "Priority"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (m_deleted) Fail(E_FAIL, "The control has been deleted.");
        ControlState& c = *m_c;
        auto text = [&](std::string& field) {
            if (put)
                field = args.PutText();
            else
                SetText(result, field);
        };
        auto flag = [&](bool& field) {
            if (put)
                field = args.PutBool();
            else
                SetBool(result, field);
        };
        auto number = [&](long& field) {
            if (put)
                field = args.PutLong();
            else
                SetLong(result, field);
        };
        auto picture = [&](hv::com_ptr<IPictureDisp>& field) {
            if (!put) {
                if (!field) Fail(E_FAIL, "The control has no picture.");
                hv::com_ptr<IDispatch> d;
                field->QueryInterface(IID_IDispatch, d.put_void());
                return SetDispatch(result, d.get());
            }
            const VARIANT& v = args.PutValue();
            hv::com_ptr<IPictureDisp> p;
            if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && v.punkVal)
                v.punkVal->QueryInterface(IID_IPictureDisp, p.put_void());
            if (!p) Fail(E_INVALIDARG, "An IPictureDisp was expected.");
            field = p;
        };
        switch (member) {
            case Caption:
                return text(c.caption);
            case Style:
                return number(c.style);
            case Tag:
                return text(c.tag);
            case Visible:
                return flag(c.visible);
            case Enabled:
                return flag(c.enabled);
            case Picture:
                return picture(c.picture);
            case Mask:
                return picture(c.mask);
            case PasteFace:
                return Paste();
            case Execute:
                return;
            case Delete:
                m_deleted = true;
                return DeleteFromBars();
            case Id:
                if (put) NotFound();
                return SetLong(result, c.id);
            case Type:
                if (put) NotFound();
                return SetLong(result, c.type);
            case TooltipText:
                return text(c.tooltip);
            case FaceId:
                return number(c.faceId);
            case OnAction:
                return text(c.onAction);
            case Parameter:
                return text(c.parameter);
            case BeginGroup:
                return flag(c.beginGroup);
            case State:
                if (put) return;
                return SetLong(result, 0);
            case DescriptionText:
                return text(c.tooltip);
            case Application:
            case Parent:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
            case Index:
                if (put) NotFound();
                return SetLong(result, 1);
            case Priority:
                if (put) return;
                return SetLong(result, 0);
        }
        NotFound();
    }

private:
    // PasteFace: the face comes from the clipboard, as a DIB; Office also reads its private
    // "Toolbar Button Face" and "Toolbar Button Mask" formats when they are there.
    void Paste() {
        ControlState& c = *m_c;
        bool opened = false;
        for (int attempt = 0; attempt < 50 && !(opened = ::OpenClipboard(nullptr) != FALSE); ++attempt) ::Sleep(10);
        if (!opened) Fail(E_FAIL, "The clipboard could not be opened.");
        std::vector<BYTE> dib, face, mask;
        std::vector<std::string> formats;
        const UINT faceFormat = ::RegisterClipboardFormatW(L"Toolbar Button Face");
        const UINT maskFormat = ::RegisterClipboardFormatW(L"Toolbar Button Mask");
        if (ReadClipboard(CF_DIB, &dib)) formats.push_back("CF_DIB");
        if (ReadClipboard(faceFormat, &face)) formats.push_back("Toolbar Button Face");
        if (ReadClipboard(maskFormat, &mask)) formats.push_back("Toolbar Button Mask");
        ::CloseClipboard();
        if (dib.empty() && face.empty()) Fail(E_FAIL, "PasteFace failed: there is no picture on the clipboard.");
        c.faceDib = dib;
        c.toolbarFace = face;
        c.toolbarMask = mask;
        c.pastedFormats = formats;
        ++c.pasteCount;
    }
    void DeleteFromBars();

    std::shared_ptr<ControlState> m_c;
    hv::com_ptr<IDispatch> m_app;
    bool m_deleted = false;

public:
    std::weak_ptr<BarState> bar;
};

void CCommandBarButton::DeleteFromBars() {
    if (auto b = bar.lock()) {
        auto& v = b->controls;
        v.erase(std::remove(v.begin(), v.end(), m_c), v.end());
    }
}

hv::com_ptr<IDispatch> ButtonObject(const std::shared_ptr<ControlState>& c, const std::shared_ptr<BarState>& bar,
                                    IDispatch* app) {
    if (c->live) {
        auto* b = static_cast<CCommandBarButton*>(c->live);
        if (bar) b->bar = bar;
        return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(b));
    }
    auto b = MakeSim<CCommandBarButton>(c, app);
    b->bar = bar;
    return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(b.get()));
}

class CCommandBarControls : public CSimObject {
public:
    CCommandBarControls(std::shared_ptr<BarState> bar, IDispatch* app) : m_bar(std::move(bar)), m_app(app) {}
    const char* TypeName() const override { return "CommandBarControls"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Count", "Item", "Add", "Application", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_bar->controls;
        switch (member) {
            case 0:
                return SetLong(result, static_cast<long>(list.size()));
            case 1: {
                const VARIANT* a = args.At(0);
                if (a && a->vt == VT_BSTR) {
                    std::string caption = Plain(args.Text(0));
                    for (const auto& c : list)
                        if (Same(Plain(c->caption), caption))
                            return SetDispatch(result, ButtonObject(c, m_bar, m_app.get()).get());
                    Fail(E_INVALIDARG, "Invalid procedure call or argument");
                }
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size()))
                    Fail(E_INVALIDARG, "Invalid procedure call or argument");
                return SetDispatch(result, ButtonObject(list[static_cast<size_t>(i - 1)], m_bar, m_app.get()).get());
            }
            case 2: {
                // Add(Type, Id, Parameter, Before, Temporary): buttons only.
                long type = args.LongOr(0, 1);
                if (type != 1) Fail(E_INVALIDARG, "Only msoControlButton controls can be added here.");
                auto c = std::make_shared<ControlState>();
                c->id = args.LongOr(1, 1);
                c->parameter = args.TextOr(2, std::string());
                c->temporary = args.BoolOr(4, false);
                long before = args.LongOr(3, 0);
                if (before >= 1 && before <= static_cast<long>(list.size()))
                    list.insert(list.begin() + (before - 1), c);
                else
                    list.push_back(c);
                return SetDispatch(result, ButtonObject(c, m_bar, m_app.get()).get());
            }
            case 3:
            case 4:
                return SetDispatch(result, m_app.get());
        }
        NotFound();
    }

private:
    std::shared_ptr<BarState> m_bar;
    hv::com_ptr<IDispatch> m_app;
};

class CCommandBar : public CSimObject {
public:
    CCommandBar(std::shared_ptr<CommandBarSet> set, std::shared_ptr<BarState> bar, IDispatch* app)
        : m_set(std::move(set)), m_bar(std::move(bar)), m_app(app) {}
    const char* TypeName() const override { return "CommandBar"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {
            "Name",  "Top",  "Left",    "Position",  "RowIndex", "Visible", "Enabled",     "Delete", "Controls",
            "Index", "Type", "BuiltIn", "NameLocal", "Height",   "Width",   "Application", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        auto& bars = m_set->bars;
        if (std::find(bars.begin(), bars.end(), m_bar) == bars.end()) Fail(E_FAIL, "The command bar has been deleted.");
        BarState& b = *m_bar;
        auto number = [&](long& field) {
            if (put)
                field = args.PutLong();
            else
                SetLong(result, field);
        };
        auto flag = [&](bool& field) {
            if (put)
                field = args.PutBool();
            else
                SetBool(result, field);
        };
        switch (member) {
            case 0:
            case 12:
                if (put)
                    b.name = args.PutText();
                else
                    SetText(result, b.name);
                return;
            case 1:
                return number(b.top);
            case 2:
                return number(b.left);
            case 3:
                return number(b.position);
            case 4:
                return number(b.rowIndex);
            case 5:
                return flag(b.visible);
            case 6:
                return flag(b.enabled);
            case 7:
                if (put) NotFound();
                if (b.builtIn) Fail(E_FAIL, "A built-in command bar cannot be deleted.");
                for (auto& c : b.controls)
                    if (c->live) static_cast<CCommandBarButton*>(c->live)->Orphan();
                bars.erase(std::remove(bars.begin(), bars.end(), m_bar), bars.end());
                return;
            case 8:
                if (put) NotFound();
                return SetDispatch(result, MakeSim<CCommandBarControls>(m_bar, m_app.get()).get());
            case 9: {
                if (put) NotFound();
                long i = static_cast<long>(std::find(bars.begin(), bars.end(), m_bar) - bars.begin()) + 1;
                return SetLong(result, i);
            }
            case 10:
                if (put) NotFound();
                return SetLong(result, b.menuBar ? 1 : 0);  // msoBarTypeNormal / MenuBar
            case 11:
                if (put) NotFound();
                return SetBool(result, b.builtIn);
            case 13:
                if (put) return;
                return SetLong(result, 26);
            case 14:
                if (put) return;
                return SetLong(result, 24 + 80 * static_cast<long>(b.controls.size()));
            case 15:
            case 16:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
        }
        NotFound();
    }

private:
    std::shared_ptr<CommandBarSet> m_set;
    std::shared_ptr<BarState> m_bar;
    hv::com_ptr<IDispatch> m_app;
};

class CCommandBars : public CSimObject {
public:
    CCommandBars(std::shared_ptr<CommandBarSet> set, IDispatch* app) : m_set(std::move(set)), m_app(app) {}
    const char* TypeName() const override { return "CommandBars"; }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Count", "Item", "Add", "Application", "Parent", "ActiveMenuBar"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& bars = m_set->bars;
        auto object = [&](const std::shared_ptr<BarState>& b) { return MakeSim<CCommandBar>(m_set, b, m_app.get()); };
        switch (member) {
            case 0:
                return SetLong(result, static_cast<long>(bars.size()));
            case 1: {
                const VARIANT* a = args.At(0);
                if (a && a->vt == VT_BSTR) {
                    auto b = m_set->Find(args.Text(0));
                    if (!b) Fail(E_INVALIDARG, "Invalid procedure call or argument");
                    return SetDispatch(result, object(b).get());
                }
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(bars.size()))
                    Fail(E_INVALIDARG, "Invalid procedure call or argument");
                return SetDispatch(result, object(bars[static_cast<size_t>(i - 1)]).get());
            }
            case 2: {
                // Add(Name, Position, MenuBar, Temporary)
                auto b = std::make_shared<BarState>();
                b->name = args.TextOr(0, "Custom " + std::to_string(bars.size() + 1));
                if (m_set->Find(b->name)) Fail(E_INVALIDARG, "Invalid procedure call or argument");
                b->position = args.LongOr(1, 4);  // msoBarFloating
                if (b->position < 0 || b->position > 6) Fail(E_INVALIDARG, "Invalid procedure call or argument");
                b->menuBar = args.BoolOr(2, false);
                b->temporary = args.BoolOr(3, false);
                long row = 0;
                for (const auto& other : bars)
                    if (other->position == b->position) row = std::max(row, other->rowIndex + 1);
                b->rowIndex = row;
                b->top = b->position == 1 ? 26 * row : 0;
                bars.push_back(b);
                return SetDispatch(result, object(b).get());
            }
            case 3:
            case 4:
                return SetDispatch(result, m_app.get());
            case 5: {
                for (const auto& b : bars)
                    if (b->menuBar) return SetDispatch(result, object(b).get());
                return SetDispatch(result, nullptr);
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<CommandBarSet> m_set;
    hv::com_ptr<IDispatch> m_app;
};

}  // namespace

std::shared_ptr<BarState> CommandBarSet::Find(const std::string& name) const {
    for (const auto& b : bars)
        if (Same(b->name, name)) return b;
    return nullptr;
}

std::shared_ptr<CommandBarSet> CommandBarRegistry::NewSet(const std::string& owner) {
    auto set = std::make_shared<CommandBarSet>();
    set->owner = owner;
    for (const char* name : {"Menu Bar", "Standard"}) {
        auto b = std::make_shared<BarState>();
        b->name = name;
        b->builtIn = true;
        b->visible = true;
        b->menuBar = std::string(name) == "Menu Bar";
        b->rowIndex = static_cast<long>(set->bars.size());
        b->top = 26 * b->rowIndex;
        set->bars.push_back(b);
    }
    Adopt(set);
    return set;
}

void CommandBarRegistry::Adopt(const std::shared_ptr<CommandBarSet>& set) {
    m_sets.erase(
        std::remove_if(m_sets.begin(), m_sets.end(), [](const std::weak_ptr<CommandBarSet>& w) { return w.expired(); }),
        m_sets.end());
    m_sets.push_back(set);
}

std::vector<std::shared_ptr<CommandBarSet>> CommandBarRegistry::Sets() const {
    std::vector<std::shared_ptr<CommandBarSet>> out;
    for (const auto& w : m_sets)
        if (auto s = w.lock()) out.push_back(s);
    return out;
}

bool CommandBarRegistry::Click(CommandBarSet& set, const std::string& barName, const std::string& caption,
                               bool* cancelDefault, size_t* sinks, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    auto bar = set.Find(barName);
    if (!bar) return fail("no command bar \"" + barName + "\"");
    if (!bar->visible || !bar->enabled) return fail("the command bar \"" + barName + "\" is hidden or disabled");
    std::shared_ptr<ControlState> control;
    for (const auto& c : bar->controls)
        if (Same(Plain(c->caption), Plain(caption))) control = c;
    if (!control) return fail("no button \"" + caption + "\" on \"" + barName + "\"");
    if (!control->visible || !control->enabled) return fail("the button \"" + caption + "\" is hidden or disabled");

    // The clicked control is what every sink receives as Ctrl.
    hv::com_ptr<IDispatch> clicked = ButtonObject(control, bar, nullptr);
    std::vector<hv::com_ptr<IDispatch>> targets;
    if (control->tag.empty()) {
        targets.push_back(clicked);
    } else {
        for (const auto& s : Sets())
            for (const auto& b : s->bars)
                for (const auto& c : b->controls)
                    if (c->live && c->tag == control->tag) targets.emplace_back(static_cast<IDispatch*>(c->live));
    }
    VARIANT_BOOL cancel = VARIANT_FALSE;
    size_t called = 0;
    for (const auto& t : targets) {
        auto* button = static_cast<CCommandBarButton*>(static_cast<CSimObject*>(t.get()));
        called += button->Sinks();
        button->FireClick(clicked.get(), &cancel);
    }
    if (cancelDefault) *cancelDefault = cancel != VARIANT_FALSE;
    if (sinks) *sinks = called;
    return true;
}

size_t CommandBarRegistry::ClickSinks(const std::string& tag) const {
    size_t n = 0;
    for (const auto& s : Sets())
        for (const auto& b : s->bars)
            for (const auto& c : b->controls)
                if (c->live && c->tag == tag) n += static_cast<CCommandBarButton*>(c->live)->Sinks();
    return n;
}

hv::com_ptr<IDispatch> NewCommandBars(std::shared_ptr<CommandBarSet> set, IDispatch* application) {
    return hv::com_ptr<IDispatch>(static_cast<IDispatch*>(MakeSim<CCommandBars>(std::move(set), application).get()));
}

hv::com_ptr<IDispatch> CommandBarButtonObject(const std::shared_ptr<ControlState>& control, IDispatch* application) {
    return ButtonObject(control, nullptr, application);
}

}  // namespace hvsim
