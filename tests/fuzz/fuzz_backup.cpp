// Fuzz target: the set-up backup reader. The input is the whole backup file. It goes
// through ParseSetupBackup, and, written to a file, through "Restore..." of the advanced
// set-up window against the in-memory transmitter, the user answering No to the writes.
// Besides the sanitizers (and no exception escaping) it checks that a backup that reads is
// whole and plausible (every set-up register, a port, baud rate, parity and line the program
// could have used, a slave address and model code in range) and comes back unchanged
// through the program's own writer; that a refused one says why in a short message; and
// that the window shows that same reason, sends nothing for a refused file and never writes
// a register.
#include <fstream>
#include <string>

#include "app_rig.h"
#include "fuzz_common.h"
#include "setup_backup.h"

using namespace vek;
using vek::fuzz::check;
using vek::test::AppRig;

namespace {

struct Fixture {
    AppRig rig;
    fuzz::ScratchDir dir{"backup"};
    std::string file = dir.file("backup.json");
    int advanced = 0;

    Fixture()
    {
        rig.configurePort(1);
        rig.transmitter();
        rig.regs[reg::kSensorType - 1] = 0x11;  // the model of the seeds, so a restore gets to its question
        advanced = rig.openAdvanced();
    }
};

Fixture& fx()
{
    static Fixture f;
    return f;
}

// What reads must be whole, plausible, and survive the program's own writer unchanged.
void checkRead(const SetupBackup& b)
{
    std::size_t registers = 0;
    for (const RegisterEntry* e : SetupEntries())
        if (InBackupFormat(*e, b.formatVersion)) {
            check(b.wordsOf(*e).size() == static_cast<std::size_t>(RegisterSpan(*e)), "a register is missing:", e->name);
            registers += static_cast<std::size_t>(RegisterSpan(*e));
        }
    check(b.words.size() == registers, "not the set-up registers of its format:", std::to_string(b.words.size()));
    const auto& p = b.port;
    check(p.com >= 1 && p.com <= 99, "a port no COM number names:", std::to_string(p.com));
    check(p.baud == 9600 || p.baud == 19200, "a baud rate the program never uses:", std::to_string(p.baud));
    check(p.parity == "none" || p.parity == "even" || p.parity == "odd", "an unknown parity:", p.parity);
    check((p.dataBits == 7 || p.dataBits == 8) && (p.stopBits == 1 || p.stopBits == 2), "impossible line settings");
    check(b.slaveAddress >= 1 && b.slaveAddress <= 247, "a slave address out of range");
    check(b.modelCode >= 0 && b.modelCode <= 0xFFFF, "a model code out of range");

    std::string why;
    const auto again = ParseSetupBackup(SetupBackupJson(b), why);
    check(again.has_value(), "the program's own writing of a backup is refused:", why);
    check(again->words == b.words && again->formatVersion == b.formatVersion,
          "the registers or the format changed through writing and reading");
    check(again->port.com == p.com && again->port.device == p.device && again->port.baud == p.baud &&
              again->port.parity == p.parity && again->port.dataBits == p.dataBits &&
              again->port.stopBits == p.stopBits,
          "the port changed through writing and reading");
    check(again->slaveAddress == b.slaveAddress && again->modelCode == b.modelCode && again->modelText == b.modelText &&
              again->programVersion == b.programVersion && again->date == b.date && again->time == b.time,
          "what made the backup changed through writing and reading");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fx();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Fixture& f = fx();
    AppRig& g = f.rig;
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::string why;
    const auto b = ParseSetupBackup(text, why);
    if (b)
        checkRead(*b);
    else
        check(!why.empty() && why.size() < 300, "a refusal without a short reason:", why.substr(0, 300));

    {
        std::ofstream out(f.file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    g.com.frames.clear();
    g.popups.popups.clear();
    g.popups.fileAnswer = f.file;
    g.popups.confirmAnswer = false;
    g.panels.PostEvent(f.advanced, PANEL_3_RESTORE, EVENT_COMMIT);
    const auto& popups = g.popups.popups;
    check(!g.panels.busy(), "the restore did not end");
    for (const auto& frame : g.com.frames)
        check(frame.size() < 2 || frame[1] != 6, "a register was written though the user said No");
    if (!b) {
        check(g.com.frames.empty(), "a refused backup still reached the line");
        check(popups.size() == 2 &&
                  popups[1].text == "\"" + f.file + "\" was not used: " + why + ". Nothing was written.",
              "the window does not say what the reader said:", popups.size() > 1 ? popups[1].text : "(no message)");
    } else {
        check(!g.com.frames.empty(), "a readable backup was restored without reading the transmitter");
    }
    for (const auto& p : popups)
        check(p.text.find("internal error") == std::string::npos, "a fault reached the last defence:", p.text);
    return 0;
}
