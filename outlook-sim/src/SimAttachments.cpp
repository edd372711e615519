// Attachments and Attachment: copies of files' bytes kept on the item.
#include "outlook-sim/src/SimAttachments.h"

#include <fstream>
#include <sstream>

namespace hvsim {

namespace {

class CAttachment : public CSimObject {
public:
    CAttachment(std::shared_ptr<ItemData> item, size_t index) : m_item(std::move(item)), m_index(index) {}
    const char* TypeName() const override { return "Attachment"; }

protected:
    enum class M { DisplayName, FileName, Type, Position, Size, Delete, SaveAsFile };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::DisplayName, "DisplayName"},
                                              {M::FileName, "FileName"},
                                              {M::Type, "Type"},
                                              {M::Position, "Position"},
                                              {M::Size, "Size"},
                                              {M::Delete, "Delete"},
                                              {M::SaveAsFile, "SaveAsFile"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put || m_index >= m_item->attachments.size()) NotFound();
        Attachment& a = m_item->attachments[m_index];
        switch (static_cast<M>(member)) {
            case M::DisplayName:
                SetText(result, a.displayName);
                return;
            case M::FileName:
                SetText(result, a.fileName);
                return;
            case M::Type:
                SetLong(result, a.type);
                return;
            case M::Position:
                SetLong(result, a.position);
                return;
            case M::Size:
                SetLong(result, static_cast<long>(a.data.size()));
                return;
            case M::Delete:
                m_item->attachments.erase(m_item->attachments.begin() + static_cast<long>(m_index));
                return;
            case M::SaveAsFile: {
                std::ofstream out(Wide(args.Text(0)).c_str(), std::ios::binary);
                out.write(a.data.data(), static_cast<std::streamsize>(a.data.size()));
                if (!out) Fail(E_FAIL, "Cannot save the attachment");
                return;
            }
        }
        NotFound();
    }

private:
    std::shared_ptr<ItemData> m_item;
    size_t m_index;
};

class CAttachments : public CSimObject {
public:
    explicit CAttachments(std::shared_ptr<ItemData> item) : m_item(std::move(item)) {}
    const char* TypeName() const override { return "Attachments"; }

protected:
    enum class M { Count, Item, Add, Remove };
    const std::vector<const char*>& Names() const override {
        static const auto n =
            MemberNames<M>({{M::Count, "Count"}, {M::Item, "Item"}, {M::Add, "Add"}, {M::Remove, "Remove"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        auto& list = m_item->attachments;
        switch (static_cast<M>(member)) {
            case M::Count:
                SetLong(result, static_cast<long>(list.size()));
                return;
            case M::Item: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(list.size())) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                SetDispatch(result, MakeSim<CAttachment>(m_item, static_cast<size_t>(i - 1)).get());
                return;
            }
            case M::Add: {  // Add(Source, [Type], [Position], [DisplayName]): a copy of the file's bytes
                Attachment a;
                std::string path = args.Text(0);
                a.type = args.LongOr(1, 1);
                a.position = args.LongOr(2, 0);
                std::ifstream in(Wide(path).c_str(), std::ios::binary);
                if (!in)
                    Fail(static_cast<HRESULT>(0x80070002),
                         "Cannot find this file. Verify the path and file name are correct.");
                std::ostringstream bytes;
                bytes << in.rdbuf();
                a.data = bytes.str();
                size_t slash = path.find_last_of("\\/");
                a.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
                a.displayName = args.TextOr(3, a.fileName);
                list.push_back(a);
                m_item->dirty = true;
                SetDispatch(result, MakeSim<CAttachment>(m_item, list.size() - 1).get());
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

hv::com_ptr<IDispatch> NewAttachments(std::shared_ptr<ItemData> item) {
    return hv::com_ptr<IDispatch>(MakeSim<CAttachments>(std::move(item)).get());
}

}  // namespace hvsim
