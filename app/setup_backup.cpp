// The backup file. Every register is written in a form a person can read ("value") and, where
// that form could lose something, as the words on the wire too ("words"): a float as its two
// registers (low word first, as the transmitter holds it), a configuration-index character as
// its register, whose high byte the window never shows. On reading, the words are what counts
// and the readable value must agree with them, so a hand-edited or damaged value is caught
// instead of restored.
#include "setup_backup.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

// Members stay in the order written, so the file reads top-down: what, when, where, then the values.
using Json = nlohmann::ordered_json;

std::vector<const RegisterEntry*> SetupEntries()
{
    std::vector<const RegisterEntry*> out;
    for (const RegisterEntry& e : RegisterMap())
        if (e.panelId == PANEL_4 || e.panelId == PANEL_3 || (e.panelId == PANEL && e.write != WriteBy::Never))
            out.push_back(&e);
    return out;
}

bool InBackupFormat(const RegisterEntry& e, int formatVersion)
{
    // The first format held the two set-up windows only; the span, the blind distance and the
    // address written from the main window came with the second.
    return formatVersion >= 2 || e.panelId != PANEL;
}

int RegisterSpan(const RegisterEntry& e) { return e.type == RegType::Float ? 2 : 1; }

std::vector<std::uint16_t> SetupBackup::wordsOf(const RegisterEntry& e) const
{
    std::vector<std::uint16_t> out;
    for (int i = 0; i < RegisterSpan(e); ++i) {
        auto it = words.find(e.reg + i);
        if (it == words.end())
            return {};
        out.push_back(it->second);
    }
    return out;
}

namespace {

const char* typeName(RegType t)
{
    switch (t) {
    case RegType::Word: return "word";
    case RegType::Float: return "float";
    case RegType::Character: return "character";
    case RegType::ModelCode: return "model code";
    }
    return "";
}

float floatOf(const std::vector<std::uint16_t>& w)
{
    const std::uint32_t bits = static_cast<std::uint32_t>(w[1]) << 16 | w[0];
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The shortest decimal that reads back as exactly this float; null for NaN and infinities,
// which JSON cannot carry (the words still do).
Json floatJson(float f)
{
    if (!std::isfinite(f))
        return nullptr;
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    return Json::parse(std::string(buf, r.ptr));
}

bool isWord(const Json& j) { return j.is_number_unsigned() && j.get<std::uint64_t>() <= 0xFFFF; }

const RegisterEntry* setupEntry(int reg)
{
    for (const RegisterEntry* e : SetupEntries())
        if (e->reg == reg)
            return e;
    return nullptr;
}

// Reads one register object into `b`; "" or what is wrong with it.
std::string readRegister(const Json& r, SetupBackup& b, std::set<int>& seen)
{
    if (!r.is_object() || !r.contains("register") || !r["register"].is_number_integer())
        return "an entry of \"registers\" has no register number";
    const int reg = r["register"].get<int>();
    const std::string where = "register " + std::to_string(reg);
    const RegisterEntry* e = setupEntry(reg);
    if (!e)
        return where + " is not a set-up register";
    if (!seen.insert(reg).second)
        return where + " is there twice";
    if (!r.contains("type") || r["type"] != typeName(e->type))
        return where + " should be of type \"" + typeName(e->type) + "\"";
    if (r.contains("name") && !r["name"].is_string())
        return where + " has a name that is not text";
    if (!r.contains("value"))
        return where + " has no value";
    const Json& value = r["value"];
    std::vector<std::uint16_t> w;
    if (e->type == RegType::Word) {
        if (!isWord(value))
            return where + " holds " + value.dump() + ", not a whole number from 0 to 65535";
        w.push_back(value.get<std::uint16_t>());
    } else {
        const Json* words = r.contains("words") ? &r["words"] : nullptr;
        const std::size_t n = static_cast<std::size_t>(RegisterSpan(*e));
        if (!words || !words->is_array() || words->size() != n)
            return where + " needs \"words\": " + std::to_string(n) + " whole numbers from 0 to 65535";
        for (const Json& x : *words) {
            if (!isWord(x))
                return where + " has a word that is not a whole number from 0 to 65535";
            w.push_back(x.get<std::uint16_t>());
        }
        if (e->type == RegType::Float) {
            const float f = floatOf(w);
            const bool agrees =
                std::isfinite(f) ? value.is_number() && static_cast<float>(value.get<double>()) == f : value.is_null();
            if (!agrees)
                return where + ": its value " + value.dump() + " is not what its words hold";
        } else if (!value.is_string() || value.get<std::string>() != ConfigIndexText(w[0])) {
            return where + ": its value " + value.dump() + " is not what its word holds";
        }
    }
    for (std::size_t i = 0; i < w.size(); ++i)
        b.words[reg + static_cast<int>(i)] = w[i];
    return {};
}

std::string readBackup(const Json& j, SetupBackup& b)
{
    if (!j.contains("formatVersion") || !j["formatVersion"].is_number_integer())
        return "it has no format version";
    const int version = j["formatVersion"].get<int>();
    if (version > kBackupFormatVersion)
        return "it was made by a newer version of the program (backup format " + std::to_string(version) + ")";
    if (version < 1)
        return "its format version " + std::to_string(version) + " is not one this program wrote";
    auto text = [&](const Json& o, const char* key, std::string& out) {
        if (o.contains(key) && o[key].is_string())
            out = o[key].get<std::string>();
    };
    text(j, "programVersion", b.programVersion);
    text(j, "date", b.date);
    text(j, "time", b.time);
    if (j.contains("port") && j["port"].is_object()) {
        const Json& p = j["port"];
        b.port.com = p.value("com", 0);
        text(p, "device", b.port.device);
        b.port.baud = p.value("baud", 9600L);
        text(p, "parity", b.port.parity);
        b.port.dataBits = p.value("dataBits", 8);
        b.port.stopBits = p.value("stopBits", 1);
    }
    if (!j.contains("slaveAddress") || !j["slaveAddress"].is_number_unsigned() || j["slaveAddress"] < 1 ||
        j["slaveAddress"] > 247)
        return "its slave address is missing or not 1 to 247";
    b.slaveAddress = j["slaveAddress"].get<int>();
    if (!j.contains("model") || !j["model"].is_object() || !isWord(j["model"].value("code", Json())))
        return "it does not say which model it was made for";
    b.modelCode = j["model"]["code"].get<int>();
    text(j["model"], "text", b.modelText);
    if (!j.contains("registers") || !j["registers"].is_array())
        return "it holds no registers";
    std::set<int> seen;
    for (const Json& r : j["registers"])
        if (std::string why = readRegister(r, b, seen); !why.empty())
            return why;
    for (const RegisterEntry* e : SetupEntries())
        if (!seen.count(e->reg) && InBackupFormat(*e, version))
            return "register " + std::to_string(e->reg) + " (" + e->name + ") is missing";
    return {};
}

}  // namespace

std::string SetupBackupJson(const SetupBackup& b)
{
    Json regs = Json::array();
    for (const RegisterEntry* e : SetupEntries()) {
        const std::vector<std::uint16_t> w = b.wordsOf(*e);
        if (w.empty())
            continue;
        Json r = {{"register", e->reg}, {"name", e->name}, {"type", typeName(e->type)}};
        switch (e->type) {
        case RegType::Word:
        case RegType::ModelCode: r["value"] = w[0]; break;
        case RegType::Float: r["value"] = floatJson(floatOf(w)); break;
        case RegType::Character: r["value"] = ConfigIndexText(w[0]); break;
        }
        if (e->type == RegType::Float || e->type == RegType::Character)
            r["words"] = w;
        regs.push_back(std::move(r));
    }
    Json j = {
        {"format", kBackupFormat},
        {"formatVersion", kBackupFormatVersion},
        {"programVersion", b.programVersion},
        {"date", b.date},
        {"time", b.time},
        {"port",
         {{"com", b.port.com},
          {"device", b.port.device},
          {"baud", b.port.baud},
          {"parity", b.port.parity},
          {"dataBits", b.port.dataBits},
          {"stopBits", b.port.stopBits}}},
        {"slaveAddress", b.slaveAddress},
        {"model", {{"code", b.modelCode}, {"text", b.modelText}}},
        {"registers", std::move(regs)},
    };
    // Text the transmitter sent that is not valid UTF-8 cannot come from ConfigIndexText, but a
    // device path might be anything: replace rather than fail.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<SetupBackup> ParseSetupBackup(const std::string& text, std::string& why)
{
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        // Cut short or garbled: say so, rather than that it is not a backup at all.
        why = text.find(kBackupFormat) != std::string::npos ? "the backup is damaged: it is not complete JSON"
                                                            : "it is not a set-up backup (not JSON)";
        return std::nullopt;
    }
    if (!j.is_object() || !j.contains("format") || j["format"] != kBackupFormat) {
        why = "it is not a set-up backup of this program";
        return std::nullopt;
    }
    SetupBackup b;
    if (std::string err = readBackup(j, b); !err.empty()) {
        why = "the backup is damaged: " + err;
        return std::nullopt;
    }
    return b;
}

std::string SetupValueText(const RegisterEntry& e, const std::vector<std::uint16_t>& w)
{
    if (w.empty())
        return "-";
    switch (e.type) {
    case RegType::Word: return std::to_string(w[0]);
    case RegType::ModelCode: return std::string(SensorText(w[0])) + " (" + std::to_string(w[0]) + ")";
    case RegType::Float: {
        if (w.size() < 2)
            return "-";
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, floatOf(w));
        return std::string(buf, r.ptr);
    }
    case RegType::Character: {
        // A word with more than one character (or a high byte behind a 0) shows its number too,
        // so two words that differ never look alike.
        const std::string t = ConfigIndexText(w[0]);
        const std::string shown = t.empty() ? "(none)" : "\"" + t + "\"";
        return w[0] > 0xFF ? shown + " (" + std::to_string(w[0]) + ")" : shown;
    }
    }
    return "-";
}

std::string ModelWords(int code)
{
    return std::string(SensorText(code)) + " (model code " + std::to_string(code) + ")";
}

std::string SetupDescription(const SetupBackup& b)
{
    return ModelWords(b.modelCode) + " at slave address " + std::to_string(b.slaveAddress);
}

namespace {

// A ring's or switch's value with the item it stands for, as the window names it.
std::string withItem(const RegisterEntry& e, const std::vector<std::uint16_t>& w, const ItemLabels& items)
{
    std::string text = SetupValueText(e, w);
    const auto ctrl = items.find({e.panelId, e.ctrl});
    if (w.empty() || e.type != RegType::Word || ctrl == items.end())
        return text;
    const auto item = ctrl->second.find(w[0]);
    return text + " (" + (item == ctrl->second.end() ? std::string("no item") : item->second) + ")";
}

}  // namespace

SetupComparison CompareSetups(const SetupBackup& backup, const SetupBackup& now, const std::string& path,
                              const ItemLabels& items)
{
    SetupComparison c;
    c.file = path;
    c.made = backup.date + " " + backup.time + " by version " + backup.programVersion + ", COM" +
             std::to_string(backup.port.com) + (backup.port.device.empty() ? "" : " (" + backup.port.device + ")") +
             " " + std::to_string(backup.port.baud) + " baud, parity " + backup.port.parity;
    c.backupOf = SetupDescription(backup);
    c.transmitter = SetupDescription(now);
    if (backup.modelCode != now.modelCode)
        c.note = "This backup was made for a " + ModelWords(backup.modelCode) + "; the transmitter is a " +
                 ModelWords(now.modelCode) + ". It cannot be restored to it.";
    for (const RegisterEntry* e : SetupEntries()) {
        SetupRow r;
        r.reg = e->reg;
        r.name = e->name;
        const auto want = backup.wordsOf(*e), have = now.wordsOf(*e);
        r.backup = want.empty() ? "-" : withItem(*e, want, items);
        r.transmitter = withItem(*e, have, items);
        r.state = want == have ? SetupRow::State::Same : SetupRow::State::Differs;
        if (want.empty()) {
            // A backup of the first format: the register was not backed up, so it neither
            // differs nor can be restored.
            r.state = SetupRow::State::NotWritten;
            r.outcome = "not in this backup (made before backups held it)";
        }
        c.rows.push_back(std::move(r));
    }
    return c;
}

}  // namespace vek
