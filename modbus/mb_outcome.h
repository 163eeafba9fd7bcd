// What one request/reply exchange came to, as a value: the application decides how to show
// it (message, lamp, counters); the link never touches a window.
#pragma once
#include <cstdint>
#include <string>

namespace vek {

enum class ExchangeResult {
    Valid,         // the reply passed every check
    NoResponse,    // nothing of the expected length waited, or nothing was sent
    Exception,     // the slave refused the request; exceptionCode says why
    FailedChecks,  // a reply of the right length that failed checks; failedChecks says which
    SerialError,   // the port reported an error while the reply was read
};

// Bits of ExchangeOutcome::failedChecks, in the order their markers are shown.
inline constexpr std::uint8_t kCheckAddress = 1;    // "-UID-": another slave answered
inline constexpr std::uint8_t kCheckFunction = 2;   // "-FUNCCODE-"
inline constexpr std::uint8_t kCheckByteCount = 4;  // "-BYTESNUM-": count, or a write's echo
inline constexpr std::uint8_t kCheckCrc = 8;        // "-CRC-"

struct ExchangeOutcome {
    ExchangeOutcome() = default;
    ExchangeOutcome(ExchangeResult r) : result(r) {}  // NOLINT(google-explicit-constructor): reads as the result

    ExchangeResult result = ExchangeResult::NoResponse;
    std::uint8_t exceptionCode = 0;
    std::uint8_t failedChecks = 0;
    std::string serialErrorText;  // the port's own words: device and cause

    bool valid() const { return result == ExchangeResult::Valid; }
};

// The link's message for an outcome: "" when valid, "-NO RESPONSE-", "-EXCEPTION n-", the
// markers of every failed check in a fixed order, or the port's own text.
std::string OutcomeText(const ExchangeOutcome& outcome);

}  // namespace vek
