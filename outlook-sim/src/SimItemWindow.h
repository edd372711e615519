#pragma once
// Inspectors (the windows items are opened in) and the Inspectors collection.
#include "outlook-sim/src/SimItem.h"
#include "outlook-sim/src/SimSession.h"
#include "outlook-sim/src/SimWord.h"

namespace hvsim {

class CInspector : public CSimObject {
public:
    CInspector(std::shared_ptr<Session> s, hv::com_ptr<IDispatch> item, int offset)
        : m_s(std::move(s)), m_item(std::move(item)) {
        auto* data = static_cast<CItem*>(m_item.get())->Data().get();
        std::string subject = data->Subject();
        m_caption = (subject.empty() ? std::string("Untitled") : subject) + " - " + KindName(data->cls);
        m_bars = m_s->barRegistry->NewSet("Inspector");
        // Shown only after NewInspector, as Outlook does.
        m_hwnd = CreateSimWindow(m_caption, offset, false);
    }
    const std::shared_ptr<CommandBarSet>& Bars() const { return m_bars; }
    void Show() {
        if (m_hwnd && ShowWindows()) ::ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
        shown = true;
    }
    bool shown = false;  // the window was shown (NewInspector has run)
    ~CInspector() override { DestroyWindowNow(); }
    const char* TypeName() const override { return "Inspector"; }
    CItem* Item() const { return static_cast<CItem*>(m_item.get()); }
    HWND Window() const { return m_hwnd; }
    bool wordMail = false;

    // Close as the user does: ItemEvents "Close" (which may cancel), save, window gone.
    bool CloseNow(bool save) {
        hv::com_ptr<CInspector> self(this);
        auto data = Item()->Data();
        // Outlook raises "Close" before the save, or (EventDelivery::closeAfterWrite) after it.
        const bool writeFirst = m_s->model.delivery.closeAfterWrite;
        if (writeFirst && save && data->dirty) m_s->model.Save(data);
        bool cancel = false;
        Item()->FireClose(&cancel);
        if (cancel) return false;
        if (!writeFirst && save && data->dirty) m_s->model.Save(data);
        if (wordMail && m_s->owner) m_s->owner->Word().Forget(data);
        DestroyWindowNow();
        m_s->InspectorClosed(this);
        return true;
    }

protected:
    enum class M {
        Caption,
        CurrentItem,
        IsWordMail,
        Close,
        Display,
        Activate,
        Application,
        Class,
        WordEditor,
        EditorType,
        CommandBars
    };
    const std::vector<const char*>& Names() const override;
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    void DestroyWindowNow() {
        if (m_hwnd) {
            ::DestroyWindow(m_hwnd);
            m_hwnd = nullptr;
        }
    }
    std::shared_ptr<Session> m_s;
    hv::com_ptr<IDispatch> m_item;
    std::string m_caption;
    std::shared_ptr<CommandBarSet> m_bars;
    HWND m_hwnd = nullptr;
};

class CInspectors : public CSimObject {
public:
    explicit CInspectors(std::shared_ptr<Session> s) : m_s(std::move(s)) { AddConnectionPoint(IID_InspectorsEvents); }
    const char* TypeName() const override { return "Inspectors"; }
    void FireNew(IDispatch* inspector) {
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = inspector;
        Fire(IID_InspectorsEvents, DISPID_NewInspector, {&arg});
    }

protected:
    enum class M { Count, Item, Add, Application, Class };
    const std::vector<const char*>& Names() const override;
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    std::weak_ptr<Session> m_s;  // the session owns this object
};

}  // namespace hvsim
