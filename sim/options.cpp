#include "options.h"

#include <charconv>

#include "image_file.h"

namespace vek::sim {

namespace {

template <typename T>
std::optional<T> whole(std::string_view s, T lo, T hi)
{
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || v < lo || v > hi)
        return std::nullopt;
    return v;
}

// "VALUE" or "VALUE,RULE": the value of a fault and, optionally, when it happens.
bool splitValueRule(std::string_view text, std::string_view& value, FaultRule& rule, std::string& error)
{
    const auto comma = text.find(',');
    value = text.substr(0, comma);
    if (comma == std::string_view::npos) {
        rule = FaultRule::probability(1.0);
        return true;
    }
    auto parsed = FaultRule::parse(text.substr(comma + 1), &error);
    if (!parsed)
        return false;
    rule = *parsed;
    return true;
}

}  // namespace

std::string usage(std::string_view program)
{
    std::string u = "Usage: " + std::string(program) + " [OPTION]...\n";
    u += R"(Plays an echo-ranging level transmitter (Modbus RTU slave) on a pseudo-terminal or a
serial device. Prints the device the master should open as the first line on stdout.

Port and line:
  --device PATH          serve this serial device instead of a new pseudo-terminal
  --link PATH            also make PATH a symbolic link to the pseudo-terminal (removed at exit)
  --baud 9600|19200      line speed (default 9600, or register 75 of the image)
  --parity none|even|odd parity (default none, or register 74 of the image)
  --tcp PORT             serve a network connection on this TCP port instead of a serial line,
                         as an Ethernet gateway with the transmitter behind it (one master at a
                         time; 0 picks a free port); prints HOST:PORT as the first line
  --tcp-kind rtu|mbap    rtu: the serial frames, CRC included (default); mbap: Modbus TCP, the
                         MBAP header and no CRC, the reply carrying the request's transaction id
  --tcp-host ADDRESS     the address to listen on (default 127.0.0.1)
  --slave N              slave address 1..247 (default 1, or register 25 of the image)
  --second-slave N       a second transmitter on the same line at address N (same image and
                         line settings, no faults): for masters that look for more than one
  --check-baud           ignore requests the master sends at another speed (pseudo-terminal only)
  --no-pacing            send replies at once instead of one character time per byte
  --turnaround-ms MS     pause between request and reply when pacing (default 3)

Transmitter:
  --image FILE.json      start from this register image instead of the factory one
  --model CODE           model code in register 68 (default 17, the 5 m gauge)
  --static               serve the image as it is: no filling tank, drift or relay logic
  --seed N               seed for the tank's noise and random faults (default: random, printed)
  --warnings LIST        raise warnings: temp, noecho, gain, dist, blind (noecho and dist),
                         comma-separated, each optionally @FROM-TO seconds after start

Faults (RULE is a probability from 0 to 1, or every:N for every N-th request):
  --drop RULE            lose the request: no reply, nothing carried out
  --delay-ms MS[,RULE]   answer MS milliseconds late
  --corrupt-crc RULE     answer with a wrong CRC
  --wrong-slave RULE     answer with another slave's address
  --short RULE           answer one byte short
  --long RULE            answer one byte long
  --noise RULE           send a few garbage bytes right before the answer
  --exception CODE[,RULE] answer with this exception code instead of carrying out the request
  --refuse-write LIST    refuse writes to these registers (1 to 78, comma-separated) with
                         exception 04, every time; reads of them are answered as usual
  --hangup-after N       close the port after the N-th request, as an unplugged adapter (with
                         --tcp: close the connection and stop listening)
  --close-after N        with --tcp: close the connection after every N-th request's reply,
                         then take the next one, as a gateway that drops its masters
  --return-after-ms MS   and bring it back (same --link path) MS milliseconds later

Other:
  --log FILE             record every frame and write as JSON lines with monotonic timestamps
  --help                 show this help and exit
  --version              show the version and exit

With --tcp-kind mbap, --corrupt-crc has no effect (the wire carries no CRC), --noise
garbles the first bytes of the reply and --short and --long change its PDU.

Stops on SIGINT or SIGTERM with exit status 0; bad options or image files exit with 2.
)";
    return u;
}

std::string versionLine(std::string_view program) { return std::string(program) + " " + VEK_VERSION + "\n"; }

OptionsResult parseOptions(const std::vector<std::string>& args)
{
    OptionsResult r;
    Options& o = r.options;
    auto fail = [&r](std::string msg) {
        r.ok = false;
        r.error = std::move(msg);
        return r;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        bool missing = false;
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            missing = true;
            return {};
        };
        auto flag = [&]() { return !inlineValue; };
        auto rule = [&](FaultRule& target) {
            const std::string v = value();
            if (missing)
                return false;
            std::string err;
            auto parsed = FaultRule::parse(v, &err);
            if (!parsed) {
                r.error = name + ": " + err;
                return false;
            }
            target = *parsed;
            return true;
        };
        auto needValue = [&] { return name + " needs a value"; };

        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--version") {
            if (!flag())
                return fail("--version takes no value");
            o.version = true;
        } else if (name == "--device") {
            o.device = value();
            if (missing || o.device->empty())
                return fail(needValue());
        } else if (name == "--link") {
            o.link = value();
            if (missing || o.link->empty())
                return fail(needValue());
        } else if (name == "--tcp") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.tcpPort = whole<int>(v, 0, 65535);
            if (!o.tcpPort)
                return fail("--tcp: '" + v + "' is not a TCP port from 0 to 65535");
        } else if (name == "--tcp-kind") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            if (v != "rtu" && v != "mbap")
                return fail("--tcp-kind: '" + v + "' is not rtu or mbap");
            o.tcpKind = v == "rtu" ? TcpKind::Rtu : TcpKind::Mbap;
        } else if (name == "--tcp-host") {
            o.tcpHost = value();
            if (missing || o.tcpHost->empty())
                return fail(needValue());
        } else if (name == "--close-after") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.closeAfter = whole<std::uint64_t>(v, 1, UINT64_MAX);
            if (!o.closeAfter)
                return fail("--close-after: '" + v + "' is not a count of at least 1");
        } else if (name == "--image") {
            o.imagePath = value();
            if (missing || o.imagePath->empty())
                return fail(needValue());
        } else if (name == "--log") {
            o.logPath = value();
            if (missing || o.logPath->empty())
                return fail(needValue());
        } else if (name == "--baud") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            if (v != "9600" && v != "19200")
                return fail("--baud: '" + v + "' is not 9600 or 19200");
            o.baud = v == "9600" ? 9600u : 19200u;
        } else if (name == "--parity") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.parity = parseParity(v);
            if (!o.parity)
                return fail("--parity: '" + v + "' is not none, even or odd");
        } else if (name == "--slave") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.slave = whole<int>(v, 1, 247);
            if (!o.slave)
                return fail("--slave: '" + v + "' is not an address from 1 to 247");
        } else if (name == "--second-slave") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.secondSlave = whole<int>(v, 1, 247);
            if (!o.secondSlave)
                return fail("--second-slave: '" + v + "' is not an address from 1 to 247");
        } else if (name == "--model") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.model = whole<std::uint16_t>(v, 0, 65535);
            if (!o.model)
                return fail("--model: '" + v + "' is not a code from 0 to 65535");
        } else if (name == "--seed") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.seed = whole<std::uint64_t>(v, 0, UINT64_MAX);
            if (!o.seed)
                return fail("--seed: '" + v + "' is not a whole number");
        } else if (name == "--warnings") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            std::string err;
            auto s = WarningSchedule::parse(v, &err);
            if (!s)
                return fail("--warnings: " + err);
            o.warnings = *s;
        } else if (name == "--static") {
            if (!flag())
                return fail("--static takes no value");
            o.staticImage = true;
        } else if (name == "--no-pacing") {
            if (!flag())
                return fail("--no-pacing takes no value");
            o.pacing = false;
        } else if (name == "--check-baud") {
            if (!flag())
                return fail("--check-baud takes no value");
            o.checkBaud = true;
        } else if (name == "--turnaround-ms") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            const auto ms = whole<unsigned>(v, 0, 1000);
            if (!ms)
                return fail("--turnaround-ms: '" + v + "' is not a time from 0 to 1000 ms");
            o.turnaroundMs = *ms;
        } else if (name == "--drop") {
            if (!rule(o.faults.drop))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--corrupt-crc") {
            if (!rule(o.faults.corruptCrc))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--wrong-slave") {
            if (!rule(o.faults.wrongSlave))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--short") {
            if (!rule(o.faults.shortReply))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--long") {
            if (!rule(o.faults.longReply))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--noise") {
            if (!rule(o.faults.noise))
                return fail(r.error.empty() ? needValue() : r.error);
        } else if (name == "--delay-ms") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            std::string_view ms;
            std::string err;
            if (!splitValueRule(v, ms, o.faults.delay, err))
                return fail("--delay-ms: " + err);
            const auto n = whole<unsigned>(ms, 1, 600'000);
            if (!n)
                return fail("--delay-ms: '" + std::string(ms) + "' is not a delay from 1 to 600000 ms");
            o.faults.delayMs = *n;
        } else if (name == "--exception") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            std::string_view code;
            std::string err;
            if (!splitValueRule(v, code, o.faults.exception, err))
                return fail("--exception: " + err);
            const auto c = whole<unsigned>(code, 1, 255);
            if (!c)
                return fail("--exception: '" + std::string(code) + "' is not an exception code from 1 to 255");
            o.faults.exceptionCode = static_cast<std::uint8_t>(*c);
        } else if (name == "--refuse-write") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            std::string_view rest = v;
            while (true) {
                const std::size_t comma = rest.find(',');
                const std::string_view item = rest.substr(0, comma);
                const auto n = whole<int>(item, 1, 78);
                if (!n)
                    return fail("--refuse-write: '" + std::string(item) + "' is not a register from 1 to 78");
                o.faults.refuseWrites.insert(*n);
                if (comma == std::string_view::npos)
                    break;
                rest = rest.substr(comma + 1);
            }
        } else if (name == "--hangup-after") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.faults.hangupAfter = whole<std::uint64_t>(v, 1, UINT64_MAX);
            if (!o.faults.hangupAfter)
                return fail("--hangup-after: '" + v + "' is not a count of at least 1");
        } else if (name == "--return-after-ms") {
            const std::string v = value();
            if (missing)
                return fail(needValue());
            o.faults.returnAfterMs = whole<unsigned>(v, 0, 3'600'000);
            if (!o.faults.returnAfterMs)
                return fail("--return-after-ms: '" + v + "' is not a time from 0 to 3600000 ms");
        } else {
            return fail("unknown option '" + args[i] + "'");
        }
    }
    if (o.help) {
        r.ok = true;
        return r;
    }
    if (o.device && o.link)
        return fail("--link makes a link to a pseudo-terminal; it cannot be used with --device");
    if (o.device && o.checkBaud)
        return fail("--check-baud only applies to a pseudo-terminal; a real port checks the speed itself");
    if (!o.tcpPort && (o.tcpKind || o.tcpHost || o.closeAfter))
        return fail(std::string(o.tcpKind ? "--tcp-kind" : o.tcpHost ? "--tcp-host" : "--close-after") +
                    " needs --tcp");
    if (o.tcpPort && (o.device || o.link || o.checkBaud))
        return fail(std::string(o.device ? "--device" : o.link ? "--link" : "--check-baud") +
                    " is for a serial line; it cannot be used with --tcp");
    if (o.faults.returnAfterMs && !o.faults.hangupAfter)
        return fail("--return-after-ms needs --hangup-after");
    r.ok = true;
    return r;
}

Startup resolveStartup(const Options& o, std::uint64_t seed)
{
    Startup s;
    s.image = RegisterImage::defaults();
    if (o.imagePath) {
        const ImageLoad load = loadImageFile(*o.imagePath, s.image);
        if (!load.ok) {
            s.error = load.error;
            return s;
        }
    }
    if (o.slave)
        s.image.set(reg::kUid, static_cast<std::uint16_t>(*o.slave));
    if (o.parity)
        s.image.set(reg::kParity, parityCode(*o.parity));
    if (o.baud)
        s.image.set(reg::kBaud, baudCode(*o.baud));
    if (o.model)
        s.image.set(reg::kModel, *o.model);

    const std::uint16_t uid = s.image.get(reg::kUid);
    if (uid < 1 || uid > 247) {
        s.error = "register 25 (slave address) is " + std::to_string(uid) + ", not 1 to 247";
        return s;
    }
    const auto parity = parityFromCode(s.image.get(reg::kParity));
    if (!parity) {
        s.error = "register 74 (parity) is " + std::to_string(s.image.get(reg::kParity)) + ", not 0, 1 or 2";
        return s;
    }
    const auto baud = baudFromCode(s.image.get(reg::kBaud));
    if (!baud) {
        s.error = "register 75 (baud rate) is " + std::to_string(s.image.get(reg::kBaud)) + ", not 0 or 1";
        return s;
    }

    s.engine.address = static_cast<std::uint8_t>(uid);
    s.engine.line = LineSettings{*baud, *parity};
    s.engine.pacing = o.pacing;
    s.engine.turnaround = static_cast<Micros>(o.turnaroundMs) * 1000;
    s.engine.checkBaud = o.checkBaud;
    s.engine.faults = o.faults;
    s.engine.seed = seed;
    if (o.secondSlave) {
        if (*o.secondSlave == uid) {
            s.error = "--second-slave " + std::to_string(*o.secondSlave) + " is the first transmitter's address too";
            return s;
        }
        s.secondEngine = s.engine;
        s.secondEngine->address = static_cast<std::uint8_t>(*o.secondSlave);
        s.secondEngine->faults = FaultConfig{};
        s.secondEngine->seed = seed ^ 0x5EC0DDull;
        s.secondImage = s.image;
        s.secondImage.set(reg::kUid, static_cast<std::uint16_t>(*o.secondSlave));
    }
    s.ok = true;
    return s;
}

}  // namespace vek::sim
