// The item's members: its properties (by name, from the class's defaults), Save with the rules
// of recurring items' copies, Send, Forward, the recurrence pattern and the item's collections.
#include "outlook-sim/src/SimItem.h"

#include <algorithm>
#include <cmath>

#include "outlook-sim/src/SimAttachments.h"
#include "outlook-sim/src/SimFolder.h"
#include "outlook-sim/src/SimItemWindow.h"
#include "outlook-sim/src/SimNamespace.h"
#include "outlook-sim/src/SimRecipients.h"
#include "outlook-sim/src/SimRecurrencePattern.h"
#include "outlook-sim/src/SimUserProperties.h"
#include "outlook-sim/src/SimApplication.h"

namespace hvsim {

const std::vector<const char*>& CItem::Names() const {
    static const std::vector<const char*> n = [] {
        auto v = MemberNames<Member>({{Save, "Save"},
                                      {Delete, "Delete"},
                                      {Close, "Close"},
                                      {Display, "Display"},
                                      {Forward, "Forward"},
                                      {ForwardAsVcal, "ForwardAsVcal"},
                                      {ForwardAsVcard, "ForwardAsVcard"},
                                      {Send, "Send"},
                                      {GetRecurrencePattern, "GetRecurrencePattern"},
                                      {ClearRecurrencePattern, "ClearRecurrencePattern"},
                                      {Move, "Move"},
                                      {GetInspector, "GetInspector"},
                                      {UserProperties, "UserProperties"},
                                      {Recipients, "Recipients"},
                                      {Attachments, "Attachments"},
                                      {Application, "Application"},
                                      {Session_, "Session"},
                                      {Parent, "Parent"},
                                      {Class, "Class"},
                                      {EntryID, "EntryID"},
                                      {IsRecurring, "IsRecurring"},
                                      {RecurrenceState, "RecurrenceState"},
                                      {Saved, "Saved"},
                                      {Duration, "Duration"},
                                      {Size, "Size"}});
        // The properties follow the methods, each with the DISPID of its place.
        for (const auto& p : PropertyNames()) v.push_back(p.c_str());
        return v;
    }();
    return n;
}

hv::com_ptr<IDispatch> CItem::NewMailFrom(const std::string& subjectPrefix) {
    auto mail = m_s->model.NewItem(m_s->model.GetFolder(olFolderOutbox), olMail);
    mail->props["Subject"] = Value(subjectPrefix + m_item->Subject());
    mail->props["Body"] = m_item->Get("Body");
    mail->attachments = m_item->attachments;
    return m_s->ItemObject(mail);
}

namespace {
std::string VcalText(const ItemData& item) {
    auto stamp = [](DATE d) {
        std::string t = FormatDate(d);  // yyyy-mm-dd hh:mm:ss
        return t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + "T" + t.substr(11, 2) + t.substr(14, 2) +
               t.substr(17, 2);
    };
    return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:" + stamp(item.Get("Start").AsDate()) +
           "\r\nDTEND:" + stamp(item.Get("End").AsDate()) + "\r\nLOCATION:" + item.Get("Location").AsText() +
           "\r\nSUMMARY:" + item.Subject() + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}
std::string VcardText(const ItemData& item) {
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:" + item.Get("FullName").AsText() +
           "\r\nEMAIL;PREF;INTERNET:" + item.Get("Email1Address").AsText() + "\r\nEND:VCARD\r\n";
}
}  // namespace

void CItem::Call(int member, bool put, Args& args, VARIANT* result) {
    CheckUp(*m_s);
    ItemData& d = *m_item;
    if (member >= kFirstProperty) {
        const std::string& name = PropertyNames()[static_cast<size_t>(member - kFirstProperty)];
        const auto& defaults = ClassDefaults(d.cls);
        auto def = defaults.find(name);
        if (def == defaults.end()) NotFound();  // not a property of this class
        if (!put && d.isOccurrence() && (Stale() || Owner()->failOccurrenceReads))
            Fail(MAPI_E_NOT_FOUND_,
                 "You changed one of the recurrences of this item, and this instance no longer exists. "
                 "Close any open items and try again.");
        if (!put) {
            auto mine = m_pending.find(name);
            Value v = mine != m_pending.end() ? mine->second : d.Get(name);
            switch (def->second.kind) {
                case Value::Bool:
                    return SetBool(result, v.AsBool());
                case Value::Long:
                    return SetLong(result, v.AsLong());
                case Value::Date:
                    return SetDate(result, v.AsDate());
                default:
                    return SetText(result, v.AsText());
            }
        }
        if (name == "LastModificationTime" || name == "CreationTime" || name == "MessageClass" || name == "Sent" ||
            name == "SentOn" || name == "ReceivedTime")
            Fail(E_ACCESSDENIED, "The property \"" + name + "\" is read-only.");
        Value v;
        switch (def->second.kind) {
            case Value::Bool:
                v = Value(args.PutBool());
                break;
            case Value::Long:
                v = Value(args.PutLong());
                break;
            case Value::Date:
                v = Value::FromDate(args.PutDate());
                break;
            default:
                v = Value(args.PutText());
                break;
        }
        if (d.IsRecurring()) {
            // A copy of a recurring item keeps its changes to itself until it is saved.
            m_pending[name] = v;
            return;
        }
        d.Set(name, v);
        // Outlook keeps a task's Complete, Status and PercentComplete in step, and an
        // appointment's End after its Start.
        if (d.cls == olTask && name == "Complete") {
            bool done = d.Get("Complete").AsBool();
            d.props["Status"] = Value(done ? 2L : 0L);
            d.props["PercentComplete"] = Value(done ? 100L : 0L);
            d.props["DateCompleted"] = Value::FromDate(done ? static_cast<DATE>(DayNumber(m_s->model.Now())) : kNoDate);
        }
        if (d.cls == olTask && (name == "StartDate" || name == "DueDate")) {
            // A task's dates are whole days (midnight), and a due date is never before the start
            // date: a later start moves the due date, a start without a due date gives one, an
            // earlier due date moves the start, and no due date means no start date either.
            DATE start = d.Get("StartDate").AsDate(), due = d.Get("DueDate").AsDate();
            if (start < kNoDate) start = DayNumber(start);
            if (due < kNoDate) due = DayNumber(due);
            if (name == "StartDate" && start < kNoDate && (due >= kNoDate || due < start)) due = start;
            if (name == "DueDate" && due < kNoDate && start < kNoDate && start > due) start = due;
            if (name == "DueDate" && due >= kNoDate) start = kNoDate;
            d.props["StartDate"] = Value::FromDate(start);
            d.props["DueDate"] = Value::FromDate(due);
        }
        if (d.cls == olAppointment && name == "Start" && !d.isOccurrence() && !d.recurrence) {
            // Moving the start keeps the duration.
            (void)0;
        }
        return;
    }
    if (put) NotFound();
    switch (member) {
        case Save: {
            std::shared_ptr<ItemData> owner = Owner();
            if (Stale() || owner->failSaves > 0) {
                if (!Stale()) --owner->failSaves;
                Fail(MAPI_E_OBJECT_CHANGED_SIM,
                     "The operation cannot be performed because the message has been changed.");
            }
            // This copy's changes go into the item; an occurrence refused its new place keeps them
            // to itself, and the item stays as it was.
            std::map<std::string, Value> before;
            for (const auto& kv : m_pending) {
                auto old = d.props.find(kv.first);
                if (old != d.props.end()) before[kv.first] = old->second;
                d.Set(kv.first, kv.second);
            }
            if (d.isOccurrence()) {
                const std::string refused = m_s->model.CheckOccurrencePlace(d);
                if (!refused.empty()) {
                    for (const auto& kv : m_pending) {
                        auto old = before.find(kv.first);
                        if (old != before.end())
                            d.props[kv.first] = old->second;
                        else
                            d.props.erase(kv.first);
                    }
                    Fail(E_FAIL, refused);
                }
            }
            m_pending.clear();
            m_s->model.Save(m_item);
            m_snapshot = owner->version;
            return;
        }
        case Delete:
            m_s->model.Delete(m_item);
            return;
        case Close: {
            long mode = args.Long(0);
            for (auto& insp : m_s->inspectors) {
                if (insp->Item() == this) {
                    insp->CloseNow(mode == 0);
                    return;
                }
            }
            if (mode == 0)
                for (const auto& kv : m_pending) d.Set(kv.first, kv.second);
            m_pending.clear();
            if (mode == 0 && d.dirty) m_s->model.Save(m_item);
            return;
        }
        case Display:
            m_s->OpenInspector(m_item);
            return;
        case GetInspector: {
            for (auto& insp : m_s->inspectors)
                if (insp->Item() == this) return SetDispatch(result, insp.get());
            SetDispatch(result, m_s->OpenInspector(m_item).get());
            return;
        }
        case Forward:
            if (d.cls == olTask) NotFound();  // a task is assigned or sent a status report, not forwarded
            SetDispatch(result, NewMailFrom("FW: ").get());
            return;
        case ForwardAsVcal:
        case ForwardAsVcard: {
            if ((member == ForwardAsVcal) != (d.cls == olAppointment) ||
                (member == ForwardAsVcard && d.cls != olContact))
                NotFound();
            auto mail = NewMailFrom("");
            auto data = static_cast<CItem*>(mail.get())->Data();
            Attachment a;
            a.type = 1;
            a.position = 1;
            a.fileName = a.displayName = d.Subject() + (member == ForwardAsVcal ? ".vcs" : ".vcf");
            if (member == ForwardAsVcard) a.fileName = a.displayName = d.Get("FullName").AsText() + ".vcf";
            a.data = member == ForwardAsVcal ? VcalText(d) : VcardText(d);
            data->attachments.clear();
            data->attachments.push_back(a);
            SetDispatch(result, mail.get());
            return;
        }
        case Send: {
            if (d.cls != olMail) NotFound();
            if (d.recipients.empty()) Fail(E_FAIL, "Outlook does not recognize one or more names.");
            for (const auto& r : d.recipients)
                if (r.address.find('@') == std::string::npos)
                    Fail(E_FAIL, "Outlook does not recognize one or more names.");
            VARIANT item, cancelArg;
            VARIANT_BOOL cancel = VARIANT_FALSE;
            item.vt = VT_DISPATCH;
            item.pdispVal = this;
            cancelArg.vt = VT_BYREF | VT_BOOL;
            cancelArg.pboolVal = &cancel;
            m_s->app->FireAll(DISPID_ItemSend, {&item, &cancelArg});
            if (cancel != VARIANT_FALSE) return;
            std::string to;
            for (const auto& r : d.recipients) to += (to.empty() ? "" : "; ") + r.address;
            d.props["To"] = Value(to);
            // Submitted mail waits in the Outbox; online it is sent at once and moves to Sent Items.
            Folder* outbox = m_s->model.GetFolder(olFolderOutbox);
            if (!d.saved) {
                d.folder = outbox;
                m_s->model.Save(m_item);
            } else if (d.folder != outbox) {
                m_s->model.Move(m_item, outbox);
            }
            if (m_s->model.offline) {
                m_s->outboxQueue.push_back(m_item);
                return;
            }
            m_s->Transmit(m_item);
            return;
        }
        case GetRecurrencePattern: {
            if (d.cls != olAppointment) NotFound();
            auto series = d.series.lock();
            if (!series) {
                series = m_item;
                m_s->model.EnsureRecurrence(d);
            }
            SetDispatch(result, NewRecurrencePattern(m_s, series, m_snapshot).get());
            return;
        }
        case ClearRecurrencePattern:
            if (d.cls != olAppointment || d.isOccurrence()) NotFound();
            d.recurrence.reset();
            d.dirty = true;
            return;
        case Move: {
            auto* target = dynamic_cast<CFolder*>(static_cast<CSimObject*>(args.Dispatch(0)));
            if (!target) Fail(E_INVALIDARG, "A folder was expected");
            m_s->model.Move(m_item, target->GetFolder());
            SetDispatch(result, this);
            return;
        }
        case UserProperties:
            // An occurrence has no user properties of its own: they are the series'.
            SetDispatch(result, NewUserProperties(m_s, Owner()).get());
            return;
        case Recipients:
            SetDispatch(result, NewRecipients(m_item).get());
            return;
        case Attachments:
            SetDispatch(result, NewAttachments(m_item).get());
            return;
        case Application:
        case Session_:
            if (member == Session_) return SetDispatch(result, NewNamespace(m_s).get());
            SetDispatch(result, m_s->appRef.get());
            return;
        case Parent:
            if (!d.folder) NotFound();
            SetDispatch(result, MakeSim<CFolder>(m_s, d.folder).get());
            return;
        case Class:
            SetLong(result, d.cls);
            return;
        case EntryID:
            SetText(result, d.entryId);
            return;
        case IsRecurring:
            if (d.cls != olAppointment) NotFound();
            SetBool(result, d.IsRecurring());
            return;
        case RecurrenceState: {
            if (d.cls != olAppointment) NotFound();
            long state = 0;  // olApptNotRecurring
            if (d.recurrence)
                state = 1;  // olApptMaster
            else if (auto series = d.series.lock()) {
                state = 2;  // olApptOccurrence
                if (series->recurrence && series->recurrence->FindException(d.originalStart))
                    state = 3;  // olApptException
            }
            SetLong(result, state);
            return;
        }
        case Saved:
            SetBool(result, m_pending.empty() && !d.dirty && (d.saved || d.isOccurrence()));
            return;
        case Duration:
            if (d.cls != olAppointment) NotFound();
            SetLong(result, static_cast<long>(std::lround((d.Get("End").AsDate() - d.Get("Start").AsDate()) * 1440)));
            return;
        case Size:
            SetLong(result, static_cast<long>(d.Get("Body").AsText().size() + 512));
            return;
    }
    NotFound();
}

}  // namespace hvsim
