// The transmitter scan: its plan, one probe per step, what came back, and handing a find to
// the program.
#include "scan.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "mb_crc.h"
#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "register_map.h"
#include "traffic.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr int kProbeRequestBytes = 8;  // slave, 3, start, quantity, CRC
constexpr int kProbeReplyBytes = 7;    // slave, 3, byte count 2, one register, CRC
constexpr double kBitsPerCharacter = 11.0;
// The slave's own turnaround and what a USB adapter adds (its latency timer holds received
// bytes up to 16 ms) both fit well inside this; the 1 s of the polling cycle is for a
// transmitter busy measuring, which answers a short read far sooner.
constexpr double kProbeMargin = 0.050;
// How often a probe looks again at a gateway connection still being made.
constexpr double kConnectLookSeconds = 0.05;

// The line settings in the order the rest of a scan tries them after the saved one.
constexpr ScanProbe kLines[kScanLineSettings] = {{0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 2, 0},
                                                 {0, 1, 0, 0}, {0, 1, 1, 0}, {0, 1, 2, 0}};

std::string modelText(int code)
{
    const std::string name = SensorText(code);
    return name == "----" ? "model code " + std::to_string(code) : name + " (model code " + std::to_string(code) + ")";
}

// "exception 2 (Illegal data address)"
std::string exceptionText(int code)
{
    const std::string name = ExceptionName(code);
    return "exception " + std::to_string(code) + (name.empty() ? std::string() : " (" + name + ")");
}

}  // namespace

std::string BaudText(int baud) { return std::to_string(BaudRateOf(static_cast<std::uint32_t>(baud))); }

std::string ParityText(int parity)
{
    switch (parity) {
    case 1: return "even";
    case 2: return "odd";
    default: return "none";
    }
}

std::string LineText(const ScanProbe& at)
{
    if (at.gateway)
        return "the gateway";
    return "COM" + std::to_string(at.port) + ", " + BaudText(at.baud) + " baud, " +
           (at.parity == 0 ? std::string("no") : ParityText(at.parity)) + " parity";
}

double ProbeWait(int baud)
{
    const double character = kBitsPerCharacter / static_cast<double>(BaudRateOf(static_cast<std::uint32_t>(baud)));
    return (kProbeRequestBytes + 3.5 + kProbeReplyBytes) * character + kProbeMargin;
}

double ProbeWait(const ScanProbe& probe) { return probe.gateway ? kGatewayProbeWait : ProbeWait(probe.baud); }

std::vector<ScanProbe> GatewayScanPlan(int port, int savedAddress)
{
    std::vector<ScanProbe> plan;
    auto add = [&](int address) { plan.push_back({port, 0, 0, address, true}); };
    if (savedAddress >= kScanFirstAddress && savedAddress <= kScanLastAddress)
        add(savedAddress);
    for (int a = kScanFirstAddress; a <= kScanLastAddress; ++a)
        if (a != savedAddress)
            add(a);
    return plan;
}

std::vector<ScanProbe> ScanPlan(const std::vector<int>& ports, const ScanProbe& saved)
{
    std::vector<ScanProbe> plan;
    std::set<std::tuple<int, int, int, int>> seen;
    auto add = [&](int port, int baud, int parity, int address) {
        if (address < kScanFirstAddress || address > kScanLastAddress)
            return;
        if (seen.insert({port, baud, parity, address}).second)
            plan.push_back({port, baud, parity, address});
    };
    // The saved port first, then the others in their order.
    std::vector<int> order;
    for (int p : ports)
        if (p == saved.port)
            order.push_back(p);
    for (int p : ports)
        if (p != saved.port && std::find(order.begin(), order.end(), p) == order.end())
            order.push_back(p);
    std::vector<ScanProbe> lines = {{0, saved.baud, saved.parity, 0}};
    for (const ScanProbe& l : kLines)
        if (l.baud != saved.baud || l.parity != saved.parity)
            lines.push_back(l);

    for (int port : order)
        add(port, saved.baud, saved.parity, saved.address);
    for (int port : order)
        for (const ScanProbe& l : lines)
            add(port, l.baud, l.parity, kScanFirstAddress);
    for (int port : order)
        for (const ScanProbe& l : lines)
            for (int a = kScanFirstAddress; a <= kScanLastAddress; ++a)
                add(port, l.baud, l.parity, a);
    return plan;
}

std::vector<int> PresentComPorts()
{
    std::vector<int> ports;
    for (int n = 1; n <= 9; ++n)
        if (platform::ComPortPresent(n))
            ports.push_back(n);
    return ports;
}

std::optional<ScanFind> ClassifyProbeReply(const ScanProbe& probe, const std::uint8_t* b, std::size_t n)
{
    if (n == 0)
        return std::nullopt;
    ScanFind f;
    f.at = probe;
    f.bytes.assign(b, b + n);
    // A Modbus frame's CRC over the frame with its CRC comes to 0.
    const bool whole = n >= 4 && usMBCRC16(b, n) == 0;
    if (!whole) {
        f.kind = ScanFindKind::Damaged;
        f.what = "something answered: " + CountOf(static_cast<long long>(n), "byte", "bytes") +
                 " that make no frame (bad CRC or wrong length)";
        return f;
    }
    f.answeredAddress = b[0];
    if (b[0] != probe.address) {
        f.kind = ScanFindKind::OtherAddress;
        f.what = "something answered: a frame from address " + std::to_string(b[0]) + " to the probe of address " +
                 std::to_string(probe.address);
        return f;
    }
    if (n == kProbeReplyBytes && b[1] == 3 && b[2] == 2) {
        f.kind = ScanFindKind::Transmitter;
        f.modelCode = b[3] << 8 | b[4];
        f.what = modelText(f.modelCode);
        return f;
    }
    // A gateway says so when nothing answered it at that address: "gateway path unavailable"
    // or "gateway target device failed to respond". Nobody is there.
    if (n == 5 && b[1] == (3 | 0x80) && (b[2] == 10 || b[2] == 11))
        return std::nullopt;
    if (n == 5 && b[1] == (3 | 0x80)) {
        f.kind = ScanFindKind::Refused;
        f.exceptionCode = b[2];
        f.what = "something answered: " + exceptionText(b[2]) + " to the read of the model register";
        return f;
    }
    f.kind = ScanFindKind::Damaged;
    f.what = "something answered: a " + std::to_string(n) + "-byte frame that is no reply to the read";
    return f;
}

bool TransmitterScan::Start(App& app, const std::vector<int>& ports)
{
    if (running_ || ports.empty())
        return false;
    LinkState& l = app.link;
    // Before the first poll the saved settings have not been read yet.
    if (!l.ucMBFlag)
        RecallChangedSerialSettings(app);
    const ScanProbe saved{l.ucMBFlag ? l.usPortNumber : 0, l.ulBaudRate == 1 ? 1 : 0, l.usParity <= 2 ? l.usParity : 0,
                          l.slaveAddress};
    gatewayDevice_.clear();
    gatewayText_.clear();
    begin(app, ScanPlan(ports, saved), ports);
    return true;
}

bool TransmitterScan::StartGateway(App& app)
{
    if (running_)
        return false;
    const std::string device = SettingsDeviceName(app);
    if (device.empty())
        return false;
    LinkState& l = app.link;
    if (!l.ucMBFlag)
        RecallChangedSerialSettings(app);
    // The connection stands on the link's port number, as the polls' does.
    const int port = l.usPortNumber >= 1 && l.usPortNumber <= 99 ? l.usPortNumber : 1;
    gatewayDevice_ = device;
    gatewayText_ = LinkDeviceTextOf(app);
    begin(app, GatewayScanPlan(port, l.slaveAddress), {port});
    return true;
}

void TransmitterScan::begin(App& app, std::vector<ScanProbe> plan, std::vector<int> ports)
{
    plan_ = std::move(plan);
    indexLastProbes();
    ports_ = std::move(ports);
    finds_.clear();
    skipped_.clear();
    claimed_.clear();
    next_ = 0;
    overhead_ = 0;
    cancelled_ = false;
    running_ = true;
    link_ = LinkState{};
    ShowLinkState(app, false, kMsgScanning);
}

TransmitterScan::StepResult TransmitterScan::Step(App& app)
{
    if (!running_)
        return StepResult::Finished;
    // A poll or a write under way (or a probe) has the line: a probe started now would go out
    // in the middle of that exchange.
    if (inStep_ || app.engine.busy() || app.engine.waiting() > 0)
        return StepResult::NotNow;
    if (next_ >= plan_.size()) {
        finish(app);
        return StepResult::Finished;
    }
    probe(app);
    return running_ ? StepResult::Probed : StepResult::Finished;
}

Job TransmitterScan::probe(App& app)
{
    platform::Rs232& com = app.io.com;
    platform::Clock& clock = app.io.clock;
    const ScanProbe p = plan_[next_];
    inStep_ = true;
    auto lease = co_await app.engine.Acquire();
    const double startedAt = clock.now();
    // A port another program holds is left alone; one the scan takes gets its line settings
    // back when the scan leaves it.
    // Cancelled (or the program closing) while it waited for the line: nothing is sent.
    const bool go = lease && !cancelled_;
    int err = 0;
    // A gateway's connection is the program's alone: there is nothing to claim.
    if (go && !p.gateway && !claimed_.count(p.port)) {
        err = com.ClaimCom(p.port);
        if (err == 0)
            claimed_.insert(p.port);
    }
    while (go && err == 0) {
        // Opening an open port reconfigures it and discards both queues, so a late answer to
        // the previous probe cannot pass for this one's.
        com.OpenComConfig(p.port, p.gateway ? gatewayDevice_ : "", BaudRateOf(static_cast<std::uint32_t>(p.baud)),
                          ParityCodeOf(static_cast<std::uint16_t>(p.parity)), 8, 1, 512, -1);
        err = com.ReturnRS232Err();
        // A connection still being made is looked at again shortly; the link gives up on it
        // after its own time limit.
        if (err != platform::RS_ERR_CONNECTING || cancelled_ || app.engine.closing())
            break;
        err = 0;
        co_await app.engine.Sleep(kConnectLookSeconds);
    }
    if (go && err < 0) {
        skip(app, p.port, err);
    } else if (go) {
        // One read of the model register, through the link's one call; it ends as soon as a
        // whole reply is in, at the probe's wait at the latest.
        MasterIo io{com, clock};
        const double wait = ProbeWait(p);
        const long baud = BaudRateOf(static_cast<std::uint32_t>(p.baud));
        const RtuResult r = co_await app.engine.Exchange([&] {
            return StartReadHoldingRegisters(link_, io, p.port, static_cast<std::uint8_t>(p.address),
                                             reg::kSensorType - 1,  // the wire counts registers from 0
                                             1, ReplyWait{wait, true, baud, p.parity != 0});
        });
        // Whatever answered is classified: the reply taken, or else the bytes that waited.
        std::vector<std::uint8_t> bytes = r.reply;
        if (bytes.empty()) {
            const int waiting = com.GetInQLen(p.port);
            if (waiting > 0) {
                bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(waiting), kFrameBufferSize));
                const int n = com.ComRd(p.port, bytes.data(), static_cast<int>(bytes.size()));
                bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            }
        }
        if (auto f = ClassifyProbeReply(p, bytes.data(), bytes.size())) {
            f->device = com.DevicePath(p.port);
            if (p.gateway)
                f->linkDevice = gatewayDevice_;
            finds_.push_back(std::move(*f));
        }
        overhead_ += std::max(0.0, clock.now() - startedAt - wait);
        ++next_;
        if (lastProbe_[p.port] < next_)
            leave(app, p.port);
    }
    inStep_ = false;
    if (running_ && (cancelled_ || !lease || next_ >= plan_.size()))
        finish(app);
    if (onProbeEnded)
        onProbeEnded();
}

void TransmitterScan::Cancel(App& app)
{
    if (!running_)
        return;
    cancelled_ = true;
    // Inside a probe the probe ends first; the step then finishes the scan.
    if (!inStep_)
        finish(app);
}

void TransmitterScan::skip(App& app, int port, int error)
{
    platform::Rs232& com = app.io.com;
    if (!gatewayDevice_.empty())
        skipped_.push_back(gatewayText_ + ": " + com.GetRS232ErrorString(error) + " — skipped");
    else
        skipped_.push_back(error == platform::RS_ERR_BUSY
                           ? "COM" + std::to_string(port) + " (" + platform::ResolveComPort(port) +
                                 "): busy, in use by another program — skipped"
                           : "COM" + std::to_string(port) + ": " + com.GetRS232ErrorString(error) + " — skipped");
    // A port that cannot be probed answers nothing: its other probes go too.
    const auto rest = std::remove_if(plan_.begin() + static_cast<std::ptrdiff_t>(next_), plan_.end(),
                                     [&](const ScanProbe& q) { return q.port == port; });
    plan_.erase(rest, plan_.end());
    indexLastProbes();
    if (claimed_.count(port))
        leave(app, port);
}

void TransmitterScan::leave(App& app, int port)
{
    app.io.com.ReleaseCom(port);
    claimed_.erase(port);
    const LinkState& l = app.link;
    if (!(l.ucMBFlag && port == l.usPortNumber))
        app.io.com.CloseCom(port);
}

void TransmitterScan::indexLastProbes()
{
    lastProbe_.clear();
    for (std::size_t i = 0; i < plan_.size(); ++i)
        lastProbe_[plan_[i].port] = i;
}

void TransmitterScan::finish(App& app)
{
    running_ = false;
    while (!claimed_.empty())
        leave(app, *claimed_.begin());
    LinkState& l = app.link;
    // The ports go back as they were: the program's own reopened with its settings (the
    // next poll would do it anyway), the others closed.
    for (int port : ports_) {
        if (l.ucMBFlag && port == l.usPortNumber)
            OpenLinkPort(app);
        else
            app.io.com.CloseCom(port);
    }
    ShowLinkState(app, false, "");
}

std::string TransmitterScan::TryingText() const
{
    if (plan_.empty())
        return {};
    const ScanProbe& p = plan_[std::min(next_, plan_.size() - 1)];
    return (p.gateway ? gatewayText_ : LineText(p)) + ", address " + std::to_string(p.address);
}

int TransmitterScan::transmitters() const
{
    return static_cast<int>(std::count_if(finds_.begin(), finds_.end(),
                                          [](const ScanFind& f) { return f.kind == ScanFindKind::Transmitter; }));
}

std::string TransmitterScan::FoundText() const
{
    const int found = transmitters();
    std::string text = CountOf(found, "transmitter", "transmitters") + " found";
    if (const std::size_t other = finds_.size() - static_cast<std::size_t>(found); other > 0)
        text += ", and something else answered " + CountOf(static_cast<long long>(other), "time", "times") +
                ": see the orange rows";
    return text;
}

double TransmitterScan::SecondsLeft() const
{
    double left = 0;
    for (std::size_t i = next_; i < plan_.size(); ++i)
        left += ProbeWait(plan_[i]);
    if (next_ > 0)
        left += overhead_ / static_cast<double>(next_) * static_cast<double>(plan_.size() - next_);
    return left;
}

bool UseScanFind(App& app, const ScanFind& find)
{
    if (app.scan.running())
        app.scan.Cancel(app);
    auto& ui = app.io.panels;
    AppState& st = app.st;
    LinkState& l = app.link;
    const ScanProbe& p = find.at;
    const int previousPort = l.usPortNumber;
    l.usPortNumber = static_cast<std::uint16_t>(p.port);
    // Through a gateway the line settings are the gateway's: the serial ones stay as they are.
    if (!p.gateway) {
        l.ulBaudRate = static_cast<std::uint32_t>(p.baud);
        l.usParity = static_cast<std::uint16_t>(p.parity);
    }
    l.ucMBFlag = 1;
    l.slaveAddress = p.address;
    ui.SetCtrlVal(st.panelMain, PANEL_SLAVE_ADDRESS, p.address);
    // The settings window shows them whether it is open or not; a closed one has a hidden
    // copy stand in, as the recall at start has.
    if (!ui.panel(st.panelRs485))
        st.panelRs485 = ui.LoadPanel(0, kResourceFile, PANEL_2);
    ui.SetCtrlVal(st.panelRs485, PANEL_2_COMPORT, p.port);
    ui.SetCtrlVal(st.panelRs485, PANEL_2_Porta, p.port);
    if (p.gateway) {
        // The gateway the find came through becomes the program's connection, whatever the
        // window shows meanwhile.
        SetNetworkSettings(app, find.linkDevice);
    } else {
        ui.SetCtrlVal(st.panelRs485, PANEL_2_BAUD_RATE, p.baud);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_PARITY, p.parity);
        // A find on a serial port replaces a network connection chosen before.
        st.network.kind = 0;
        ui.SetCtrlVal(st.panelRs485, PANEL_2_CONNECTION, 0);
    }
    ApplyNetworkSettings(app);
    // The running link takes them as "Apply" gives them, once the scan's last probe has ended.
    ReopenLinkPort(app, previousPort, true);
    if (ui.SavePanelState(st.panelRs485, st.settingsFileName, st.settingsStateIndex) < 0) {
        app.io.MessagePopup("Error message", "The settings could not be saved to \"" + st.settingsFileName + "\".");
        return false;
    }
    return true;
}

ScanUse ScanUseOf(const ScanFind& find)
{
    switch (find.kind) {
    case ScanFindKind::Transmitter: return ScanUse::Take;
    case ScanFindKind::Refused: return ScanUse::Ask;
    default: return ScanUse::Refuse;
    }
}

std::string ScanUseText(const ScanFind& find)
{
    const std::string address = std::to_string(find.at.address);
    switch (find.kind) {
    case ScanFindKind::Transmitter: return {};
    case ScanFindKind::Refused:
        return "The slave at address " + address + ", " + LineText(find.at) + ", refused the read with " +
               exceptionText(find.exceptionCode) +
               ". It may be another kind of device; the program's polls would be refused the same way. Use it "
               "anyway?";
    case ScanFindKind::OtherAddress:
        return "The probe of address " + address + " on " + LineText(find.at) + " was answered from address " +
               std::to_string(find.answeredAddress) + ": nothing answers as address " + address +
               " there, so there is nothing to poll. Two slaves may share an address, or one answers for another.";
    case ScanFindKind::Damaged: break;
    }
    return "The answer to the probe of address " + address + " on " + LineText(find.at) +
           " was damaged (bad CRC or wrong length): no slave can be polled reliably there. Check the wiring, its "
           "termination, and the baud rate.";
}

ScanUseOutcome UseScanFindAsked(App& app, const ScanFind& find)
{
    switch (ScanUseOf(find)) {
    case ScanUse::Take: break;
    case ScanUse::Ask:
        if (!app.io.ConfirmPopup("Find Transmitter", ScanUseText(find)))
            return ScanUseOutcome::Declined;
        break;
    case ScanUse::Refuse: app.io.MessagePopup("Find Transmitter", ScanUseText(find)); return ScanUseOutcome::Refused;
    }
    return UseScanFind(app, find) ? ScanUseOutcome::Used : ScanUseOutcome::NotSaved;
}

int Find_Transmitter(App& app, int /*panel*/, int /*control*/, int event)
{
    if (event == EVENT_COMMIT && app.windows)
        app.windows->ShowFindTransmitter();
    return 0;
}

}  // namespace vek
