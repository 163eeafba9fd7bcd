// Command line of the simulator, and how it and an image file settle the starting image.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "faults.h"
#include "line.h"
#include "register_image.h"
#include "tcp_frames.h"
#include "transmitter.h"

namespace vek::sim {

struct Options {
    std::optional<std::string> device;
    std::optional<std::string> link;
    // A network connection instead of a serial line: the TCP port, the framing and the
    // address to listen on; the connection is closed after every closeAfter requests.
    std::optional<int> tcpPort;
    std::optional<TcpKind> tcpKind;
    std::optional<std::string> tcpHost;
    std::optional<std::uint64_t> closeAfter;
    std::optional<std::string> imagePath;
    std::optional<std::string> logPath;
    std::optional<unsigned> baud;
    std::optional<Parity> parity;
    std::optional<int> slave;
    std::optional<int> secondSlave;  // a second transmitter on the same line at this address
    std::optional<std::uint16_t> model;
    std::optional<std::uint64_t> seed;
    bool staticImage = false;
    WarningSchedule warnings;
    bool pacing = true;
    unsigned turnaroundMs = 3;
    bool checkBaud = false;
    FaultConfig faults;
    bool help = false;
    bool version = false;
};

struct OptionsResult {
    bool ok = false;
    Options options;
    std::string error;
};

// `args` without the program name. Accepts "--name value" and "--name=value".
OptionsResult parseOptions(const std::vector<std::string>& args);

std::string usage(std::string_view program);

// What --version prints: the program's name and the project's version, on one line.
std::string versionLine(std::string_view program);

struct Startup {
    bool ok = false;
    std::string error;
    RegisterImage image;
    EngineConfig engine;
    // The second transmitter of --second-slave: the same image and line at its own address,
    // without the faults (they are the first one's).
    std::optional<EngineConfig> secondEngine;
    RegisterImage secondImage;
};

// Factory image, then the image file, then the options that name a register (--slave is
// register 25, --parity 74, --baud 75, --model 68): a later source wins. The slave address
// and line settings are then read back from the image, so that they and it agree.
Startup resolveStartup(const Options& options, std::uint64_t seed);

}  // namespace vek::sim
