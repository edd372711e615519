#include "outlook-sim/src/SimWord.h"

#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"

namespace hvsim {

namespace {

const IID IID_WordApplicationEvents2 = {0x000209FE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID DISPID_WindowActivate = 10;

class CWordApplication : public CSimObject {
public:
    CWordApplication(std::shared_ptr<CommandBarSet> bars, std::string version)
        : m_bars(std::move(bars)), m_version(std::move(version)) {
        AddConnectionPoint(IID_WordApplicationEvents2);
    }
    const char* TypeName() const override { return "Word.Application"; }
    void FireWindowActivate(IDispatch* doc, IDispatch* window) {
        VARIANT d, w;
        d.vt = VT_DISPATCH;
        d.pdispVal = doc;
        w.vt = VT_DISPATCH;
        w.pdispVal = window;
        Fire(IID_WordApplicationEvents2, DISPID_WindowActivate, {&d, &w});
    }
    hv::com_ptr<IDispatch> activeDocument, activeWindow;
    bool closed = false;

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Name",         "Version",     "CommandBars", "ActiveDocument",
                                                   "ActiveWindow", "Application", "Visible",     "Quit"};
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        if (closed) throw SimError(RPC_E_DISCONNECTED, "Word has closed");
        if (put && member != 6) NotFound();
        switch (member) {
            case 0:
                return SetText(result, "Microsoft Word");
            case 1:
                return SetText(result, m_version);
            case 2:
                return SetDispatch(result, NewCommandBars(m_bars, this).get());
            case 3:
                if (!activeDocument)
                    throw SimError(E_FAIL, "This command is not available because no document is open.");
                return SetDispatch(result, activeDocument.get());
            case 4:
                if (!activeWindow) throw SimError(E_FAIL, "This command is not available because no document is open.");
                return SetDispatch(result, activeWindow.get());
            case 5:
                return SetDispatch(result, this);
            case 6:
                if (put) return;
                return SetBool(result, false);
            case 7:
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<CommandBarSet> m_bars;
    std::string m_version;
};

class CWordDocument : public CSimObject {
public:
    CWordDocument(IDispatch* app, std::string name) : m_app(app), m_name(std::move(name)) {}
    const char* TypeName() const override { return "Word.Document"; }
    bool envelopeVisible = true;
    hv::com_ptr<IDispatch> window;  // set once; released by Release()
    void ReleaseLinks() {
        window.reset();
        m_app.reset();
    }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"EnvelopeVisible", "Name", "Application", "ActiveWindow", "Saved"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        switch (member) {
            case 0:
                if (put)
                    envelopeVisible = args.PutBool();
                else
                    SetBool(result, envelopeVisible);
                return;
            case 1:
                if (put) NotFound();
                return SetText(result, m_name);
            case 2:
                if (put) NotFound();
                return SetDispatch(result, m_app.get());
            case 3:
                if (put) NotFound();
                return SetDispatch(result, window.get());
            case 4:
                if (put) return;
                return SetBool(result, true);
        }
        NotFound();
    }

private:
    hv::com_ptr<IDispatch> m_app;
    std::string m_name;
};

class CWordWindow : public CSimObject {
public:
    CWordWindow(IDispatch* app, IDispatch* doc, std::string caption)
        : m_app(app), m_doc(doc), m_caption(std::move(caption)) {}
    const char* TypeName() const override { return "Word.Window"; }
    void ReleaseLinks() {
        m_doc.reset();
        m_app.reset();
    }

protected:
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Caption", "Document", "Application", "Activate"};
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        if (put) NotFound();
        switch (member) {
            case 0:
                return SetText(result, m_caption);
            case 1:
                return SetDispatch(result, m_doc.get());
            case 2:
                return SetDispatch(result, m_app.get());
            case 3:
                return;
        }
        NotFound();
    }

private:
    hv::com_ptr<IDispatch> m_app;
    hv::com_ptr<IDispatch> m_doc;
    std::string m_caption;
};

}  // namespace

struct WordHost::Doc {
    std::shared_ptr<ItemData> item;
    hv::com_ptr<CWordDocument> doc;
    hv::com_ptr<CWordWindow> window;
};

WordHost::WordHost(SimOutlook& outlook, CommandBarRegistry& registry) : m_outlook(outlook) {
    m_bars = registry.NewSet("Word");
    auto app = MakeSim<CWordApplication>(m_bars, outlook.GetModel().version);
    m_app = hv::com_ptr<IDispatch>(static_cast<IDispatch*>(app.get()));
    m_host = std::make_unique<AddInHost>(outlook, m_app.get());
}

WordHost::~WordHost() {
    Shutdown();
}

IDispatch* WordHost::Application() const {
    return m_app.get();
}

size_t WordHost::StartAddIns() {
    return m_host->Start();
}

IDispatch* WordHost::Document(const std::shared_ptr<ItemData>& item) {
    for (const auto& d : m_docs)
        if (d->item == item) return d->doc.get();
    auto d = std::make_unique<Doc>();
    d->item = item;
    std::string subject = item->Subject().empty() ? "Untitled" : item->Subject();
    d->doc = MakeSim<CWordDocument>(m_app.get(), subject);
    d->window = MakeSim<CWordWindow>(m_app.get(), d->doc.get(), subject + " - Message");
    d->doc->window = hv::com_ptr<IDispatch>(static_cast<IDispatch*>(d->window.get()));
    IDispatch* out = d->doc.get();
    m_docs.push_back(std::move(d));
    return out;
}

void WordHost::Activate(const std::shared_ptr<ItemData>& item, bool envelopeVisible) {
    Document(item);
    for (const auto& d : m_docs) {
        if (d->item != item) continue;
        d->doc->envelopeVisible = envelopeVisible;
        auto* app = static_cast<CWordApplication*>(static_cast<CSimObject*>(m_app.get()));
        app->activeDocument = hv::com_ptr<IDispatch>(static_cast<IDispatch*>(d->doc.get()));
        app->activeWindow = hv::com_ptr<IDispatch>(static_cast<IDispatch*>(d->window.get()));
        app->FireWindowActivate(d->doc.get(), d->window.get());
        return;
    }
}

void WordHost::Forget(const std::shared_ptr<ItemData>& item) {
    for (auto it = m_docs.begin(); it != m_docs.end(); ++it) {
        if ((*it)->item != item) continue;
        auto* app = static_cast<CWordApplication*>(static_cast<CSimObject*>(m_app.get()));
        if (app->activeDocument.get() == static_cast<IDispatch*>((*it)->doc.get())) {
            app->activeDocument.reset();
            app->activeWindow.reset();
        }
        (*it)->doc->ReleaseLinks();
        (*it)->window->ReleaseLinks();
        m_docs.erase(it);
        return;
    }
}

void WordHost::Shutdown() {
    if (!m_app) return;
    m_host->Shutdown();
    while (!m_docs.empty()) Forget(m_docs.front()->item);
    auto* app = static_cast<CWordApplication*>(static_cast<CSimObject*>(m_app.get()));
    app->closed = true;
    m_app.reset();
}

}  // namespace hvsim
