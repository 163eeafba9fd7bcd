// A backup of the transmitter's set-up: every register the "User Set Up" and "Advanced Set
// Up" windows show and the four the main window writes (49 registers: two of them floats over
// two registers each), taken from
// the register map, with where and from what it was read. Written and read as JSON.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "register_map.h"
#include "setup_comparison.h"

namespace vek {

// The map entries a backup holds, in map order: the set-up the main window writes (the
// address, the blind distance and the 4-20 mA span) and that of the two set-up windows.
std::vector<const RegisterEntry*> SetupEntries();
// Whether a backup of format `formatVersion` holds entry `e`.
bool InBackupFormat(const RegisterEntry& e, int formatVersion);
// How many registers an entry spans (a float two, everything else one).
int RegisterSpan(const RegisterEntry& e);

struct SetupBackup {
    int formatVersion = 2;  // kBackupFormatVersion for a new backup; what a file read says
    std::string programVersion;
    std::string date, time;  // local, "YYYY-MM-DD" and "HH:MM:SS"
    struct Port {
        int com = 0;
        std::string device;
        long baud = 9600;
        std::string parity = "none";  // "none", "even" or "odd"
        int dataBits = 8, stopBits = 1;
    } port;
    int slaveAddress = 1;
    int modelCode = 0;
    std::string modelText;
    // Every register of SetupEntries() (both words of a float), by number counted from 1.
    std::map<int, std::uint16_t> words;

    // The words of entry `e`, low register first; empty when the backup lacks one.
    std::vector<std::uint16_t> wordsOf(const RegisterEntry& e) const;
};

// The backup as the file holds it (UTF-8 JSON, ending in a newline).
std::string SetupBackupJson(const SetupBackup& b);
// Reads a backup file's text. Anything that is not such a backup, or is one with a register
// missing, doubled, unknown, out of range or disagreeing with itself, gives nullopt and
// `why` says what, in words for the technician.
std::optional<SetupBackup> ParseSetupBackup(const std::string& text, std::string& why);

// A register's content as the windows show it: a whole number, a float, a character
// ("G", or "(none)" for 0) or a model's name with its code.
std::string SetupValueText(const RegisterEntry& e, const std::vector<std::uint16_t>& words);

// "Gauge 5m (model code 17)".
std::string ModelWords(int code);
// "Gauge 5m (model code 17) at slave address 1".
std::string SetupDescription(const SetupBackup& b);

// The item labels of rings and switches by window (resource id) and control id, then by
// value, as their window shows them. Control ids repeat from window to window.
using ItemLabels = std::map<std::pair<int, int>, std::map<long long, std::string>>;
// A backup beside the transmitter's image `now`, one row per entry of SetupEntries() in its
// order; a ring's or switch's value is named by its item. No restore outcome yet.
SetupComparison CompareSetups(const SetupBackup& backup, const SetupBackup& now, const std::string& file,
                              const ItemLabels& items);

// The file's format name and version: a file without this name is not a backup.
inline constexpr const char* kBackupFormat = "vek-setup-backup";
inline constexpr int kBackupFormatVersion = 2;

}  // namespace vek
