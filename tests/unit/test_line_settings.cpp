// The step from the line's settings to the termios attributes the port gets, row by row:
// nothing else checks it, since a pseudo-terminal cannot carry parity.
#include <gtest/gtest.h>

#include <termios.h>

#include <ostream>
#include <string>

#include "posix_rs232.h"

using namespace vek::platform;

namespace {

struct Row {
    long baud;
    int parity, dataBits, stopBits;
    speed_t speed;
    bool parenb, parodd;
    tcflag_t csize;
    bool cstopb;
};

const char* parityName(int parity)
{
    return parity == RS_PARITY_EVEN ? "even" : parity == RS_PARITY_ODD ? "odd" : "none";
}

// A case's name, "9600_even_7data_1stop", and how a failure shows its row, "9600 baud, even
// parity, 7 data bits, 1 stop bit": gtest would otherwise print the struct's bytes,
// padding included, which differ from run to run.
std::string nameOf(const ::testing::TestParamInfo<Row>& info)
{
    const Row& r = info.param;
    return std::to_string(r.baud) + "_" + parityName(r.parity) + "_" + std::to_string(r.dataBits) + "data_" +
           std::to_string(r.stopBits) + "stop";
}

void PrintTo(const Row& r, std::ostream* os)
{
    *os << r.baud << " baud, " << (r.parity == RS_PARITY_NONE ? "no" : parityName(r.parity)) << " parity, "
        << r.dataBits << " data bits, " << r.stopBits << (r.stopBits == 1 ? " stop bit" : " stop bits");
}

// Attributes a device may come with: every bit the line must not keep is set.
termios dirtyBase()
{
    termios t{};
    t.c_cflag = CS5 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
    t.c_iflag = IXON | IXOFF | IXANY | ICRNL | ISTRIP;
    t.c_oflag = OPOST;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 10;
    ::cfsetispeed(&t, B1200);
    ::cfsetospeed(&t, B1200);
    return t;
}

struct LineSettings : ::testing::TestWithParam<Row> {};

}  // namespace

TEST_P(LineSettings, ReachTheAttributesExactly)
{
    const Row& r = GetParam();
    const auto line = LineTermios(dirtyBase(), r.baud, r.parity, r.dataBits, r.stopBits);
    ASSERT_TRUE(line.has_value());
    const termios& t = *line;
    EXPECT_EQ(::cfgetospeed(&t), r.speed);
    EXPECT_EQ(::cfgetispeed(&t), r.speed);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, r.parenb);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, r.parodd);
    EXPECT_EQ(t.c_cflag & CSIZE, r.csize);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.cstopb);

    // Raw, with no flow control of either kind, and a read returns what waits.
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

// Every combination the settings window offers.
INSTANTIATE_TEST_SUITE_P(EveryChoice, LineSettings,
                         ::testing::Values(
                             //  baud  parity          data stop  speed   PARENB PARODD CSIZE CSTOPB
                             Row{9600, RS_PARITY_NONE, 7, 1, B9600, false, false, CS7, false},
                             Row{9600, RS_PARITY_NONE, 7, 2, B9600, false, false, CS7, true},
                             Row{9600, RS_PARITY_NONE, 8, 1, B9600, false, false, CS8, false},
                             Row{9600, RS_PARITY_NONE, 8, 2, B9600, false, false, CS8, true},
                             Row{9600, RS_PARITY_EVEN, 7, 1, B9600, true, false, CS7, false},
                             Row{9600, RS_PARITY_EVEN, 7, 2, B9600, true, false, CS7, true},
                             Row{9600, RS_PARITY_EVEN, 8, 1, B9600, true, false, CS8, false},
                             Row{9600, RS_PARITY_EVEN, 8, 2, B9600, true, false, CS8, true},
                             Row{9600, RS_PARITY_ODD, 7, 1, B9600, true, true, CS7, false},
                             Row{9600, RS_PARITY_ODD, 7, 2, B9600, true, true, CS7, true},
                             Row{9600, RS_PARITY_ODD, 8, 1, B9600, true, true, CS8, false},
                             Row{9600, RS_PARITY_ODD, 8, 2, B9600, true, true, CS8, true},
                             Row{19200, RS_PARITY_NONE, 7, 1, B19200, false, false, CS7, false},
                             Row{19200, RS_PARITY_NONE, 7, 2, B19200, false, false, CS7, true},
                             Row{19200, RS_PARITY_NONE, 8, 1, B19200, false, false, CS8, false},
                             Row{19200, RS_PARITY_NONE, 8, 2, B19200, false, false, CS8, true},
                             Row{19200, RS_PARITY_EVEN, 7, 1, B19200, true, false, CS7, false},
                             Row{19200, RS_PARITY_EVEN, 7, 2, B19200, true, false, CS7, true},
                             Row{19200, RS_PARITY_EVEN, 8, 1, B19200, true, false, CS8, false},
                             Row{19200, RS_PARITY_EVEN, 8, 2, B19200, true, false, CS8, true},
                             Row{19200, RS_PARITY_ODD, 7, 1, B19200, true, true, CS7, false},
                             Row{19200, RS_PARITY_ODD, 7, 2, B19200, true, true, CS7, true},
                             Row{19200, RS_PARITY_ODD, 8, 1, B19200, true, true, CS8, false},
                             Row{19200, RS_PARITY_ODD, 8, 2, B19200, true, true, CS8, true}),
                         nameOf);

TEST(LineSettingsRefused, SettingsNoLineTakes)
{
    const termios base = dirtyBase();
    EXPECT_FALSE(LineTermios(base, 9601, RS_PARITY_NONE, 8, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 0, RS_PARITY_NONE, 8, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, 3, 8, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, -1, 8, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, RS_PARITY_NONE, 9, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, RS_PARITY_NONE, 4, 1).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, RS_PARITY_NONE, 8, 0).has_value());
    EXPECT_FALSE(LineTermios(base, 9600, RS_PARITY_NONE, 8, 3).has_value());
}
