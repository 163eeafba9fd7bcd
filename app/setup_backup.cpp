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
#include <limits>
#include <set>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

// Members stay in the order written, so the file reads top-down: what, when, where, then the values.
using Json = nlohmann::ordered_json;

// Far more than a backup's four levels, far less than could trouble a parser or a message.
constexpr int kDeepestNesting = 64;

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

// A value quoted in a message, in a short form: a long text or number is cut, an object or a
// list is only named, so no file can make a message huge.
std::string quoted(const Json& v)
{
    if (v.is_object())
        return "an object";
    if (v.is_array())
        return "a list";
    constexpr std::size_t kLongest = 40;
    std::string text = v.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > kLongest) {
        text.resize(kLongest);
        // Not in the middle of a character.
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
            text.pop_back();
        if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
            text.pop_back();
        text += "...";
    }
    return text;
}

// The whole number `v` holds when it holds one from lo to hi.
std::optional<long long> wholeIn(const Json& v, long long lo, long long hi)
{
    long long n = 0;
    if (v.is_number_unsigned()) {
        const std::uint64_t u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::max(hi, 0LL)))
            return std::nullopt;
        n = static_cast<long long>(u);
    } else if (v.is_number_integer()) {
        n = v.get<std::int64_t>();
    } else {
        return std::nullopt;
    }
    return n >= lo && n <= hi ? std::optional(n) : std::nullopt;
}

// The members of one object of the file, read one after another. The first one missing or of
// the wrong kind is what is wrong with the file; the reads after it take nothing.
class Members {
public:
    // `path` names the object in messages: "" for the file itself, else "port." and the like.
    Members(const Json& object, std::string path) : o_(object), path_(std::move(path)) {}
    const std::string& error() const { return error_; }

    void text(const char* key, std::string& out)
    {
        if (const Json* v = find(key); v && !v->is_string())
            fail(key, "text");
        else if (v)
            out = v->get<std::string>();
    }
    // One of `allowed` (text).
    void text(const char* key, std::initializer_list<const char*> allowed, std::string& out)
    {
        const Json* v = find(key);
        if (!v)
            return;
        for (const char* a : allowed)
            if (v->is_string() && v->get<std::string>() == a) {
                out = a;
                return;
            }
        fail(key, listed(allowed, true));
    }
    template <class T>
    void whole(const char* key, long long lo, long long hi, T& out)
    {
        if (const Json* v = find(key); v && !wholeIn(*v, lo, hi))
            fail(key, "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
        else if (v)
            out = static_cast<T>(*wholeIn(*v, lo, hi));
    }
    // One of `allowed` (whole numbers).
    template <class T>
    void whole(const char* key, std::initializer_list<long long> allowed, T& out)
    {
        const Json* v = find(key);
        if (!v)
            return;
        if (const auto n = wholeIn(*v, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()))
            for (long long a : allowed)
                if (*n == a) {
                    out = static_cast<T>(a);
                    return;
                }
        fail(key, listed(allowed, false));
    }

private:
    const Json* find(const char* key)
    {
        if (!error_.empty())
            return nullptr;
        const auto it = o_.find(key);
        if (it == o_.end()) {
            error_ = "\"" + path_ + key + "\" is missing";
            return nullptr;
        }
        return &*it;
    }
    void fail(const char* key, const std::string& wanted)
    {
        error_ = "\"" + path_ + key + "\" should be " + wanted + ", not " + quoted(o_.at(key));
    }
    template <class T>
    static std::string listed(std::initializer_list<T> items, bool asText)
    {
        std::string out;
        std::size_t i = 0;
        for (const T& item : items) {
            out += i == 0 ? "" : i + 1 == items.size() ? " or " : ", ";
            if constexpr (std::is_arithmetic_v<T>)
                out += std::to_string(item);
            else
                out += asText ? "\"" + std::string(item) + "\"" : std::string(item);
            ++i;
        }
        return out;
    }

    const Json& o_;
    std::string path_;
    std::string error_;
};

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
    const auto number = wholeIn(r["register"], 1, 0xFFFF);
    const RegisterEntry* e = number ? setupEntry(static_cast<int>(*number)) : nullptr;
    if (!e)
        return "register " + quoted(r["register"]) + " is not a set-up register";
    const int reg = e->reg;
    const std::string where = "register " + std::to_string(reg);
    if (!seen.insert(reg).second)
        return where + " is there twice";
    if (!r.contains("type") || r["type"] != typeName(e->type))
        return where + " should be of type \"" + typeName(e->type) + "\"";
    if (!r.contains("name") || !r["name"].is_string())
        return where + " has no name, or one that is not text";
    if (!r.contains("value"))
        return where + " has no value";
    const Json& value = r["value"];
    std::vector<std::uint16_t> w;
    if (e->type == RegType::Word) {
        if (!isWord(value))
            return where + " holds " + quoted(value) + ", not a whole number from 0 to 65535";
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
                return where + ": its value " + quoted(value) + " is not what its words hold";
        } else if (!value.is_string() || value.get<std::string>() != ConfigIndexText(w[0])) {
            return where + ": its value " + quoted(value) + " is not what its word holds";
        }
    }
    for (std::size_t i = 0; i < w.size(); ++i)
        b.words[reg + static_cast<int>(i)] = w[i];
    return {};
}

// Where and from what the backup was read. Every member the program writes must be there
// and of its kind: a file without them was not written by it, or was damaged since.
std::string readPort(const Json& j, SetupBackup::Port& port)
{
    const auto p = j.find("port");
    if (p == j.end())
        return "\"port\" is missing";
    if (!p->is_object())
        return "\"port\" should be an object, not " + quoted(*p);
    Members m(*p, "port.");
    m.whole("com", 1, 99, port.com);
    m.text("device", port.device);
    m.whole("baud", {9600, 19200}, port.baud);
    m.text("parity", {"none", "even", "odd"}, port.parity);
    m.whole("dataBits", {7, 8}, port.dataBits);
    m.whole("stopBits", {1, 2}, port.stopBits);
    return m.error();
}

std::string readBackup(const Json& j, SetupBackup& b)
{
    if (!j.contains("formatVersion") || !j["formatVersion"].is_number_integer())
        return "it has no format version";
    const Json& version = j["formatVersion"];
    if (!wholeIn(version, std::numeric_limits<long long>::min(), kBackupFormatVersion))
        return "it was made by a newer version of the program (backup format " + quoted(version) + ")";
    if (!wholeIn(version, 1, kBackupFormatVersion))
        return "its format version " + quoted(version) + " is not one this program wrote";
    b.formatVersion = static_cast<int>(*wholeIn(version, 1, kBackupFormatVersion));
    Members top(j, "");
    top.text("programVersion", b.programVersion);
    top.text("date", b.date);
    top.text("time", b.time);
    if (!top.error().empty())
        return top.error();
    if (std::string why = readPort(j, b.port); !why.empty())
        return why;
    if (!j.contains("slaveAddress") || !wholeIn(j["slaveAddress"], 1, 247))
        return "its slave address is missing or not 1 to 247";
    b.slaveAddress = static_cast<int>(*wholeIn(j["slaveAddress"], 1, 247));
    if (!j.contains("model") || !j["model"].is_object())
        return "it does not say which model it was made for";
    Members model(j["model"], "model.");
    model.whole("code", 0, 0xFFFF, b.modelCode);
    model.text("text", b.modelText);
    if (!model.error().empty())
        return model.error();
    if (!j.contains("registers") || !j["registers"].is_array())
        return "it holds no registers";
    std::set<int> seen;
    for (const Json& r : j["registers"])
        if (std::string why = readRegister(r, b, seen); !why.empty())
            return why;
    for (const RegisterEntry* e : SetupEntries())
        if (!seen.count(e->reg) && InBackupFormat(*e, b.formatVersion))
            return "register " + std::to_string(e->reg) + " (" + e->name + ") is missing";
    return {};
}

// Whether the text's arrays and objects nest deeper than `limit`, found by counting brackets
// outside strings before anything is parsed: so a file nested a million levels deep costs
// neither the parser nor a message any depth. A backup nests four levels.
bool nestsDeeperThan(const std::string& text, int limit)
{
    int depth = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
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
        {"formatVersion", b.formatVersion},
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
    if (nestsDeeperThan(text, kDeepestNesting)) {
        why = "it is not a set-up backup (it nests deeper than " + std::to_string(kDeepestNesting) + " levels)";
        return std::nullopt;
    }
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
