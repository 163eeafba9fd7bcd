// The application's procedures and control callbacks. Every callback has the panels'
// callback form (panel handle, control id, event, callback data, two event data words)
// plus the App it works on, and returns 0.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "app_state.h"
#include "job.h"
#include "mb_outcome.h"
#include "mb_rtu_master.h"

namespace vek {

// --- start-up, navigation and exit ---
// The whole start-up after the toolkit is up: checks that the resource loads (-1 when
// not, and nothing is shown), sets the defaults, prepares and shows the main panel.
int StartUp(App& app);
void Init_Main_Panel(App& app);
// Shows panel `panelId` in `handle`: raises the copy already shown, or loads a fresh one
// (dropping a hidden copy). One copy per window means a handle never stands for two.
// Returns true when a fresh copy was loaded.
bool OpenPanel(App& app, int& handle, int panelId, bool makeActive);
// Binds every callback name of the resource to this App.
ui::CallbackRegistry MakeCallbackRegistry(App& app);
int Get_Buttons(App& app, int panel, int control, int event);
int Get_Buttons_2(App& app, int panel, int control, int event);
int Get_Buttons_3(App& app, int panel, int control, int event);
// Closes the port and ends the program with status 0 (through App::quit).
void P_Quit(App& app);

// --- serial settings and password ---
int Set_Value(App& app, int panel, int control, int event);
// Greys the serial line settings on RS485 Settings while a gateway is chosen.
void ShowConnectionKind(App& app);
int Psw_config(App& app);
// Takes the port, baud rate and parity from "RS_Settings" into the settings; false when
// the file is missing, unreadable or names no valid port.
bool RecallSerialSettings(App& app);
// The same, but only when the file changed since this was last called (or never was):
// what the polling and the writes use while no port is chosen.
bool RecallChangedSerialSettings(App& app);
// The text that tells which device a COM port number stands for: the device the port is
// open on while it is open, else the one the number resolves to now.
std::string DeviceTextOf(const platform::Rs232& com, int port);
// The same for the link the settings choose: the gateway when a network connection is chosen.
std::string LinkDeviceTextOf(const App& app);
// Puts the settings' network connection (or none) in the link's device name, so the next
// opening reaches the gateway or the serial port. A network connection needs a port number
// for the link: COM1 stands for it while none is chosen.
void ApplyNetworkSettings(App& app);
// The network device name the settings window's connection stands for; "" for the serial port.
std::string SettingsDeviceName(const App& app);
// Makes the network connection `deviceName` names the settings' (and the window's), as if
// chosen there; a name of no network connection changes nothing.
void SetNetworkSettings(App& app, const std::string& deviceName);

// --- the exchange with the transmitter ---
// Opens the link's port as its settings say; "" or the port's own words when it failed. Only
// by the holder of the engine's lease.
std::string OpenLinkPort(App& app);
// In its turn for the line: closes `previousPort` (when another than the link's) and the
// link's port, then opens the link's port afresh; with `showDevice` the serial settings
// window then shows the device it is open on.
Job ReopenLinkPort(App& app, int previousPort, bool showDevice);
// One request through the link, by whoever holds the engine's lease (`call` sends it: one of
// the one-call requests' Start forms), recorded in the traffic and shown in the main window's
// lamp, message and statistics; a valid read lands in the image at its registers. A failed
// reply through a port that `openError` says could not be opened shows that error instead.
using LinkCall = std::function<PendingReply(LinkState&, MasterIo&, int port)>;
Async<RtuResult> ExchangeWithSlave(App& app, LinkCall call, std::string openError);
// How long a request waits at the link's line setting: `limit` at most, ending early unless
// told not to (the poll waits out its window).
ReplyWait ReplyWaitOf(const App& app, double limit, bool endsEarly = true);
void ShowLinkState(App& app, bool lamp, const std::string& text);
// Polls sent, valid replies (to polls, writes and the set-up tools' reads alike) and their
// percentage, on the main window.
void ShowStatistics(App& app);
// Seconds since the epoch, to the millisecond: the traffic's and the trend's time stamps.
double WallNow(App& app);

// --- traffic, trend and Find Transmitter windows (the scan itself: scan.h) ---
int Show_Traffic(App& app, int panel, int control, int event);
int Show_Trend(App& app, int panel, int control, int event);

// --- polling cycle and decoders ---
int MB_COM(App& app, int panel, int control, int event);
int Modbus_Communication(App& app);
// Register n (counted from 1) of the latest valid read of all 78.
int MB_memory(const App& app, int n);
// The single-precision value of registers n (low 16 bits) and n + 1 (high 16 bits) there.
float RegisterFloat(const App& app, int n);
// Decodes the latest image into the measurements and shows them on the main window.
void Read_Variables(App& app);
// Shows the measurements' probe warnings on the main window.
void Read_ProbeErrors(App& app);
void Read_Variables_2(App& app);
void Read_Variables_3(App& app);

// --- configuration writes ---
int Write_Value(App& app, int panel, int control, int event);
int Write_Value_1(App& app, int panel, int control, int event);
int Write_Value_2(App& app, int panel, int control, int event);
int Write_Value_3(App& app, int panel, int control, int event);
int Write_Ascii(App& app, int panel, int control, int event);
int Write_Single_Register(App& app, int panel, int control, int event);
int Slave_Add(App& app, int panel, int control, int event);
// Closes, unsent, a write dialog opened from window `panel` (which is closing).
void CloseDialogsOpenedFrom(App& app, int panel);
// True when a port is chosen (recalling RS_Settings while none is); else shows that one is
// needed, and nothing may be sent.
bool LinkPortReady(App& app);
// One Write Single Register exchange by the holder of the engine's lease: `value` into
// register `reg` (counted from 1), its outcome shown on the main window. Valid only when the
// echo is the request. Without a port nothing is sent and the outcome is NoResponse.
Async<ExchangeOutcome> WriteRegister(App& app, int reg, std::uint16_t value);

// --- set-up backup, compare and restore (the buttons of both set-up windows) ---
int Back_Up_Setup(App& app, int panel, int control, int event);
int Compare_Setup(App& app, int panel, int control, int event);
int Restore_Setup(App& app, int panel, int control, int event);
// Reads registers 1 to 78 as the poll does (through the exchange helper, by the holder of the
// engine's lease), without counting it as a poll or logging it: the image is then MB_memory's.
Async<ExchangeOutcome> ReadAllRegisters(App& app);
// The same for `count` registers from register `first` (counted from 1): they land in the image.
Async<ExchangeOutcome> ReadRegisters(App& app, int first, int count);

// --- data logger ---
int Open_Write_File(App& app, int panel, int control, int event);
int Write_Data_Log(App& app);
int Read_File_Size(App& app);
// The log's header line (95 bytes) and one row, exactly as they go into the file.
std::string LogHeader();
std::string FormatLogRow(const std::string& date, const std::string& time, const Measurements& m);

// "1 row", "2 rows": a count and its noun, singular or plural as the count wants.
inline std::string CountOf(long long n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Messages the program shows.
inline constexpr const char* kMsgNoPort = "Insert a valid com port !";
inline constexpr const char* kPassword = "tundo";
inline constexpr const char* kMsgScanning = "Polling paused: Find Transmitter is scanning";

}  // namespace vek
