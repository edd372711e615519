#pragma once
// An Outlook item (task, appointment, mail, contact, meeting request, report) over the model.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

class CItem : public CSimObject {
public:
    // `snapshot` >= 0: a copy of its own over a recurring item (see Session::SnapshotObject),
    // which is not the item's shared object.
    CItem(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item, long snapshot = -1)
        : m_s(std::move(s)), m_item(std::move(item)) {
        AddConnectionPoint(IID_ItemEvents);
        AddConnectionPoint(IID_ItemEvents_10);
        if (snapshot < 0) m_item->liveObject = this;
        m_snapshot = snapshot >= 0 ? snapshot : Owner()->version;
    }
    ~CItem() override {
        if (m_item->liveObject == this) m_item->liveObject = nullptr;
    }
    const char* TypeName() const override { return "Item"; }
    const std::shared_ptr<ItemData>& Data() const { return m_item; }

    void FireClose(bool* cancel) {
        VARIANT_BOOL c = VARIANT_FALSE;
        VARIANT arg;
        arg.vt = VT_BYREF | VT_BOOL;
        arg.pboolVal = &c;
        Fire(IID_ItemEvents, DISPID_Close, {&arg});
        Fire(IID_ItemEvents_10, DISPID_Close, {&arg});
        if (cancel) *cancel = c != VARIANT_FALSE;
    }

protected:
    enum Member {
        Save,
        Delete,
        Close,
        Display,
        Forward,
        ForwardAsVcal,
        ForwardAsVcard,
        Send,
        GetRecurrencePattern,
        ClearRecurrencePattern,
        Move,
        GetInspector,
        UserProperties,
        Recipients,
        Attachments,
        Application,
        Session_,
        Parent,
        Class,
        EntryID,
        IsRecurring,
        RecurrenceState,
        Saved,
        Duration,
        Size,
        kFirstProperty
    };
    static const std::vector<std::string>& PropertyNames() {
        static const std::vector<std::string> names = [] {
            std::vector<std::string> all;
            for (long cls : {olTask, olAppointment, olMail, olContact})
                for (const auto& kv : ClassDefaults(cls))
                    if (std::find(all.begin(), all.end(), kv.first) == all.end()) all.push_back(kv.first);
            std::sort(all.begin(), all.end());
            return all;
        }();
        return names;
    }
    const std::vector<const char*>& Names() const override;

    hv::com_ptr<IDispatch> NewMailFrom(const std::string& subjectPrefix);
    void Call(int member, bool put, Args& args, VARIANT* result) override;
    // The item whose saves count for this one: the series of an occurrence, else the item.
    std::shared_ptr<ItemData> Owner() const {
        auto series = m_item->series.lock();
        return series ? series : m_item;
    }
    // A recurring item saved through another object since this one was opened.
    bool Stale() const { return m_item->IsRecurring() && Owner()->version != m_snapshot; }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
    long m_snapshot = 0;
    std::map<std::string, Value> m_pending;  // unsaved changes of a copy of a recurring item
};

}  // namespace hvsim
