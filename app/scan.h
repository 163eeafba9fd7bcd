// Finding a transmitter whose slave address, baud rate or parity nobody wrote down. The scan
// probes addresses 1 to 247 at 9600 and 19200 baud with no, even and odd parity on the
// chosen ports, with a read of the model register, the likely places first. It runs one
// probe per Step, so the window driving it stays alive between probes and its Cancel takes
// effect before the next one. While it runs the polling and the writes leave the port alone.
// No Qt here: the Find Transmitter window only calls Step and shows what it reports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "job.h"
#include "mb_link_state.h"

namespace vek {

struct App;

inline constexpr int kScanFirstAddress = 1;
inline constexpr int kScanLastAddress = 247;
inline constexpr int kScanLineSettings = 6;  // 2 baud rates x 3 parities

// One place a transmitter could be: a port, a line setting and a slave address. Baud and
// parity are the selectors the link keeps (baud 0 = 9600, 1 = 19200; parity 0 none, 1
// even, 2 odd), so a find can be handed to the link as it is. A probe through a gateway has
// `gateway` set: it goes through the network connection the settings name (the port number
// is the one the link stands on), and the line settings are the gateway's own.
struct ScanProbe {
    int port = 0;
    int baud = 0;
    int parity = 0;
    int address = 1;
    bool gateway = false;
    bool operator==(const ScanProbe&) const = default;
};

// Seconds a probe through a gateway waits for its reply: a probe's wait at 9600 baud, the
// slower of the gateway's line settings, and 30 ms for the network and the gateway's own
// turnaround. A full scan of 247 addresses takes about 25 s.
inline constexpr double kGatewayProbeWait = 0.100;

// Only a Transmitter find is a transmitter; the others are "something answered".
enum class ScanFindKind {
    Transmitter,   // the probed address answered the read: its model code is known
    Refused,       // the probed address answered with an exception: a slave is there, but it
                   // does not give the model register as a transmitter does
    OtherAddress,  // a whole frame came back from another address than the one probed
    Damaged,       // bytes came back that make no frame: bad CRC, wrong length, noise
};

struct ScanFind {
    ScanProbe at;
    ScanFindKind kind = ScanFindKind::Transmitter;
    std::string device;       // the device the port was open on
    std::string linkDevice;   // through a gateway: the network device name the probe opened
    int answeredAddress = 0;  // the reply's address byte; 0 when it had none
    int modelCode = -1;       // register 68 of a Transmitter find
    int exceptionCode = 0;    // the exception code of a Refused find
    std::string what;         // the model, or what answered, as the list shows it
    std::vector<std::uint8_t> bytes;
};

std::string BaudText(int baud);
std::string ParityText(int parity);
// "COM1, 9600 baud, no parity" (or "even parity", "odd parity"); "the gateway" for a
// probe through one (the find's device names it).
std::string LineText(const ScanProbe& at);

// Seconds a probe waits for its reply at this line setting: the wire time of the 8-byte
// request, the 3.5-character silence that ends it, and the 7-byte reply, at 11 bits a
// character, plus a margin for the slave's turnaround and the adapter's latency.
double ProbeWait(int baud);
// The same for a probe of the plan, through a gateway or on a serial line.
double ProbeWait(const ScanProbe& probe);

// The probes of a scan of `ports`, in the order they are tried: the saved settings (the
// link's port, line setting and address) on each port, then address 1 at every line
// setting of each port, then every other address, the saved line setting first. Each
// place is probed once.
std::vector<ScanProbe> ScanPlan(const std::vector<int>& ports, const ScanProbe& saved);
// The probes of a scan through a gateway on `port`: the saved address first, then addresses
// 1 to 247. There is no line setting to try.
std::vector<ScanProbe> GatewayScanPlan(int port, int savedAddress);

// The COM ports 1 to 9 whose device exists now (an on-board port only with a UART behind it).
std::vector<int> PresentComPorts();

// What the `n` bytes taken after a probe mean; nothing when none came back, or when a
// gateway answered for the address that nothing there answered it (exception 10 or 11).
std::optional<ScanFind> ClassifyProbeReply(const ScanProbe& probe, const std::uint8_t* b, std::size_t n);

class TransmitterScan {
public:
    enum class StepResult {
        Probed,   // one probe ran (or a port that is busy or cannot be opened was skipped)
        NotNow,   // another exchange is waiting for its reply: try again shortly
        Finished  // the scan is over (done or cancelled); the port is the program's again
    };

    // Starts a scan of `ports` and pauses the polling. False (and nothing starts) when
    // `ports` is empty or a scan runs already.
    bool Start(App& app, const std::vector<int>& ports);
    // Starts a scan of addresses 1 to 247 through the network connection the RS485 Settings
    // window names, and pauses the polling. False (and nothing starts) when the settings
    // name no network connection or a scan runs already.
    bool StartGateway(App& app);
    // Runs the next probe. Never while another exchange waits for its reply: a probe never
    // lands inside it. The first probe on a port claims it (Rs232::ClaimCom): held for the
    // scan alone, its line settings remembered; a port another program holds is skipped. The
    // port is released, its line settings given back, once its last probe has run, and at the
    // end of the scan however it ends.
    StepResult Step(App& app);
    // Stops the scan: at once between probes, at the end of the probe when called inside
    // one. The port goes back to the program's settings and the polling resumes.
    void Cancel(App& app);

    // Called when a probe has ended (its reply judged, or the scan over): the window driving
    // the scan starts the next one at once instead of looking again later.
    std::function<void()> onProbeEnded;

    bool running() const { return running_; }
    bool cancelled() const { return cancelled_; }
    std::size_t done() const { return next_; }
    std::size_t total() const { return plan_.size(); }
    const std::vector<ScanProbe>& plan() const { return plan_; }
    const std::vector<ScanFind>& finds() const { return finds_; }
    // What is being tried: "COM1, 9600 baud, even parity, address 17".
    std::string TryingText() const;
    // Seconds the probes still to come should take: their waits, plus what each probe
    // has cost so far beyond its wait.
    double SecondsLeft() const;
    // The ports skipped and why, one line each: "COM3 (/dev/ttyUSB2): busy, in use by another
    // program — skipped", or the port's own words on why it could not be opened. Their
    // probes were dropped.
    const std::vector<std::string>& skipped() const { return skipped_; }
    // The finds that are transmitters (the others are "something answered").
    int transmitters() const;
    // "1 transmitter found" or "N transmitters found", and how many times something else
    // answered.
    std::string FoundText() const;
    // The network connection a gateway scan goes through ("" for a scan of serial ports).
    const std::string& gatewayDevice() const { return gatewayDevice_; }

private:
    // The probe plan_[next_], as a job: it waits its turn for the line, and the window answers
    // meanwhile.
    Job probe(App& app);
    void finish(App& app);
    // Drops the rest of `port`'s probes, saying why (an RS_ERR_ code).
    void skip(App& app, int port, int error);
    // Gives a claimed port back: released, and closed unless it is the program's own.
    void leave(App& app, int port);
    void indexLastProbes();
    // Starts the scan of `plan` over `ports` (both set up by Start or StartGateway).
    void begin(App& app, std::vector<ScanProbe> plan, std::vector<int> ports);

    std::vector<ScanProbe> plan_;
    std::vector<ScanFind> finds_;
    std::vector<std::string> skipped_;
    std::vector<int> ports_;
    std::set<int> claimed_;                 // ports the scan holds now
    std::map<int, std::size_t> lastProbe_;  // each port's last probe in plan_
    std::size_t next_ = 0;
    bool running_ = false;
    bool inStep_ = false;
    bool cancelled_ = false;
    double overhead_ = 0;  // seconds spent by the probes so far beyond their waits
    LinkState link_;       // the probes' own request and buffers: the program's stay as they are
    std::string gatewayDevice_;  // the network device name of a gateway scan
    std::string gatewayText_;    // "RTU over TCP to host:port"
};

// Hands a find to the program: its port, baud rate, parity and slave address become the
// link's and the RS485 Settings window's, the port is reopened with them, and the port, baud
// rate and parity are saved to the settings file as "Save Settings" saves them. A running
// scan is cancelled first. False when the settings could not be saved (the user has been
// told). Asks nothing: "Use" goes through UseScanFindAsked.
bool UseScanFind(App& app, const ScanFind& find);

// What "Use" does with a find of each kind.
enum class ScanUse {
    Take,    // a transmitter: its settings become the program's at once
    Ask,     // a slave that refused the read: taken only after a Yes to a question that
             // names the exception, since the polls would be refused the same way
    Refuse,  // no slave answered as the probed address (another address, damaged bytes):
             // there is nothing to poll at those settings; the user is told why
};
ScanUse ScanUseOf(const ScanFind& find);

// The question asked before a Refused find is taken, or the reason another is not.
std::string ScanUseText(const ScanFind& find);

enum class ScanUseOutcome {
    Used,      // the program polls the find's settings, saved
    NotSaved,  // it polls them, but the settings file could not be written (the user was told)
    Declined,  // the user answered No: nothing changed
    Refused,   // nothing to use there: nothing changed, the user was told why
};

// "Use" on a find: takes it, asks first, or refuses it with a reason, as ScanUseOf says.
// A find not taken changes nothing, and a running scan goes on.
ScanUseOutcome UseScanFindAsked(App& app, const ScanFind& find);

// "Find Transmitter..." on the RS485 Settings window.
int Find_Transmitter(App& app, int panel, int control, int event);

}  // namespace vek
