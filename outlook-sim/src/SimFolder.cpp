// MAPIFolder and Items: Add, Restrict, Find and the cursor members over the folder's items.
#include "outlook-sim/src/SimFolder.h"

#include <algorithm>

namespace hvsim {

const std::vector<const char*>& CFolder::Names() const {
    static const auto n = MemberNames<M>({{M::Name, "Name"},
                                          {M::Items, "Items"},
                                          {M::DefaultItemType, "DefaultItemType"},
                                          {M::EntryID, "EntryID"},
                                          {M::Application, "Application"},
                                          {M::Class, "Class"},
                                          {M::DefaultMessageClass, "DefaultMessageClass"},
                                          {M::Session, "Session"},
                                          {M::Display, "Display"}});
    return n;
}

void CFolder::Call(int member, bool put, Args&, VARIANT* result) {
    CheckUp(*m_s);
    if (put) NotFound();
    switch (static_cast<M>(member)) {
        case M::Name:
            SetText(result, m_folder->Name());
            return;
        case M::Items: {
            // Outlook gives a fresh Items object per call; each raises the folder's events.
            SetDispatch(result, MakeSim<CItems>(m_s, m_folder).get());
            return;
        }
        case M::DefaultItemType:
            SetLong(result, m_folder->DefaultItemType());
            return;
        case M::EntryID:
            SetText(result, m_folder->EntryId());
            return;
        case M::Application:
        case M::Session:
            SetDispatch(result, m_s->appRef.get());
            return;
        case M::Class:
            SetLong(result, 2);
            return;  // olFolder
        case M::DefaultMessageClass: {
            static const char* classes[] = {"IPM.Note", "IPM.Appointment", "IPM.Contact", "IPM.Task"};
            SetText(result, classes[std::min(3L, m_folder->DefaultItemType())]);
            return;
        }
        case M::Display:
            return;
    }
    NotFound();
}

const std::vector<const char*>& CItems::Names() const {
    static const auto n = MemberNames<Member>({{Count, "Count"},
                                               {Item, "Item"},
                                               {Add, "Add"},
                                               {Restrict, "Restrict"},
                                               {Find, "Find"},
                                               {FindNext, "FindNext"},
                                               {GetFirst, "GetFirst"},
                                               {GetNext, "GetNext"},
                                               {GetLast, "GetLast"},
                                               {GetPrevious, "GetPrevious"},
                                               {Sort, "Sort"},
                                               {IncludeRecurrences, "IncludeRecurrences"},
                                               {Remove, "Remove"},
                                               {Class, "Class"},
                                               {Parent, "Parent"}});
    return n;
}

void CItems::Call(int member, bool put, Args& args, VARIANT* result) {
    CheckUp(*m_s);
    auto& list = List();
    if (put && member != IncludeRecurrences) NotFound();
    switch (member) {
        case Count:
            SetLong(result, static_cast<long>(list.size()));
            return;
        case Item: {
            const VARIANT* a = args.At(0);
            if (!a) Fail(DISP_E_PARAMNOTFOUND, "Index missing");
            if (a->vt == VT_BSTR) {
                std::string subject = args.Text(0);
                for (const auto& it : list)
                    if (_stricmp(it->Subject().c_str(), subject.c_str()) == 0)
                        return SetDispatch(result, m_s->ItemObject(it).get());
                Fail(MAPI_E_NOT_FOUND_, "The attempted operation failed.  An object could not be found.");
            }
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            SetDispatch(result, m_s->ItemObject(list[static_cast<size_t>(i - 1)]).get());
            return;
        }
        case Add: {
            // Add([Type]): an OlItemType number or a message class; by default the folder's kind.
            long kind = m_folder->DefaultItemType();
            if (const VARIANT* a = args.At(0)) {
                if (a->vt == VT_BSTR) {
                    std::string cls = args.Text(0);
                    if (_strnicmp(cls.c_str(), "IPM.Task", 8) == 0)
                        kind = olTaskItem;
                    else if (_strnicmp(cls.c_str(), "IPM.Appointment", 15) == 0)
                        kind = olAppointmentItem;
                    else if (_strnicmp(cls.c_str(), "IPM.Contact", 11) == 0)
                        kind = olContactItem;
                    else
                        kind = olMailItem;
                } else {
                    kind = args.Long(0);
                }
            }
            long cls;
            switch (kind) {
                case olMailItem:
                    cls = olMail;
                    break;
                case olAppointmentItem:
                    cls = olAppointment;
                    break;
                case olContactItem:
                    cls = olContact;
                    break;
                case olTaskItem:
                    cls = olTask;
                    break;
                default:
                    Fail(E_INVALIDARG, "Could not complete the operation. One or more parameter values are not valid.");
            }
            // Outlook lets a folder hold only items of its own kind (mail folders take any note).
            if (cls != olMail && kind != m_folder->DefaultItemType())
                Fail(E_INVALIDARG, "Could not complete the operation. One or more parameter values are not valid.");
            SetDispatch(result, m_s->ItemObject(m_s->model.NewItem(m_folder, cls)).get());
            return;
        }
        case Restrict: {
            Filter f;
            try {
                f = Filter::Parse(args.Text(0));
                std::vector<std::shared_ptr<ItemData>> matched;
                for (const auto& it : list)
                    if (f.Matches(*it, *m_folder)) matched.push_back(it);
                SetDispatch(result, MakeSim<CItems>(m_s, m_folder, &matched).get());
            } catch (const FilterError& e) {
                Fail(E_INVALIDARG, e.what());
            }
            return;
        }
        case Find:
        case FindNext: {
            try {
                if (member == Find) {
                    m_findFilter = std::make_shared<Filter>(Filter::Parse(args.Text(0)));
                    m_cursor = 0;
                } else if (!m_findFilter) {
                    Fail(E_FAIL, "Find must be called before FindNext");
                }
                for (; m_cursor < list.size(); ++m_cursor) {
                    if (m_findFilter->Matches(*list[m_cursor], *m_folder)) {
                        SetDispatch(result, m_s->ItemObject(list[m_cursor++]).get());
                        return;
                    }
                }
                SetDispatch(result, nullptr);  // Nothing
            } catch (const FilterError& e) {
                Fail(E_INVALIDARG, e.what());
            }
            return;
        }
        case GetFirst:
        case GetNext:
        case GetLast:
        case GetPrevious: {
            if (member == GetFirst)
                m_cursor = 0;
            else if (member == GetNext)
                ++m_cursor;
            else if (member == GetLast)
                m_cursor = list.empty() ? 0 : list.size() - 1;
            else
                m_cursor = m_cursor == 0 ? list.size() : m_cursor - 1;
            SetDispatch(result, m_cursor < list.size() ? m_s->ItemObject(list[m_cursor]).get() : nullptr);
            return;
        }
        case Sort: {
            std::string prop = args.Text(0);
            bool desc = args.BoolOr(1, false);
            if (!prop.empty() && prop.front() == '[') prop = prop.substr(1, prop.size() - 2);
            if (!m_restricted) {
                m_snapshot = list;
                m_restricted = true;
            }
            std::stable_sort(m_snapshot.begin(), m_snapshot.end(), [&](const auto& a, const auto& b) {
                Value x = a->Get(CanonicalProperty(a->cls, prop)), y = b->Get(CanonicalProperty(b->cls, prop));
                bool less = (x.kind == Value::Text) ? x.text < y.text : (x.kind == Value::Date ? x.d < y.d : x.l < y.l);
                bool greater =
                    (x.kind == Value::Text) ? y.text < x.text : (x.kind == Value::Date ? y.d < x.d : y.l < x.l);
                return desc ? greater : less;
            });
            return;
        }
        case IncludeRecurrences:
            if (put)
                m_includeRecurrences = args.PutBool();
            else
                SetBool(result, m_includeRecurrences);
            return;
        case Remove: {
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            m_s->model.Delete(list[static_cast<size_t>(i - 1)]);
            return;
        }
        case Class:
            SetLong(result, 16);
            return;  // olItems
        case Parent:
            SetDispatch(result, MakeSim<CFolder>(m_s, m_folder).get());
            return;
    }
    NotFound();
}

}  // namespace hvsim
