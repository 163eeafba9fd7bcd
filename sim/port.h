// The simulator's end of the line: a new pseudo-terminal or a real serial device.
#pragma once
#include <optional>
#include <string>

#include "line.h"

namespace vek::sim {

struct Port {
    int fd = -1;
    // Our own open handle on the pseudo-terminal's far end. While it is open the master may
    // close and reopen the device as often as it likes without us seeing a hang-up, and the
    // far end's settings stay raw between its visits.
    int keepFd = -1;
    std::string path;        // what the master opens
    bool pty = false;        // a pseudo-terminal we made
    bool ptyDevice = false;  // a --device that is the far end of somebody else's pseudo-terminal
    bool open() const { return fd >= 0; }
};

// The far end starts raw at the simulator's own speed, so that --check-baud passes a master
// that never sets one.
std::optional<Port> openPty(const LineSettings& line, std::string& error);
std::optional<Port> openDevice(const std::string& path, const LineSettings& line, std::string& error);
// Raw 8-bit at the given speed and parity, one stop bit; bytes with parity errors dropped.
bool configureDevice(int fd, const LineSettings& line, std::string& error);
void closePort(Port& port);

// The speed the master set on its end of a pseudo-terminal, if it is one we know.
std::optional<unsigned> peerBaud(const Port& port);

// Points `link` at `target`, replacing an earlier symbolic link but never a file.
bool makeLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` only while it still points at `target`.
void removeLink(const std::string& link, const std::string& target);

}  // namespace vek::sim
