// Writes the seeds of the backup fuzz target into the folder named: backups as the program
// writes them (SetupBackupJson of a commissioned 5 m gauge's image, and of odd ones), then
// the same with a member of the wrong kind or missing, cut short, and nested deep.
//   build/vek_fuzz_backup_seeds tests/fuzz/corpus/backup
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "setup_backup.h"

using namespace vek;

namespace {

// The set-up registers of the gauge in tests/fuzz/make_corpus.py's image.
SetupBackup gauge()
{
    std::map<int, std::uint16_t> image = {
        {11, 5000}, {12, 300},  {13, 820},  {14, 4010}, {15, 250},  {16, 60}, {17, 40}, {18, 120}, {23, 3},
        {24, 14},   {26, 200},  {27, 8},    {28, 12},   {38, 5},    {40, 5},  {43, 10}, {44, 1},   {45, 0},
        {46, 0},    {47, 1},    {48, 1},    {49, 0},    {50, 1},    {51, 0},  {52, 1},  {53, 1},   {59, 0},
        {66, 30},   {70, 1500}, {71, 4000}, {72, 3000}, {73, 1000}, {74, 0},  {75, 0},  {76, 40},  {77, 20},
    };
    SetupBackup b;
    b.programVersion = "2.4.0";
    b.date = "2026-12-07";
    b.time = "15:02:56";
    b.port = {1, "/dev/ttyUSB0", 9600, "none", 8, 1};
    b.slaveAddress = 1;
    b.modelCode = 0x11;
    b.modelText = "Gauge 5m";
    for (const RegisterEntry* e : SetupEntries())
        for (int i = 0; i < RegisterSpan(*e); ++i)
            b.words[e->reg + i] = image.count(e->reg + i) ? image[e->reg + i] : 0;
    auto setFloat = [&](int reg, float f) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        b.words[reg] = static_cast<std::uint16_t>(bits);
        b.words[reg + 1] = static_cast<std::uint16_t>(bits >> 16);
    };
    setFloat(reg::kV0, 331.3f);
    setFloat(reg::kAlpha, 0.6f);
    for (int i = 0; i < 8; ++i)
        b.words[reg::kConfigIndex1 + i] = static_cast<std::uint8_t>("VEK-05A1"[i]);
    return b;
}

// `text` with the first `from` after `after` replaced by `to`; the seed is worthless if
// `from` is not there.
std::string edited(std::string text, const std::string& from, const std::string& to, const std::string& after = "")
{
    const auto at = text.find(from, text.find(after));
    if (at == std::string::npos) {
        std::fprintf(stderr, "no \"%s\" in the backup\n", from.c_str());
        std::exit(1);
    }
    return text.replace(at, from.size(), to);
}

std::string deep(int levels, const std::string& inner)
{
    return std::string(static_cast<std::size_t>(levels), '[') + inner +
           std::string(static_cast<std::size_t>(levels), ']');
}

std::string deepObjects(int levels)
{
    std::string s;
    for (int i = 0; i < levels; ++i)
        s += "{\"a\": ";
    return s + "1" + std::string(static_cast<std::size_t>(levels), '}');
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);

    const SetupBackup g = gauge();
    SetupBackup odd = g;
    odd.port = {9, "", 19200, "odd", 7, 2};
    odd.slaveAddress = 247;
    odd.modelCode = 0xFFFF;
    odd.modelText = "Unknown";
    odd.words[reg::kV0 + 1] = 0x7FC0;  // NaN
    odd.words[reg::kAlpha] = 0;
    odd.words[reg::kAlpha + 1] = 0xFF80;         // minus infinity
    odd.words[reg::kConfigIndex1] = 0x4142;      // two characters
    odd.words[reg::kConfigIndex1 + 1] = 0xD6;    // Latin-1
    odd.words[reg::kConfigIndex1 + 2] = 0x4100;  // a high byte behind a 0
    odd.words[reg::kMedium] = 0xFFFF;

    const std::string real = SetupBackupJson(g);
    // The Medium register's entry (register 44) ends with its value.
    const std::string value44 = "\"value\": 1\n", medium = "\"register\": 44,";
    const std::map<std::string, std::string> seeds = {
        {"real_gauge", real},
        {"real_odd_values", SetupBackupJson(odd)},
        {"com_as_text", edited(real, "\"com\": 1,", "\"com\": \"COM1\",")},
        {"baud_as_text", edited(real, "\"baud\": 9600,", "\"baud\": \"9600\",")},
        {"data_bits_as_text", edited(real, "\"dataBits\": 8,", "\"dataBits\": \"8\",")},
        {"port_null", edited(real, "\"port\": {", "\"port\": null, \"was\": {")},
        {"port_missing", edited(real, "\"port\": {", "\"harbour\": {")},
        {"port_list", edited(real, "\"port\": {", "\"port\": [1], \"was\": {")},
        {"slave_as_text", edited(real, "\"slaveAddress\": 1,", "\"slaveAddress\": \"1\",")},
        {"model_code_as_text", edited(real, "\"code\": 17,", "\"code\": \"17\",")},
        {"version_huge", edited(real, "\"formatVersion\": 1,", "\"formatVersion\": 18446744073709551617,")},
        {"register_as_text", edited(real, "\"register\": 44,", "\"register\": \"44\",")},
        {"register_wraps", edited(real, "\"register\": 44,", "\"register\": 4294967340,")},
        {"name_as_number", edited(real, "\"name\": \"Medium\"", "\"name\": 44")},
        {"value_as_text", edited(real, value44, "\"value\": \"1\"\n", medium)},
        {"value_as_fraction", edited(real, value44, "\"value\": 1.0\n", medium)},
        {"words_as_text", edited(real, "\"words\": [\n", "\"words\": [\"1\", \n")},
        {"value_nested_61", edited(real, value44, "\"value\": " + deep(61, "1") + "\n", medium)},
        {"value_nested_62", edited(real, value44, "\"value\": " + deep(62, "1") + "\n", medium)},
        {"brackets_in_text", edited(real, "\"date\": \"2026-12-07\"", "\"date\": \"[[[[{{{{\\\"[[[[\"")},
        {"nested_1000", deep(1000, "")},
        {"objects_nested_300", edited(real, value44, "\"value\": " + deepObjects(300) + "\n", medium)},
        {"cut_short", real.substr(0, real.size() / 2)},
        {"not_json", "Date\tTime\tDist[mm]\n"},
        {"empty", ""},
    };
    for (const auto& [name, text] : seeds) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::printf("%zu seeds in %s\n", seeds.size(), dir.c_str());
    return 0;
}
