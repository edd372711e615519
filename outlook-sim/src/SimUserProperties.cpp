// UserProperties and UserProperty: typed values kept on the item; Add also defines the field in
// the folder unless told not to (filters on user fields need it there).
#include "outlook-sim/src/SimUserProperties.h"

#include <algorithm>

namespace hvsim {

namespace {

class CUserProperty : public CSimObject {
public:
    CUserProperty(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item, std::string name)
        : m_s(std::move(s)), m_item(std::move(item)), m_name(std::move(name)) {}
    const char* TypeName() const override { return "UserProperty"; }

protected:
    enum class M { Value, Name, Type, Delete, Class };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>(
            {{M::Value, "Value"}, {M::Name, "Name"}, {M::Type, "Type"}, {M::Delete, "Delete"}, {M::Class, "Class"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        UserProperty* p = m_item->FindUserProp(m_name);
        if (!p) Fail(E_FAIL, "The property has been deleted");
        switch (static_cast<M>(member)) {
            case M::Value:
                if (put) {
                    const VARIANT& v = args.PutValue();
                    if (p->type == olYesNo)
                        p->value = Value(args.PutBool());
                    else if (p->type == olDateTime)
                        p->value = Value::FromDate(args.PutDate());
                    else if (p->type == olNumber || p->type == olInteger)
                        p->value = Value(args.PutLong());
                    else
                        p->value = Value(args.PutText());
                    (void)v;
                    m_item->dirty = true;
                    return;
                }
                switch (p->value.kind) {
                    case Value::Bool:
                        SetBool(result, p->value.l != 0);
                        break;
                    case Value::Long:
                        SetLong(result, p->value.l);
                        break;
                    case Value::Date:
                        SetDate(result, p->value.d);
                        break;
                    default:
                        SetText(result, p->value.AsText());
                        break;
                }
                return;
            case M::Name:
                if (put) NotFound();
                SetText(result, p->name);
                return;
            case M::Type:
                if (put) NotFound();
                SetLong(result, p->type);
                return;
            case M::Delete: {
                auto& v = m_item->userProps;
                v.erase(std::remove_if(v.begin(), v.end(), [&](const UserProperty& u) { return &u == p; }), v.end());
                m_item->dirty = true;
                return;
            }
            case M::Class:
                SetLong(result, 39);
                return;  // olUserProperty
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
    std::string m_name;
};

class CUserProperties : public CSimObject {
public:
    CUserProperties(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item)
        : m_s(std::move(s)), m_item(std::move(item)) {}
    const char* TypeName() const override { return "UserProperties"; }

protected:
    enum class M { Count, Item, Find, Add, Remove, Class };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Count, "Count"},
                                              {M::Item, "Item"},
                                              {M::Find, "Find"},
                                              {M::Add, "Add"},
                                              {M::Remove, "Remove"},
                                              {M::Class, "Class"}});
        return n;
    }
    hv::com_ptr<IDispatch> Prop(const std::string& name) {
        return hv::com_ptr<IDispatch>(MakeSim<CUserProperty>(m_s, m_item, name).get());
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        auto& props = m_item->userProps;
        switch (static_cast<M>(member)) {
            case M::Count:
                SetLong(result, static_cast<long>(props.size()));
                return;
            case M::Item: {
                const VARIANT* a = args.At(0);
                if (!a) Fail(DISP_E_PARAMNOTFOUND, "Index missing");
                std::string name;
                if (a->vt == VT_BSTR) {
                    name = args.Text(0);
                    if (!m_item->FindUserProp(name)) Fail(MAPI_E_NOT_FOUND_, "The property was not found");
                } else {
                    long i = args.Long(0);
                    if (i < 1 || i > static_cast<long>(props.size()))
                        Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                    name = props[static_cast<size_t>(i - 1)].name;
                }
                SetDispatch(result, Prop(name).get());
                return;
            }
            case M::Find: {  // Find(Name, [Custom]): Nothing when absent
                std::string name = args.Text(0);
                SetDispatch(result, m_item->FindUserProp(name) ? Prop(name).get() : nullptr);
                return;
            }
            case M::Add: {  // Add(Name, Type, [AddToFolderFields], [DisplayFormat])
                std::string name = args.Text(0);
                long type = args.Long(1);
                bool toFolder = args.BoolOr(2, true);
                if (name.empty() || name.find_first_of("[]_#") != std::string::npos)
                    Fail(E_INVALIDARG, "The property name is not valid");
                if (!m_item->FindUserProp(name)) {
                    UserProperty p;
                    p.name = name;
                    p.type = type;
                    if (type == olYesNo)
                        p.value = Value(false);
                    else if (type == olDateTime)
                        p.value = Value::FromDate(kNoDate);
                    else if (type == olNumber || type == olInteger)
                        p.value = Value(0L);
                    else
                        p.value = Value(std::string());
                    props.push_back(p);
                    m_item->dirty = true;
                }
                if (toFolder && m_item->folder && !m_item->folder->HasUserField(name))
                    m_item->folder->UserFields().push_back(name);
                SetDispatch(result, Prop(name).get());
                return;
            }
            case M::Remove: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(props.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                props.erase(props.begin() + (i - 1));
                m_item->dirty = true;
                return;
            }
            case M::Class:
                SetLong(result, 38);
                return;  // olUserProperties
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_item;
};

}  // namespace

hv::com_ptr<IDispatch> NewUserProperties(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item) {
    return hv::com_ptr<IDispatch>(MakeSim<CUserProperties>(std::move(s), std::move(item)).get());
}

}  // namespace hvsim
