// Where the traffic is recorded: right after each exchange, from the link's own buffers and
// the outcome the program drew, so the rows show exactly what went out and what was taken.
// Recording reads the link's state and the port's queue only; nothing goes on the wire.
#include <algorithm>
#include <cmath>

#include "traffic_record.h"
#include "vek_app.h"

namespace vek {

double WallNow(App& app)
{
    AppState& st = app.st;
    const double mono = app.io.clock.now();
    if (!st.wallOffsetSet) {
        // The wall clock comes in whole seconds; pairing it with the whole seconds of the
        // monotonic clock keeps the fraction the monotonic clock adds.
        st.wallOffset = static_cast<double>(app.io.clock.wallTime()) - std::floor(mono);
        st.wallOffsetSet = true;
    }
    return st.wallOffset + mono;
}

namespace {

TrafficKind kindOf(const ExchangeOutcome& o, bool portFailed)
{
    if (portFailed && !o.valid())
        return TrafficKind::SerialError;
    switch (o.result) {
    case ExchangeResult::Valid: return TrafficKind::Valid;
    case ExchangeResult::NoResponse: return TrafficKind::NoResponse;
    case ExchangeResult::Exception: return TrafficKind::Exception;
    case ExchangeResult::FailedChecks: return TrafficKind::FailedCheck;
    case ExchangeResult::SerialError: return TrafficKind::SerialError;
    }
    return TrafficKind::NoResponse;
}

}  // namespace

void RecordExchange(App& app, double sentAt, const RtuResult& result, bool portFailed)
{
    const LinkState& l = app.link;
    const ExchangeOutcome& outcome = result.outcome;
    TrafficRecorder& rec = app.traffic;
    const double takenAt = WallNow(app);
    const bool failed = !outcome.valid();
    // Through a port that could not be opened the request never reached the line: the row
    // shows what the program would have sent, and says so.
    // Through a Modbus TCP gateway the rows show the frames as they went over the wire.
    const platform::WireFrames wire = portFailed ? platform::WireFrames{} : app.io.com.LastWireFrames();
    const bool mbapRequest = !wire.request.empty();
    const std::vector<std::uint8_t>& request = mbapRequest ? wire.request : result.request;
    rec.Record(sentAt, true, request.data(), request.size(), TrafficKind::Request, failed,
               portFailed ? kNotSentText : "sent", -1, mbapRequest);

    const TrafficKind kind = kindOf(outcome, portFailed);
    std::string text = outcome.valid() ? std::string("valid") : l.commErrorText;
    std::vector<std::uint8_t> bytes = result.reply;
    switch (kind) {
    case TrafficKind::Valid:
    case TrafficKind::FailedCheck: break;
    case TrafficKind::Exception: {
        const std::string name = ExceptionName(outcome.exceptionCode);
        if (!name.empty())
            text += " " + name;
        break;
    }
    case TrafficKind::NoResponse: {
        // What waited stays queued for the port's reopening to discard; a peek shows it
        // without taking it.
        bytes.clear();
        const int waiting = app.io.com.GetInQLen(l.usPortNumber);
        if (waiting > 0) {
            bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(waiting), kFrameBufferSize));
            const int n = app.io.com.ComPeek(l.usPortNumber, bytes.data(), static_cast<int>(bytes.size()));
            bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        if (!bytes.empty())
            text += " (" + CountOf(static_cast<long long>(bytes.size()), "byte", "bytes") + " waited)";
        break;
    }
    case TrafficKind::SerialError:
    case TrafficKind::Request: bytes.clear(); break;
    }
    // The reply taken for the request, as it came; whatever else stays in its serial form.
    const bool mbapReply = mbapRequest && !result.reply.empty() && !wire.reply.empty() && bytes == result.reply;
    if (mbapReply)
        bytes = wire.reply;
    rec.Record(takenAt, false, bytes.data(), bytes.size(), kind, failed, text, (takenAt - sentAt) * 1000.0, mbapReply);
}

int Show_Traffic(App& app, int /*panel*/, int /*control*/, int event)
{
    if (event == EVENT_COMMIT && app.windows)
        app.windows->ShowTraffic();
    return 0;
}

int Show_Trend(App& app, int /*panel*/, int /*control*/, int event)
{
    if (event == EVENT_COMMIT && app.windows)
        app.windows->ShowTrend();
    return 0;
}

}  // namespace vek
