#pragma once
// A folder (MAPIFolder) and its Items collections: live ones that raise the folder's events,
// and restricted or sorted snapshots.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

class CItems : public CSimObject {
public:
    // Unrestricted (live over the folder, raising ItemsEvents) or a restricted snapshot.
    CItems(std::shared_ptr<Session> s, Folder* folder, std::vector<std::shared_ptr<ItemData>>* snapshot = nullptr)
        : m_s(std::move(s)), m_folder(folder) {
        if (snapshot) {
            m_restricted = true;
            m_snapshot = *snapshot;
        } else {
            AddConnectionPoint(IID_ItemsEvents);
            m_s->liveItems.push_back(this);
        }
    }
    ~CItems() override {
        auto& v = m_s->liveItems;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    const char* TypeName() const override { return "Items"; }
    Folder* GetFolder() const { return m_folder; }
    void FireItem(DISPID id, IDispatch* item) {
        if (id == DISPID_ItemRemove) return Fire(IID_ItemsEvents, id, {});
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = item;
        Fire(IID_ItemsEvents, id, {&arg});
    }

protected:
    enum Member {
        Count,
        Item,
        Add,
        Restrict,
        Find,
        FindNext,
        GetFirst,
        GetNext,
        GetLast,
        GetPrevious,
        Sort,
        IncludeRecurrences,
        Remove,
        Class,
        Parent
    };
    const std::vector<const char*>& Names() const override;
    std::vector<std::shared_ptr<ItemData>>& List() { return m_restricted ? m_snapshot : m_folder->Items(); }
    void Call(int member, bool put, Args& args, VARIANT* result) override;

private:
    std::shared_ptr<Session> m_s;
    Folder* m_folder;
    bool m_restricted = false;
    std::vector<std::shared_ptr<ItemData>> m_snapshot;
    std::shared_ptr<Filter> m_findFilter;
    size_t m_cursor = 0;
    bool m_includeRecurrences = false;
};

class CFolder : public CSimObject {
public:
    CFolder(std::shared_ptr<Session> s, Folder* folder) : m_s(std::move(s)), m_folder(folder) {}
    const char* TypeName() const override { return "MAPIFolder"; }
    Folder* GetFolder() const { return m_folder; }

protected:
    enum class M { Name, Items, DefaultItemType, EntryID, Application, Class, DefaultMessageClass, Session, Display };
    const std::vector<const char*>& Names() const override;
    void Call(int member, bool put, Args&, VARIANT* result) override;

private:
    std::shared_ptr<Session> m_s;
    Folder* m_folder;
};

}  // namespace hvsim
