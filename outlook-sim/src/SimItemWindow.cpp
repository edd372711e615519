// Item windows: Inspector and Inspectors, with caption, current item, Close with its save, Word's editor for
// WordMail, the inspector's command bars.
#include "outlook-sim/src/SimItemWindow.h"

#include "outlook-sim/src/SimItem.h"
#include "outlook-sim/src/SimWord.h"

namespace hvsim {

const std::vector<const char*>& CInspector::Names() const {
    static const auto n = MemberNames<M>({{M::Caption, "Caption"},
                                          {M::CurrentItem, "CurrentItem"},
                                          {M::IsWordMail, "IsWordMail"},
                                          {M::Close, "Close"},
                                          {M::Display, "Display"},
                                          {M::Activate, "Activate"},
                                          {M::Application, "Application"},
                                          {M::Class, "Class"},
                                          {M::WordEditor, "WordEditor"},
                                          {M::EditorType, "EditorType"},
                                          {M::CommandBars, "CommandBars"}});
    return n;
}

void CInspector::Call(int member, bool put, Args& args, VARIANT* result) {
    CheckUp(*m_s);
    if (put) NotFound();
    switch (static_cast<M>(member)) {
        case M::Caption:
            SetText(result, m_caption);
            return;
        case M::CurrentItem:
            SetDispatch(result, m_item.get());
            return;
        case M::IsWordMail:
            SetBool(result, wordMail);
            return;
        case M::Close: {
            long mode = args.LongOr(0, 2);  // olSave 0, olDiscard 1, olPromptForSave 2
            CloseNow(mode == 0);
            return;
        }
        case M::Display:
        case M::Activate:
            m_s->ActivateInspector(this);
            return;  // Display, Activate: brought to the top
        case M::Application:
            SetDispatch(result, m_s->appRef.get());
            return;
        case M::Class:
            SetLong(result, 35);
            return;          // olInspector
        case M::WordEditor:  // WordEditor: Word's Document for a WordMail inspector
            SetDispatch(result, wordMail && m_s->owner ? m_s->owner->Word().Document(Item()->Data()) : nullptr);
            return;
        case M::EditorType:
            SetLong(result, wordMail ? 4 : 2);
            return;  // olEditorWord / olEditorHTML
        case M::CommandBars:
            // In a WordMail inspector the bars are Word's own.
            if (wordMail && m_s->owner) {
                auto& word = m_s->owner->Word();
                return SetDispatch(result, NewCommandBars(word.Bars(), word.Application()).get());
            }
            SetDispatch(result, NewCommandBars(m_bars, m_s->appRef.get()).get());
            return;
    }
    NotFound();
}

const std::vector<const char*>& CInspectors::Names() const {
    static const auto n = MemberNames<M>({{M::Count, "Count"},
                                          {M::Item, "Item"},
                                          {M::Add, "Add"},
                                          {M::Application, "Application"},
                                          {M::Class, "Class"}});
    return n;
}

void CInspectors::Call(int member, bool put, Args& args, VARIANT* result) {
    if (put) NotFound();
    auto s = m_s.lock();
    if (!s) Fail(RPC_E_DISCONNECTED, "Outlook has closed");
    switch (static_cast<M>(member)) {
        case M::Count:
            SetLong(result, static_cast<long>(s->inspectors.size()));
            return;
        case M::Item: {
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(s->inspectors.size()))
                Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            SetDispatch(result, s->inspectors[static_cast<size_t>(i - 1)].get());
            return;
        }
        case M::Add: {
            auto* item = args.Dispatch(0);
            hv::com_ptr<IDispatch> keep(item);
            for (const auto& f : s->model.Folders())
                for (const auto& d : f->Items())
                    if (d->liveObject && static_cast<IDispatch*>(static_cast<CItem*>(d->liveObject)) == item)
                        return SetDispatch(result, s->OpenInspector(d).get());
            Fail(E_INVALIDARG, "The item cannot be displayed");
        }
        case M::Application:
            SetDispatch(result, s->appRef.get());
            return;
        case M::Class:
            SetLong(result, 36);
            return;  // olInspectors
    }
    NotFound();
}

}  // namespace hvsim
