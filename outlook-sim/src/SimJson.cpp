// The store as JSON: folders with their items; each item's properties by name (dates as
// "yyyy-mm-dd hh:mm:ss" local time), user properties, recurrence with exceptions, recipients
// and attachments (bytes in hex). EntryIDs are kept, so they stay stable across save and load.
#include <nlohmann/json.hpp>

#include <stdexcept>

#include "outlook-sim/src/SimModel.h"

namespace hvsim {

using nlohmann::json;

namespace {

json ValueToJson(const Value& v) {
    switch (v.kind) {
        case Value::Text:
            return v.text;
        case Value::Long:
            return v.l;
        case Value::Bool:
            return v.l != 0;
        case Value::Date:
            return FormatDate(v.d);
        case Value::Double:
            return v.d;
        default:
            return nullptr;
    }
}

// The class's defaults give the type; user properties carry their own.
Value ValueFromJson(const json& j, Value::Kind kind) {
    switch (kind) {
        case Value::Date: {
            DATE d = kNoDate;
            if (j.is_string() && !ParseDate(j.get<std::string>(), &d))
                throw std::runtime_error("bad date " + j.get<std::string>());
            if (j.is_number()) d = j.get<double>();
            return Value::FromDate(d);
        }
        case Value::Bool:
            return Value(j.is_boolean() ? j.get<bool>() : j.get<long>() != 0);
        case Value::Long:
            return Value(j.get<long>());
        case Value::Double:
            return Value::FromDouble(j.get<double>());
        default:
            return Value(j.is_string() ? j.get<std::string>() : j.dump());
    }
}

Value::Kind UserPropKind(long type) {
    switch (type) {
        case olYesNo:
            return Value::Bool;
        case olDateTime:
            return Value::Date;
        case olNumber:
        case olInteger:
            return Value::Long;
        default:
            return Value::Text;
    }
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

json ItemToJson(const ItemData& item) {
    json j;
    j["class"] = item.cls;
    j["entryId"] = item.entryId;
    json props = json::object();
    for (const auto& kv : item.props) props[kv.first] = ValueToJson(kv.second);
    j["props"] = props;
    if (!item.userProps.empty()) {
        json ups = json::array();
        for (const auto& p : item.userProps)
            ups.push_back({{"name", p.name}, {"type", p.type}, {"value", ValueToJson(p.value)}});
        j["userProperties"] = ups;
    }
    if (!item.recipients.empty()) {
        json rs = json::array();
        for (const auto& r : item.recipients)
            rs.push_back({{"name", r.name}, {"address", r.address}, {"resolved", r.resolved}});
        j["recipients"] = rs;
    }
    if (!item.attachments.empty()) {
        json as = json::array();
        for (const auto& a : item.attachments)
            as.push_back({{"displayName", a.displayName},
                          {"fileName", a.fileName},
                          {"type", a.type},
                          {"position", a.position},
                          {"data", Hex(a.data)}});
        j["attachments"] = as;
    }
    if (item.recurrence) {
        const Recurrence& r = *item.recurrence;
        json rj = {{"type", r.type},
                   {"interval", r.interval},
                   {"dayOfWeekMask", r.dayOfWeekMask},
                   {"dayOfMonth", r.dayOfMonth},
                   {"monthOfYear", r.monthOfYear},
                   {"instance", r.instance},
                   {"patternStart", FormatDate(r.patternStart)},
                   {"patternEnd", FormatDate(r.patternEnd)},
                   {"noEndDate", r.noEndDate},
                   {"occurrences", r.occurrences},
                   {"firstDayOfWeek", r.firstDayOfWeek},
                   {"startMinutes", static_cast<long>(std::lround(r.startTime * 1440))},
                   {"durationMinutes", static_cast<long>(std::lround(r.duration * 1440))}};
        json ex = json::array();
        for (const auto& e : r.exceptions) {
            json ej = {{"originalDate", FormatDate(e.originalDate)}, {"deleted", e.deleted}};
            if (e.item) ej["item"] = ItemToJson(*e.item);
            ex.push_back(ej);
        }
        rj["exceptions"] = ex;
        j["recurrence"] = rj;
    }
    return j;
}

std::shared_ptr<ItemData> ItemFromJson(const json& j, Folder* folder) {
    auto item = std::make_shared<ItemData>();
    item->cls = j.value("class", static_cast<long>(olTask));
    item->entryId = j.value("entryId", std::string());
    item->folder = folder;
    item->saved = true;
    if (j.contains("props")) {
        for (const auto& kv : j["props"].items()) {
            std::string name = CanonicalProperty(item->cls, kv.key());
            if (name.empty()) throw std::runtime_error("unknown property " + kv.key());
            item->props[name] = ValueFromJson(kv.value(), ClassDefaults(item->cls).at(name).kind);
        }
    }
    for (const auto& p : j.value("userProperties", json::array())) {
        UserProperty up;
        up.name = p.at("name").get<std::string>();
        up.type = p.value("type", static_cast<long>(olText));
        up.value = ValueFromJson(p.at("value"), UserPropKind(up.type));
        item->userProps.push_back(up);
        if (folder && !folder->HasUserField(up.name)) folder->UserFields().push_back(up.name);
    }
    for (const auto& r : j.value("recipients", json::array()))
        item->recipients.push_back(
            Recipient{r.value("name", std::string()), r.value("address", std::string()), r.value("resolved", false)});
    for (const auto& a : j.value("attachments", json::array())) {
        Attachment at;
        at.displayName = a.value("displayName", std::string());
        at.fileName = a.value("fileName", at.displayName);
        at.type = a.value("type", 1L);
        at.position = a.value("position", 0L);
        at.data = Unhex(a.value("data", std::string()));
        item->attachments.push_back(at);
    }
    if (j.contains("recurrence")) {
        const json& rj = j["recurrence"];
        auto r = std::make_unique<Recurrence>();
        r->type = rj.value("type", 1L);
        r->interval = rj.value("interval", 1L);
        r->dayOfWeekMask = rj.value("dayOfWeekMask", 0L);
        r->dayOfMonth = rj.value("dayOfMonth", 0L);
        r->monthOfYear = rj.value("monthOfYear", 0L);
        r->instance = rj.value("instance", 0L);
        // Without one, the series takes the profile locale's first day of the week.
        r->firstDayOfWeek = rj.value(
            "firstDayOfWeek",
            folder && folder->GetModel() ? static_cast<long>(LocaleFirstDayOfWeek(folder->GetModel()->locale)) : 0L);
        ParseDate(rj.value("patternStart", std::string("2000-01-01")), &r->patternStart);
        r->patternStart = DayNumber(r->patternStart);
        r->patternEnd = kNoDate;
        if (rj.contains("patternEnd")) ParseDate(rj["patternEnd"].get<std::string>(), &r->patternEnd);
        r->noEndDate = rj.value("noEndDate", true);
        r->occurrences = rj.value("occurrences", 0L);
        r->startTime = rj.value("startMinutes", 0L) / 1440.0;
        r->duration = rj.value("durationMinutes", 30L) / 1440.0;
        if (r->occurrences > 0) r->ApplyOccurrenceCount();
        for (const auto& ej : rj.value("exceptions", json::array())) {
            ExceptionData e;
            ParseDate(ej.at("originalDate").get<std::string>(), &e.originalDate);
            e.deleted = ej.value("deleted", false);
            if (ej.contains("item")) {
                e.item = ItemFromJson(ej["item"], folder);
                e.item->originalStart = e.originalDate;
                e.item->entryId = item->entryId;
            }
            r->exceptions.push_back(std::move(e));
        }
        item->recurrence = std::move(r);
        for (auto& e : item->recurrence->exceptions)
            if (e.item) e.item->series = item;
    }
    return item;
}

}  // namespace

std::string ModelToJson(const Model& model) {
    json j;
    j["version"] = model.version;
    j["offline"] = model.offline;
    j["locale"] = model.locale;
    j["storeId"] = model.storeId;
    j["nextEntry"] = model.nextEntry;
    json addins = json::array();
    for (const auto& a : model.addIns) addins.push_back({{"progId", a.progId}, {"description", a.description}});
    j["addins"] = addins;
    json groups = json::array();
    for (const auto& g : model.outlookBarGroups) {
        json shortcuts = json::array();
        for (const auto& sc : g->shortcuts)
            shortcuts.push_back({{"name", sc->name}, {"target", sc->target}, {"icon", sc->icon}});
        groups.push_back({{"name", g->name}, {"viewType", g->viewType}, {"shortcuts", shortcuts}});
    }
    j["outlookBar"] = {{"available", model.outlookBar}, {"groups", groups}};
    json folders = json::array();
    for (const auto& f : const_cast<Model&>(model).Folders()) {
        json fj = {{"id", f->Id()}, {"name", f->Name()}, {"userFields", f->UserFields()}};
        json items = json::array();
        for (const auto& item : f->Items()) items.push_back(ItemToJson(*item));
        fj["items"] = items;
        folders.push_back(fj);
    }
    j["folders"] = folders;
    return j.dump(2);
}

void ModelFromJson(Model& model, const std::string& text) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("the store is not valid JSON: ") + e.what());
    }
    try {
        model.version = j.value("version", model.version);
        model.offline = j.value("offline", false);
        model.locale = j.value("locale", std::string("en-US"));
        model.storeId = j.value("storeId", model.storeId);
        model.addIns.clear();
        for (const auto& a : j.value("addins", json::array()))
            model.addIns.push_back(
                AddInEntry{a.value("progId", std::string()), a.value("description", std::string()), false, nullptr});
        model.outlookBar = true;
        model.outlookBarGroups = DefaultOutlookBarGroups();
        if (j.contains("outlookBar")) {
            const json& bar = j.at("outlookBar");
            model.outlookBar = bar.value("available", true);
            if (bar.contains("groups")) {
                model.outlookBarGroups.clear();
                for (const auto& gj : bar.at("groups")) {
                    auto g = std::make_shared<BarGroupData>();
                    g->name = gj.value("name", std::string());
                    g->viewType = gj.value("viewType", 0L);
                    for (const auto& sj : gj.value("shortcuts", json::array()))
                        g->shortcuts.push_back(std::make_shared<ShortcutData>(
                            ShortcutData{sj.value("name", std::string()), sj.value("target", std::string()),
                                         sj.value("icon", std::string())}));
                    model.outlookBarGroups.push_back(g);
                }
            }
        }
        for (auto& f : model.Folders()) {
            f->Items().clear();
            f->UserFields().clear();
        }
        unsigned long highest = 0;
        for (const auto& fj : j.value("folders", json::array())) {
            Folder* f = model.GetFolder(fj.at("id").get<long>());
            if (!f) throw std::runtime_error("unknown folder " + fj.at("id").dump());
            for (const auto& name : fj.value("userFields", json::array()))
                f->UserFields().push_back(name.get<std::string>());
            for (const auto& ij : fj.value("items", json::array())) {
                auto item = ItemFromJson(ij, f);
                if (item->entryId.empty()) {
                    // Hand-written profiles may leave EntryIDs out: give one now, as a save would.
                    char buf[96];
                    std::snprintf(buf, sizeof buf, "00000000%s0700%016lX", model.storeId.c_str(), model.nextEntry++);
                    item->entryId = buf;
                }
                if (item->Get("LastModificationTime").AsDate() >= kNoDate)
                    item->props["LastModificationTime"] = Value::FromDate(model.Now());
                if (item->recurrence) model.SyncSeriesTimes(*item);
                f->Items().push_back(item);
                const std::string& id = item->entryId;
                if (id.size() >= 16)
                    highest = std::max(highest, std::strtoul(id.substr(id.size() - 16).c_str(), nullptr, 16));
            }
        }
        model.nextEntry = std::max<unsigned long>({j.value("nextEntry", 1UL), highest + 1, model.nextEntry});
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("the store is malformed: ") + e.what());
    }
}

}  // namespace hvsim
