// The Windows platform layer where it needs no serial device: the line settings a port
// gets, the names ports open by, the port calls' answers before and without a device, and
// the file service on the real file system. Run under wine by scripts/windows --test; the
// serial calls on a real line are tried there against the simulator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "files.h"
#include "win32_rs232.h"

using namespace vek::platform;
namespace fs = std::filesystem;

namespace {

// ---- LineDcb ------------------------------------------------------------------------

struct DcbRow {
    long baud;
    int parity, dataBits, stopBits;
    BYTE wantParity;
    bool parityCheck;
    BYTE wantStop;
};

const char* parityName(int parity)
{
    return parity == RS_PARITY_EVEN ? "even" : parity == RS_PARITY_ODD ? "odd" : "none";
}

std::string dcbName(const ::testing::TestParamInfo<DcbRow>& info)
{
    const DcbRow& r = info.param;
    return std::to_string(r.baud) + "_" + parityName(r.parity) + "_" + std::to_string(r.dataBits) + "data_" +
           std::to_string(r.stopBits) + "stop";
}

void PrintTo(const DcbRow& r, std::ostream* os)
{
    *os << r.baud << " baud, " << parityName(r.parity) << " parity, " << r.dataBits << " data bits, " << r.stopBits
        << " stop bits";
}

// What a device may come with: every flag the line must not keep is set.
DCB dirtyBase()
{
    DCB d{};
    d.DCBlength = 7;
    d.BaudRate = 1200;
    d.fBinary = FALSE;
    d.fParity = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fDsrSensitivity = TRUE;
    d.fTXContinueOnXoff = FALSE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.fErrorChar = TRUE;
    d.fNull = TRUE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fAbortOnError = TRUE;
    d.ByteSize = 5;
    d.Parity = MARKPARITY;
    d.StopBits = ONE5STOPBITS;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

class LineDcbRows : public ::testing::TestWithParam<DcbRow> {};

TEST_P(LineDcbRows, SetsTheLineAndClearsEveryFlowControl)
{
    const DcbRow& r = GetParam();
    const auto dcb = LineDcb(dirtyBase(), r.baud, r.parity, r.dataBits, r.stopBits);
    ASSERT_TRUE(dcb.has_value());
    EXPECT_EQ(dcb->DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb->BaudRate, static_cast<DWORD>(r.baud));
    EXPECT_EQ(dcb->ByteSize, r.dataBits);
    EXPECT_EQ(dcb->Parity, r.wantParity);
    EXPECT_EQ(static_cast<bool>(dcb->fParity), r.parityCheck);
    EXPECT_EQ(dcb->StopBits, r.wantStop);
    EXPECT_TRUE(dcb->fBinary);
    EXPECT_FALSE(dcb->fOutxCtsFlow);
    EXPECT_FALSE(dcb->fOutxDsrFlow);
    EXPECT_FALSE(dcb->fDsrSensitivity);
    EXPECT_FALSE(dcb->fOutX);
    EXPECT_FALSE(dcb->fInX);
    EXPECT_FALSE(dcb->fErrorChar);
    EXPECT_FALSE(dcb->fNull);
    EXPECT_FALSE(dcb->fAbortOnError);
    EXPECT_EQ(dcb->fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb->fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    // What the line does not decide stays as the device had it.
    EXPECT_EQ(dcb->XonChar, 0x11);
    EXPECT_EQ(dcb->XoffChar, 0x13);
}

INSTANTIATE_TEST_SUITE_P(Settings, LineDcbRows,
                         ::testing::Values(DcbRow{9600, RS_PARITY_NONE, 8, 1, NOPARITY, false, ONESTOPBIT},
                                           DcbRow{9600, RS_PARITY_EVEN, 8, 1, EVENPARITY, true, ONESTOPBIT},
                                           DcbRow{9600, RS_PARITY_ODD, 8, 1, ODDPARITY, true, ONESTOPBIT},
                                           DcbRow{19200, RS_PARITY_NONE, 8, 1, NOPARITY, false, ONESTOPBIT},
                                           DcbRow{19200, RS_PARITY_EVEN, 8, 1, EVENPARITY, true, ONESTOPBIT},
                                           DcbRow{19200, RS_PARITY_ODD, 8, 1, ODDPARITY, true, ONESTOPBIT},
                                           DcbRow{9600, RS_PARITY_EVEN, 7, 1, EVENPARITY, true, ONESTOPBIT},
                                           DcbRow{9600, RS_PARITY_NONE, 8, 2, NOPARITY, false, TWOSTOPBITS},
                                           DcbRow{19200, RS_PARITY_ODD, 7, 2, ODDPARITY, true, TWOSTOPBITS}),
                         dcbName);

struct BadRow {
    const char* name;
    long baud;
    int parity, dataBits, stopBits;
};

TEST(LineDcb, RefusesWhatNoLineTakes)
{
    const BadRow rows[] = {
        {"an odd baud rate", 9601, RS_PARITY_NONE, 8, 1}, {"no baud rate", 0, RS_PARITY_NONE, 8, 1},
        {"a parity code past even", 9600, 3, 8, 1},      {"a negative parity code", 9600, -1, 8, 1},
        {"nine data bits", 9600, RS_PARITY_NONE, 9, 1},  {"four data bits", 9600, RS_PARITY_NONE, 4, 1},
        {"no stop bit", 9600, RS_PARITY_NONE, 8, 0},     {"three stop bits", 9600, RS_PARITY_NONE, 8, 3},
    };
    for (const BadRow& r : rows)
        EXPECT_FALSE(LineDcb(DCB{}, r.baud, r.parity, r.dataBits, r.stopBits).has_value()) << r.name;
}

// ---- port names -----------------------------------------------------------------------

TEST(PortNames, OpenInTheDeviceNamespace)
{
    const struct {
        const char* path;
        const wchar_t* name;
    } rows[] = {
        {"COM1", L"\\\\.\\COM1"},
        {"COM9", L"\\\\.\\COM9"},
        {"COM12", L"\\\\.\\COM12"},  // only this form reaches ports past COM9
        {"com3", L"\\\\.\\com3"},
        {"\\\\.\\CNCA0", L"\\\\.\\CNCA0"},  // already a device name: kept
        {"COMX", L"COMX"},                   // not a port name
        {"COM", L"COM"},
        {"C:\\dev\\port", L"C:\\dev\\port"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Win32DeviceName(r.path), std::wstring(r.name)) << r.path;
}

class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : name_(name)
    {
        if (const char* v = std::getenv(name))
            old_ = v;
        ::_putenv_s(name, value.c_str());
    }
    ~EnvVar() { ::_putenv_s(name_, old_.c_str()); }

private:
    const char* name_;
    std::string old_;
};

TEST(PortNames, ComNIsTheWindowsPortUnlessTheEnvironmentNamesAnother)
{
    EXPECT_EQ(ResolveComPort(1), "COM1");
    EXPECT_EQ(ResolveComPort(9), "COM9");
    EXPECT_EQ(ResolveComPort(42), "COM42");
    EXPECT_EQ(ResolveComPort(0), "");
    EXPECT_EQ(ResolveComPort(100), "");
    {
        EnvVar v("VEK_COM7", "\\\\.\\CNCB0");
        EXPECT_EQ(ResolveComPort(7), "\\\\.\\CNCB0");
        EXPECT_EQ(ResolveComPort(6), "COM6");
    }
    EXPECT_EQ(ResolveComPort(7), "COM7");  // an empty variable names nothing
}

TEST(PortNames, AMissingDeviceIsNotPresent)
{
    EXPECT_FALSE(DeviceExists(""));
    EXPECT_FALSE(DeviceExists("COM97"));
    EnvVar v("VEK_COM8", "\\\\.\\VEK-NO-SUCH-DEVICE");
    EXPECT_FALSE(ComPortPresent(8));
}

// ---- system texts ---------------------------------------------------------------------

TEST(SystemTexts, AreOneLineWithoutAFullStop)
{
    for (DWORD err : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_DISK_FULL}}) {
        const std::string t = Win32ErrorText(err);
        EXPECT_FALSE(t.empty()) << err;
        EXPECT_EQ(t.find('\n'), std::string::npos) << t;
        EXPECT_EQ(t.find('\r'), std::string::npos) << t;
        EXPECT_NE(t.back(), '.') << t;
        EXPECT_NE(t.back(), ' ') << t;
    }
}

TEST(SystemTexts, Utf8RoundTrips)
{
    const std::string text = "Pegel \xC3\xA4 \xE2\x82\xAC log";  // "Pegel ä € log"
    const std::wstring wide = WideOf(text);
    EXPECT_EQ(wide, std::wstring(L"Pegel \u00E4 \u20AC log"));
    EXPECT_EQ(Utf8Of(wide), text);
    EXPECT_EQ(WideOf(""), std::wstring());
}

TEST(SystemTexts, DeviceGoneErrors)
{
    for (DWORD err : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_BAD_COMMAND}, DWORD{ERROR_GEN_FAILURE},
                      DWORD{ERROR_DEVICE_NOT_CONNECTED}, DWORD{ERROR_OPERATION_ABORTED}})
        EXPECT_TRUE(Win32DeviceGoneError(err)) << err;
    for (DWORD err : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_INVALID_PARAMETER}, DWORD{ERROR_IO_PENDING}})
        EXPECT_FALSE(Win32DeviceGoneError(err)) << err;
}

// ---- the port without a device ----------------------------------------------------------

fs::path scratch(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("vek-win-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(dir);
    return dir / name;
}

TEST(Win32Port, AnswersForAPortThatIsNotOpen)
{
    Win32Rs232 com;
    std::uint8_t b[4] = {};
    EXPECT_EQ(com.ComRd(3, b, 4), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.ComWrt(3, b, 4), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.ComPeek(3, b, 4), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.GetInQLen(3), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.SetComTime(3, 1.0), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.ReleaseCom(3), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.CloseCom(3), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.ReturnRS232Err(), RS_ERR_NOT_OPEN);
    EXPECT_EQ(com.DevicePath(3), "");
}

TEST(Win32Port, RefusesBadPortsAndSettingsBeforeTouchingADevice)
{
    Win32Rs232 com;
    EXPECT_EQ(com.OpenComConfig(0, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_INVALID_PORT);
    EXPECT_EQ(com.OpenComConfig(100, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_INVALID_PORT);
    EXPECT_EQ(com.ClaimCom(0), RS_ERR_INVALID_PORT);
    EXPECT_EQ(com.OpenComConfig(4, "", 9601, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_BAD_SETTINGS);
    EXPECT_EQ(com.ReturnRS232Err(), RS_ERR_BAD_SETTINGS);
    EXPECT_NE(com.GetRS232ErrorString(RS_ERR_BAD_SETTINGS).find("9601 baud"), std::string::npos);
    EXPECT_EQ(com.OpenComConfig(4, "", 9600, 5, 8, 1, 512, 512), RS_ERR_BAD_SETTINGS);
    EXPECT_EQ(com.DevicePath(4), "");
}

TEST(Win32Port, AMissingDeviceCannotBeOpenedAndIsNamed)
{
    EnvVar v("VEK_COM5", "\\\\.\\VEK-NO-SUCH-PORT");
    Win32Rs232 com;
    EXPECT_EQ(com.OpenComConfig(5, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_CANNOT_OPEN);
    const std::string why = com.GetRS232ErrorString(RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(why.rfind("Cannot open port: \\\\.\\VEK-NO-SUCH-PORT (", 0), 0u) << why;
    EXPECT_EQ(why.back(), ')') << why;
    EXPECT_EQ(com.DevicePath(5), "");
    // The same again later: one attempt per call, nothing kept open.
    EXPECT_EQ(com.OpenComConfig(5, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(com.ClaimCom(5), RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(com.CloseCom(5), RS_ERR_NOT_OPEN);
}

TEST(Win32Port, AFileIsNotASerialDevice)
{
    const fs::path file = scratch("not-a-port");
    std::ofstream(file) << "x";
    EnvVar v("VEK_COM6", file.string());
    Win32Rs232 com;
    EXPECT_EQ(com.OpenComConfig(6, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_CANNOT_OPEN);
    const std::string why = com.GetRS232ErrorString(RS_ERR_CANNOT_OPEN);
    EXPECT_NE(why.find("is not a serial device"), std::string::npos) << why;
    EXPECT_EQ(com.DevicePath(6), "");
    // The handle was closed: the file can be removed at once.
    std::error_code ec;
    EXPECT_TRUE(fs::remove(file, ec)) << ec.message();
}

// ---- files ------------------------------------------------------------------------------

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Win32FileService, OpenModesWriteWhatTheySay)
{
    const struct {
        const char* name;
        int action;
        const char* before;
        const char* written;
        const char* after;
    } rows[] = {
        {"truncate empties", FILE_ACTION_TRUNCATE, "old line\n", "new\n", "new\n"},
        {"append adds at the end", FILE_ACTION_APPEND, "old line\n", "new\n", "old line\nnew\n"},
        {"open writes from the start", FILE_ACTION_OPEN, "old line\n", "NEW\n", "NEW\nline\n"},
        {"truncate creates", FILE_ACTION_TRUNCATE, nullptr, "a\tb\n", "a\tb\n"},
        {"append creates", FILE_ACTION_APPEND, nullptr, "a\tb\n", "a\tb\n"},
    };
    Win32Files files;
    for (const auto& r : rows) {
        const fs::path p = scratch(std::string("mode-") + std::to_string(r.action) + (r.before ? "-old" : "-new"));
        fs::remove(p);
        if (r.before)
            std::ofstream(p, std::ios::binary) << r.before;
        const int h = files.CVI_OpenFile(p.string(), FILE_ACCESS_WRITE, r.action, FILE_TYPE_ASCII);
        ASSERT_GE(h, 0) << r.name << ": " << files.LastErrorText();
        const std::string w = r.written;
        EXPECT_EQ(files.CVI_WriteFile(h, w.data(), static_cast<long long>(w.size())), static_cast<long long>(w.size()))
            << r.name;
        EXPECT_EQ(files.CVI_CloseFile(h), 0) << r.name;
        // Line ends are never translated: "\n" stays one byte.
        EXPECT_EQ(contents(p), r.after) << r.name;
    }
}

TEST(Win32FileService, AppendGoesToTheEndWhateverElseWroteMeanwhile)
{
    const fs::path p = scratch("shared.log");
    fs::remove(p);
    Win32Files files;
    const int h = files.CVI_OpenFile(p.string(), FILE_ACCESS_WRITE, FILE_ACTION_APPEND, FILE_TYPE_ASCII);
    ASSERT_GE(h, 0) << files.LastErrorText();
    EXPECT_EQ(files.CVI_WriteFile(h, "row1\n", 5), 5);
    // Opened for reading and writing by another program while the log is open.
    {
        std::ofstream other(p, std::ios::binary | std::ios::app);
        ASSERT_TRUE(other.is_open());
        other << "other\n";
    }
    EXPECT_EQ(files.CVI_WriteFile(h, "row2\n", 5), 5);
    EXPECT_EQ(files.CVI_CloseFile(h), 0);
    EXPECT_EQ(contents(p), "row1\nother\nrow2\n");
}

TEST(Win32FileService, FileInfoTellsFileMissingAndFolder)
{
    Win32Files files;
    const fs::path p = scratch("info.txt");
    std::ofstream(p, std::ios::binary) << "12345";
    long long size = -1, stamp = -1;
    EXPECT_EQ(files.GetFileStamp(p.string(), &size, &stamp), 1);
    EXPECT_EQ(size, 5);
    // The stamp is in nanoseconds since 1970: within a day of now.
    const long long nowNs = static_cast<long long>(std::time(nullptr)) * 1000000000LL;
    EXPECT_LT(std::llabs(stamp - nowNs), 86400LL * 1000000000LL);

    EXPECT_EQ(files.GetFileInfo(scratch("missing.txt").string(), &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(files.GetFileInfo((scratch("no-folder") / "x.txt").string(), &size), 0);
    EXPECT_EQ(files.GetFileInfo(scratch("").string(), &size), -1);  // a folder
    EXPECT_EQ(files.LastErrorText(), "");
    EXPECT_EQ(files.GetFileInfo("", &size), 0);
}

TEST(Win32FileService, RefusesAFolderAndNamesWhyAFileCannotBeOpened)
{
    Win32Files files;
    EXPECT_EQ(files.CVI_OpenFile(scratch("").string(), FILE_ACCESS_WRITE, FILE_ACTION_APPEND, FILE_TYPE_ASCII), -1);
    EXPECT_EQ(files.CVI_OpenFile((scratch("no-folder") / "x.log").string(), FILE_ACCESS_WRITE, FILE_ACTION_APPEND,
                                 FILE_TYPE_ASCII),
              -1);
    EXPECT_FALSE(files.LastErrorText().empty());
    EXPECT_EQ(files.CVI_OpenFile("", FILE_ACCESS_WRITE, FILE_ACTION_APPEND, FILE_TYPE_ASCII), -1);
    EXPECT_EQ(files.CVI_WriteFile(-1, "x", 1), -1);
    EXPECT_EQ(files.CVI_CloseFile(-1), -1);
}

TEST(Win32FileService, NonAsciiNamesReachTheFileSystem)
{
    Win32Files files;
    const std::string name = "Pegel \xC3\xA4 \xE2\x82\xAC.log";
    const fs::path dir = scratch("");
    const std::string path = (dir / "x").string();
    const std::string full = path.substr(0, path.size() - 1) + name;
    const int h = files.CVI_OpenFile(full, FILE_ACCESS_WRITE, FILE_ACTION_TRUNCATE, FILE_TYPE_ASCII);
    ASSERT_GE(h, 0) << files.LastErrorText();
    EXPECT_EQ(files.CVI_WriteFile(h, "abc", 3), 3);
    EXPECT_EQ(files.CVI_CloseFile(h), 0);
    // Under its wide name, as Explorer shows it.
    EXPECT_TRUE(fs::exists(dir / fs::path(L"Pegel \u00E4 \u20AC.log")));
    long long size = 0;
    EXPECT_EQ(files.GetFileInfo(full, &size), 1);
    EXPECT_EQ(size, 3);
    const WholeFile f = ReadWholeFile(full, 100);
    EXPECT_EQ(f.result, WholeFile::Result::Read);
    EXPECT_EQ(f.text, "abc");
}

TEST(Win32WholeFile, ReadsOnlyARegularFileUpToTheLimit)
{
    const fs::path p = scratch("whole.txt");
    std::ofstream(p, std::ios::binary) << "0123456789";
    using R = WholeFile::Result;
    const struct {
        const char* name;
        std::string path;
        long long limit;
        R result;
        const char* text;
        long long size;
        const char* why;
    } rows[] = {
        {"a file within the limit", p.string(), 10, R::Read, "0123456789", 10, ""},
        {"a file past the limit", p.string(), 9, R::TooLarge, "", 10, ""},
        {"a negative limit", p.string(), -5, R::TooLarge, "", 10, ""},
        {"a folder", scratch("").string(), 100, R::NotRegular, "", 0, "a folder"},
    };
    for (const auto& r : rows) {
        const WholeFile f = ReadWholeFile(r.path, r.limit);
        EXPECT_EQ(f.result, r.result) << r.name;
        EXPECT_EQ(f.text, r.text) << r.name;
        EXPECT_EQ(f.size, r.size) << r.name;
        EXPECT_EQ(f.why, r.why) << r.name;
    }
    const WholeFile missing = ReadWholeFile(scratch("missing.txt").string(), 100);
    EXPECT_EQ(missing.result, R::Unreadable);
    EXPECT_FALSE(missing.why.empty());
    EXPECT_EQ(ReadWholeFile("", 100).result, R::Unreadable);
}

}  // namespace
