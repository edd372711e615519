// Recipients and Recipient: names and addresses kept on the item; an address resolves when it
// has an "@".
#include "outlook-sim/src/SimRecipients.h"

namespace hvsim {

namespace {

class CRecipient : public CSimObject {
public:
    CRecipient(std::shared_ptr<ItemData> item, size_t index) : m_item(std::move(item)), m_index(index) {}
    const char* TypeName() const override { return "Recipient"; }

protected:
    enum class M { Name, Address, Resolved, Resolve, Type, Delete };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Name, "Name"},
                                              {M::Address, "Address"},
                                              {M::Resolved, "Resolved"},
                                              {M::Resolve, "Resolve"},
                                              {M::Type, "Type"},
                                              {M::Delete, "Delete"}});
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        if (put || m_index >= m_item->recipients.size()) NotFound();
        Recipient& r = m_item->recipients[m_index];
        switch (static_cast<M>(member)) {
            case M::Name:
                SetText(result, r.name);
                return;
            case M::Address:
                SetText(result, r.address);
                return;
            case M::Resolved:
                SetBool(result, r.resolved);
                return;
            case M::Resolve:
                r.resolved = true;
                SetBool(result, true);
                return;
            case M::Type:
                SetLong(result, 1);
                return;  // olTo
            case M::Delete:
                m_item->recipients.erase(m_item->recipients.begin() + static_cast<long>(m_index));
                return;
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
    size_t m_index;
};

class CRecipients : public CSimObject {
public:
    explicit CRecipients(std::shared_ptr<ItemData> item) : m_item(std::move(item)) {}
    const char* TypeName() const override { return "Recipients"; }

protected:
    enum class M { Count, Item, Add, ResolveAll, Remove };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Count, "Count"},
                                              {M::Item, "Item"},
                                              {M::Add, "Add"},
                                              {M::ResolveAll, "ResolveAll"},
                                              {M::Remove, "Remove"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_item->recipients;
        switch (static_cast<M>(member)) {
            case M::Count:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case M::Item: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CRecipient>(m_item, static_cast<size_t>(i - 1)).get());
                return;
            }
            case M::Add: {
                Recipient r;
                r.name = args.Text(0);
                r.address = r.name;
                list.push_back(r);
                m_item->dirty = true;
                SetDispatch(result, MakeSim<CRecipient>(m_item, list.size() - 1).get());
                return;
            }
            case M::ResolveAll: {
                // Every address with an "@" resolves; plain names do not.
                bool all = true;
                for (auto& r : list) {
                    r.resolved = r.address.find('@') != std::string::npos;
                    all = all && r.resolved;
                }
                SetBool(result, all);
                return;
            }
            case M::Remove: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                list.erase(list.begin() + (i - 1));
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
};

}  // namespace

hv::com_ptr<IDispatch> NewRecipients(std::shared_ptr<ItemData> item) {
    return hv::com_ptr<IDispatch>(MakeSim<CRecipients>(std::move(item)).get());
}

}  // namespace hvsim
