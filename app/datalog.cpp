// The measurement log: a tab-separated text file with one header line and one row per due
// valid poll. Each row goes to the file in one unbuffered write, so a crash loses no row
// that was due; a write the disk refuses stops logging and says so once.
#include <algorithm>
#include <cstdio>

#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr long long kLogSizeLimit = 2000000;

// 95 bytes; the degree sign is the single byte 0xB0, so spreadsheets reading the file as
// Latin-1 show it as the degree sign.
constexpr char kHeader[] =
    "Date\tTime\tDist[mm]\tLevel[mm]\tLevel[%]\tTemp[\xB0"
    "C]\tOutput[mA]\tMeasure status\tRL1 Status\tRL2 Status\n";
static_assert(sizeof kHeader - 1 == 95);

void closeLog(App& app)
{
    AppState& st = app.st;
    if (st.logFileOpen)
        app.io.files.CVI_CloseFile(st.logFileHandle);
    st.logFileOpen = false;
}

constexpr const char* kFileError = "File I/O Error";

// "name: reason", so the user knows which file and what to do about it.
std::string fileErrorText(App& app, const std::string& name, const std::string& fallback)
{
    std::string why = app.io.files.LastErrorText();
    if (why.empty())
        why = fallback;
    return "\"" + name + "\": " + why;
}

void logFailed(App& app, const std::string& fallback)
{
    app.st.loggingActive = 0;
    closeLog(app);
    // Not modal: this runs inside the poll, and a box waiting for a click (a full disk at
    // night) must not stop the polling, the lamps and the counters until morning.
    app.io.NoticePopup(kFileError, fileErrorText(app, app.st.logFileName, fallback));
}

// Writes all of `text` or reports the failure; true when every byte reached the file.
bool writeAll(App& app, const std::string& text)
{
    const long long n =
        app.io.files.CVI_WriteFile(app.st.logFileHandle, text.data(), static_cast<long long>(text.size()));
    return n == static_cast<long long>(text.size());
}

}  // namespace

std::string FormatLogRow(const std::string& date, const std::string& time, const Measurements& m)
{
    const char* fmt = "%s\t%s\t%5d\t%5d\t%.1f\t%.1f\t%.1f\t%4d\t%s\t%s\n";
    const double level = m.levelPercent, temp = m.temperature, out = m.outputMa;
    // Sized first: a float from the transmitter can print to hundreds of digits.
    const int n = std::snprintf(nullptr, 0, fmt, date.c_str(), time.c_str(), m.distanceMm, m.levelMm, level, temp, out,
                                m.measureStatus, m.relay1Text.c_str(), m.relay2Text.c_str());
    std::string row(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(row.data(), row.size() + 1, fmt, date.c_str(), time.c_str(), m.distanceMm, m.levelMm, level, temp,
                  out, m.measureStatus, m.relay1Text.c_str(), m.relay2Text.c_str());
    return row;
}

std::string LogHeader() { return kHeader; }

int Open_Write_File(App& app, int panel, int control, int event)
{
    if (event != EVENT_COMMIT)
        return 0;
    auto& ui = app.io.panels;
    AppState& st = app.st;
    switch (control) {
    case DATA_LOG_BROWSE: {
        // Only fills the name box: opening stays with "Open/Create", as for a typed name.
        std::string name;
        ui.GetCtrlVal(panel, DATA_LOG_FILE_NAME, name);
        const std::string chosen = app.io.FileSelectPopup("Log file", name, "Log files (*.xls);;All files (*)");
        if (!chosen.empty())
            ui.SetCtrlVal(panel, DATA_LOG_FILE_NAME, chosen);
        break;
    }
    case DATA_LOG_OPEN_CREATE_FILE: {
        std::string name;
        ui.GetCtrlVal(panel, DATA_LOG_FILE_NAME, name);
        // The box starts as ".xls": a name that is only an extension would make a hidden file.
        const std::string base = name.substr(name.find_last_of('/') + 1);
        if (base.empty() || (base.front() == '.' && base.find('.', 1) == std::string::npos)) {
            app.io.MessagePopup("Warning", "Type a file name");
            return 0;
        }
        long long size = 0;
        const int exists = app.io.files.GetFileInfo(name, &size);
        // Something that is there but is no regular file (a folder, a pipe, a device) is
        // never opened: a pipe or a serial device would hold the window until a reader or a
        // carrier came, and emptying a device is not ours to do.
        const int handle = exists < 0 ? -1
                                      : app.io.files.CVI_OpenFile(
                                            name, platform::FILE_ACCESS_WRITE,
                                            exists == 1 ? platform::FILE_ACTION_APPEND : platform::FILE_ACTION_TRUNCATE,
                                            platform::FILE_TYPE_BINARY);
        if (handle < 0) {
            // The file already open (if any) stays open and in use.
            app.io.MessagePopup(
                kFileError, fileErrorText(app, name, exists < 0 ? "it is not a regular file" : "it cannot be opened"));
            return 0;
        }
        closeLog(app);
        st.logFileName = name;
        // An empty file (one a first press created) is a new log: it gets the header first.
        st.logFileExists = exists == 1 && size > 0 ? 1 : 0;
        st.size = size;
        st.logFileHandle = handle;
        st.logFileOpen = true;
        ui.SetCtrlVal(panel, DATA_LOG_FILE_SIZE, static_cast<int>(std::min<long long>(size, 0x7FFFFFFF)));
        break;
    }
    case DATA_LOG_WRITE_FILE:
        if (!st.logFileOpen) {
            app.io.MessagePopup("Warning", "No log file is open. Type a file name and press \"Open/Create\" first.");
            return 0;
        }
        st.loggingActive = 1;
        break;
    case DATA_LOG_STOP_WRITE_FILE:
        closeLog(app);
        st.loggingActive = 0;
        break;
    case DATA_LOG_WRITE_TIMER:
        ui.GetCtrlVal(panel, DATA_LOG_WRITE_TIMER, st.logInterval);
        if (st.logInterval < 1)
            st.logInterval = 1;
        break;
    default: break;
    }
    return 0;
}

int Write_Data_Log(App& app)
{
    AppState& st = app.st;
    if (!st.loggingActive || !st.logFileOpen)
        return 0;
    if (st.logFileExists != 1) {
        if (!writeAll(app, kHeader)) {
            logFailed(app, "the header could not be written");
            return 0;
        }
        st.logFileExists = 1;
    }
    if (st.size >= kLogSizeLimit) {
        st.loggingActive = 0;
        return 0;
    }
    if (!writeAll(app, FormatLogRow(app.io.DateStr(), app.io.TimeStr(), st.m))) {
        logFailed(app, "the row could not be written");
        return 0;
    }
    // A file removed while open takes the rows into nowhere: that is a failure too.
    if (app.io.files.GetFileInfo(st.logFileName, &st.size) != 1)
        logFailed(app, "the file was removed or replaced while the log was being written");
    return 0;
}

int Read_File_Size(App& app)
{
    AppState& st = app.st;
    auto& ui = app.io.panels;
    st.dataLogText = "Writing file";
    app.io.files.GetFileInfo(st.logFileName, &st.size);
    ui.SetCtrlVal(st.panelDataLog, DATA_LOG_FILE_SIZE, static_cast<int>(std::min<long long>(st.size, 0x7FFFFFFF)));
    ui.SetCtrlVal(st.panelDataLog, DATA_LOG_FILE_NAME, st.logFileName);
    ui.SetCtrlVal(st.panelDataLog, DATA_LOG_WRITE_TIMER, st.logInterval);
    ui.SetCtrlAttribute(st.panelDataLog, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, VAL_YELLOW);
    ui.SetCtrlVal(st.panelDataLog, DATA_LOG_DATALOG_MSG, st.dataLogText);
    return 0;
}

}  // namespace vek
