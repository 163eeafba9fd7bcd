// The backup file on its own: what it holds, that every register type comes back exactly,
// and which files are refused and why.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <random>

#include "panel_ids.h"
#include "setup_backup.h"

using namespace vek;

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    return at == std::string::npos ? std::string() : text.replace(at, from.size(), to);
}

// The backup with the Medium register's value, three levels in, nested `levels` lists deep
// around `inner`.
std::string nested(const std::string& good, int levels, const std::string& inner = "4")
{
    const std::string key = "\"value\": ";
    const auto value = good.find(key, good.find("\"register\": 44,")) + key.size();
    const auto end = good.find_first_of(",\n}", value);
    const auto n = static_cast<std::size_t>(levels);
    return good.substr(0, value) + std::string(n, '[') + inner + std::string(n, ']') + good.substr(end);
}

SetupBackup sample()
{
    SetupBackup b;
    b.programVersion = "2.4.0";
    b.date = "2026-12-07";
    b.time = "14:40:05";
    b.port = {3, "/dev/ttyUSB2", 19200, "even", 8, 1};
    b.slaveAddress = 17;
    b.modelCode = 0x12;
    b.modelText = "Gauge 8m";
    for (const RegisterEntry* e : SetupEntries())
        for (int i = 0; i < RegisterSpan(*e); ++i)
            b.words[e->reg + i] = static_cast<std::uint16_t>(100 + e->reg + i);
    // 1/3 as a single: 0x3EAAAAAB, low word first; the low word is not zero, so a swap shows.
    b.words[reg::kV0] = 0xAAAB;
    b.words[reg::kV0 + 1] = 0x3EAA;
    b.words[reg::kAlpha] = 0x0000;  // -2.5: 0xC0200000
    b.words[reg::kAlpha + 1] = 0xC020;
    b.words[reg::kConfigIndex1] = 'G';
    b.words[reg::kConfigIndex1 + 1] = 0xD6;    // 'Ö' in Latin-1
    b.words[reg::kConfigIndex1 + 2] = 0;       // none
    b.words[reg::kConfigIndex1 + 3] = 0x4142;  // two characters, which the window shows as "BA"
    return b;
}

QJsonObject parsed(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

QJsonObject entryFor(const QJsonObject& doc, int reg)
{
    for (const auto v : doc["registers"].toArray())
        if (v.toObject()["register"].toInt() == reg)
            return v.toObject();
    return {};
}

std::string roundTrip(const SetupBackup& b, SetupBackup& out)
{
    std::string why;
    auto back = ParseSetupBackup(SetupBackupJson(b), why);
    if (back)
        out = *back;
    return why;
}

}  // namespace

TEST(SetupBackupFile, HoldsTheSetUpWindowsAndTheSetUpTheMainWindowWritesAndNoMeasurement)
{
    int registers = 0;
    for (const RegisterEntry* e : SetupEntries()) {
        EXPECT_TRUE(e->panelId == PANEL_3 || e->panelId == PANEL_4 || e->write == WriteBy::NumberDialog) << e->reg;
        registers += RegisterSpan(*e);
    }
    EXPECT_EQ(registers, 49);
    EXPECT_EQ(SetupEntries().size(), 47u);
    const QJsonObject doc = parsed(SetupBackupJson(sample()));
    EXPECT_EQ(doc["formatVersion"].toInt(), 2);
    EXPECT_EQ(doc["registers"].toArray().size(), 47);
    for (int reg : {reg::kUid, reg::kDistance4mA, reg::kDistance20mA, reg::kBlindDistance})
        EXPECT_EQ(entryFor(doc, reg)["value"].toInt(), 100 + reg) << reg;
    for (int reg : {reg::kDistanceMm, reg::kLevelMm, reg::kSensorType, reg::kMeasureStatus})
        EXPECT_TRUE(entryFor(doc, reg).isEmpty()) << reg;

    // A backup of the first format, without the main window's four, still reads.
    QJsonObject old = doc;
    old["formatVersion"] = 1;
    QJsonArray regs;
    for (const QJsonValue r : doc["registers"].toArray())
        if (!QList<int>{reg::kUid, reg::kDistance4mA, reg::kDistance20mA, reg::kBlindDistance}.contains(
                r.toObject()["register"].toInt()))
            regs.append(r);
    old["registers"] = regs;
    std::string why;
    const auto back = ParseSetupBackup(QJsonDocument(old).toJson().toStdString(), why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->words.count(reg::kUid), 0u);
    EXPECT_EQ(back->words.count(reg::kMaxGainTh), 1u);
}

TEST(SetupBackupFile, SaysWhatMadeItAndWhereInPlainJson)
{
    const QJsonObject doc = parsed(SetupBackupJson(sample()));
    EXPECT_EQ(doc["format"].toString(), kBackupFormat);
    EXPECT_EQ(doc["programVersion"].toString(), "2.4.0");
    EXPECT_EQ(doc["date"].toString(), "2026-12-07");
    EXPECT_EQ(doc["time"].toString(), "14:40:05");
    EXPECT_EQ(doc["port"].toObject()["device"].toString(), "/dev/ttyUSB2");
    EXPECT_EQ(doc["port"].toObject()["baud"].toInt(), 19200);
    EXPECT_EQ(doc["slaveAddress"].toInt(), 17);
    EXPECT_EQ(doc["model"].toObject()["code"].toInt(), 18);
    EXPECT_EQ(doc["model"].toObject()["text"].toString(), "Gauge 8m");

    const QJsonObject medium = entryFor(doc, reg::kMedium);
    EXPECT_EQ(medium["name"].toString(), "Medium");
    EXPECT_EQ(medium["type"].toString(), "word");
    EXPECT_EQ(medium["value"].toInt(), 100 + reg::kMedium);

    const QJsonObject v0 = entryFor(doc, reg::kV0);
    EXPECT_EQ(v0["type"].toString(), "float");
    EXPECT_FLOAT_EQ(static_cast<float>(v0["value"].toDouble()), 1.0f / 3.0f);
    EXPECT_EQ(v0["words"].toArray(), (QJsonArray{0xAAAB, 0x3EAA})) << "low word first, as on the wire";
    EXPECT_TRUE(entryFor(doc, reg::kV0 + 1).isEmpty()) << "a float is one entry over two registers";
    EXPECT_DOUBLE_EQ(entryFor(doc, reg::kAlpha)["value"].toDouble(), -2.5);

    EXPECT_EQ(entryFor(doc, reg::kConfigIndex1)["value"].toString(), "G");
    EXPECT_EQ(entryFor(doc, reg::kConfigIndex1 + 1)["value"].toString(), QString::fromUtf8("Ö"));
    EXPECT_EQ(entryFor(doc, reg::kConfigIndex1 + 2)["value"].toString(), "");
    EXPECT_EQ(entryFor(doc, reg::kConfigIndex1 + 3)["words"].toArray(), (QJsonArray{0x4142}));
}

TEST(SetupBackupFile, EveryRegisterTypeComesBackExactly)
{
    SetupBackup back;
    const SetupBackup b = sample();
    ASSERT_EQ(roundTrip(b, back), "");
    EXPECT_EQ(back.words, b.words);
    EXPECT_EQ(back.modelCode, b.modelCode);
    EXPECT_EQ(back.slaveAddress, 17);
    EXPECT_EQ(back.port.com, 3);
    EXPECT_EQ(back.port.parity, "even");
    EXPECT_EQ(back.programVersion, "2.4.0");

    // Any bit pattern of a float, NaNs and infinities too, and any word of a character.
    std::mt19937 rng(7);
    SetupBackup r = b;
    for (int round = 0; round < 300; ++round) {
        for (auto& [reg, w] : r.words)
            w = static_cast<std::uint16_t>(rng());
        if (round == 1) {
            r.words[reg::kV0 + 1] = 0x7FC0;                               // NaN
            r.words[reg::kAlpha + 1] = 0xFF80, r.words[reg::kAlpha] = 0;  // -infinity
        }
        r.modelCode = static_cast<int>(rng() & 0xFFFF);
        ASSERT_EQ(roundTrip(r, back), "") << round;
        ASSERT_EQ(back.words, r.words) << round;
        ASSERT_EQ(back.modelCode, r.modelCode);
    }
}

TEST(SetupBackupFile, FilesThatAreNotWholeBackupsAreRefusedSayingWhy)
{
    const std::string good = SetupBackupJson(sample());
    auto edited = [&](auto change) {
        QJsonObject doc = parsed(good);
        change(doc);
        return QJsonDocument(doc).toJson().toStdString();
    };
    auto port = [&](auto change) {
        return edited([&](QJsonObject& doc) {
            QJsonObject p = doc["port"].toObject();
            change(p);
            doc["port"] = p;
        });
    };
    auto editRegister = [&](int reg, auto change) {
        return edited([&](QJsonObject& doc) {
            QJsonArray regs = doc["registers"].toArray();
            for (int i = 0; i < regs.size(); ++i) {
                QJsonObject o = regs[i].toObject();
                if (o["register"].toInt() == reg) {
                    change(o);
                    regs[i] = o;
                }
            }
            doc["registers"] = regs;
        });
    };
    const struct {
        const char* what;
        std::string text;
        std::string why;
    } cases[] = {
        {"plain text", "Distance\tLevel\n", "not a set-up backup"},
        {"a simulator image", R"({"registers": {"11": 4500}})", "not a set-up backup"},
        {"cut short", good.substr(0, good.size() / 2), "damaged"},
        {"a newer format", edited([](QJsonObject& d) { d["formatVersion"] = 3; }), "newer version"},
        {"no model", edited([](QJsonObject& d) { d.remove("model"); }), "which model"},
        {"a register missing", edited([](QJsonObject& d) {
             QJsonArray regs = d["registers"].toArray();
             regs.removeAt(5);
             d["registers"] = regs;
         }),
         "is missing"},
        {"a register twice", edited([](QJsonObject& d) {
             QJsonArray regs = d["registers"].toArray();
             regs.append(regs[0]);
             d["registers"] = regs;
         }),
         "twice"},
        {"a measurement smuggled in", edited([](QJsonObject& d) {
             QJsonArray regs = d["registers"].toArray();
             regs.append(QJsonObject{{"register", 1}, {"type", "word"}, {"value", 9}});
             d["registers"] = regs;
         }),
         "register 1 is not a set-up register"},
        {"a word out of range", editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = 70000; }), "65535"},
        {"a negative word", editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = -1; }), "65535"},
        {"a fraction", editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = 4.5; }), "65535"},
        {"a float edited by hand", editRegister(reg::kV0, [](QJsonObject& o) { o["value"] = 0.4; }),
         "not what its words hold"},
        {"a character edited by hand", editRegister(reg::kConfigIndex1, [](QJsonObject& o) { o["value"] = "H"; }),
         "not what its word holds"},
        {"a float with one word", editRegister(reg::kAlpha, [](QJsonObject& o) { o["words"] = QJsonArray{0}; }),
         "words"},
        {"the wrong type", editRegister(reg::kMedium, [](QJsonObject& o) { o["type"] = "float"; }), "type"},
        // Every member of the wrong kind, or missing, is named; none may end the program.
        {"a port named as text", port([](QJsonObject& p) { p["com"] = "COM1"; }),
         "\"port.com\" should be a whole number from 1 to 99, not \"COM1\""},
        {"a baud rate as text", port([](QJsonObject& p) { p["baud"] = "9600"; }),
         "\"port.baud\" should be 9600 or 19200, not \"9600\""},
        {"data bits as text", port([](QJsonObject& p) { p["dataBits"] = "8"; }),
         "\"port.dataBits\" should be 7 or 8, not \"8\""},
        {"stop bits out of range", port([](QJsonObject& p) { p["stopBits"] = 3; }),
         "\"port.stopBits\" should be 1 or 2"},
        {"an unknown parity", port([](QJsonObject& p) { p["parity"] = "mark"; }),
         "\"port.parity\" should be \"none\", \"even\" or \"odd\", not \"mark\""},
        {"a device as a number", port([](QJsonObject& p) { p["device"] = 0; }), "\"port.device\" should be text"},
        {"port 0", port([](QJsonObject& p) { p["com"] = 0; }), "\"port.com\" should be a whole number from 1"},
        {"a port beyond any whole number", edited([](QJsonObject& d) {
             d["port"] = QJsonObject{{"com", 1e300}};
         }),
         "\"port.com\" should be a whole number from 1 to 99, not 1e+300"},
        {"no baud rate", port([](QJsonObject& p) { p.remove("baud"); }), "\"port.baud\" is missing"},
        {"the port null", edited([](QJsonObject& d) { d["port"] = QJsonValue(); }),
         "\"port\" should be an object, not null"},
        {"no port", edited([](QJsonObject& d) { d.remove("port"); }), "\"port\" is missing"},
        {"the port a list", edited([](QJsonObject& d) { d["port"] = QJsonArray{1}; }), "not a list"},
        {"a date as a number", edited([](QJsonObject& d) { d["date"] = 20261207; }),
         "\"date\" should be text, not 20261207"},
        {"no program version", edited([](QJsonObject& d) { d.remove("programVersion"); }),
         "\"programVersion\" is missing"},
        {"a slave address as text", edited([](QJsonObject& d) { d["slaveAddress"] = "17"; }), "slave address"},
        {"a model code as text", edited([](QJsonObject& d) {
             d["model"] = QJsonObject{{"code", "17"}, {"text", "x"}};
         }),
         "\"model.code\" should be a whole number from 0 to 65535, not \"17\""},
        {"a model name as a number", edited([](QJsonObject& d) {
             d["model"] = QJsonObject{{"code", 17}, {"text", 5}};
         }),
         "\"model.text\" should be text"},
        {"a format version beyond any whole number", edited([](QJsonObject& d) { d["formatVersion"] = 1e19; }),
         "no format version"},
        {"a register number as text", editRegister(reg::kMedium, [](QJsonObject& o) { o["register"] = "44"; }),
         "has no register number"},
        {"a register number that wraps to a set-up register",
         replaced(good, "\"register\": 44,", "\"register\": 4294967340,"),
         "register 4294967340 is not a set-up register"},
        {"a name as a number", editRegister(reg::kMedium, [](QJsonObject& o) { o["name"] = 7; }), "name"},
        {"a word as text", editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = "4"; }),
         "register 44 holds \"4\", not a whole number"},
        {"a float's words as text",
         editRegister(reg::kV0,
                      [](QJsonObject& o) {
                          o["words"] = QJsonArray{"1", "2"};
                      }),
         "not a whole number from 0 to 65535"},
        {"a long text where a word belongs",
         editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = QString(200000, QChar('x')); }),
         "register 44 holds \"" + std::string(39, 'x') + "..., not"},
        {"a list where a word belongs", editRegister(reg::kMedium, [](QJsonObject& o) { o["value"] = QJsonArray{4}; }),
         "register 44 holds a list, not"},
        // Nesting is bounded before anything is parsed or quoted.
        {"a value nested 300000 deep", nested(good, 300000), "nests deeper than 64 levels"},
        {"65 levels in all", nested(good, 62), "nests deeper than 64 levels"},
        {"64 levels in all", nested(good, 61), "register 44 holds a list, not"},
        {"brackets in text do not count", nested(good, 60, "\"[[[[[[[[[[\""), "register 44 holds a list, not"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(ParseSetupBackup(c.text, why)) << c.what;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
        EXPECT_LT(why.size(), 200u) << c.what << ": a message quotes a short form only";
    }
}

TEST(SetupBackupFile, ValuesShowAsTheWindowsShowThem)
{
    const auto find = [](int reg) {
        for (const RegisterEntry* e : SetupEntries())
            if (e->reg == reg)
                return e;
        return static_cast<const RegisterEntry*>(nullptr);
    };
    EXPECT_EQ(SetupValueText(*find(reg::kMedium), {6}), "6");
    EXPECT_EQ(SetupValueText(*find(reg::kV0), {0, 0x3F80}), "1");
    EXPECT_EQ(SetupValueText(*find(reg::kConfigIndex1), {'G'}), "\"G\"");
    EXPECT_EQ(SetupValueText(*find(reg::kConfigIndex1), {0}), "(none)");
    EXPECT_EQ(SetupValueText(*find(reg::kConfigIndex1), {0x4100}), "(none) (16640)")
        << "a high byte behind a 0 still tells it from 0";
}
