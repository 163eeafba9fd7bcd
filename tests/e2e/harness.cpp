#include "harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "qt/control_widgets.h"
#include "../unit/reference_crc.h"

namespace vek::e2e {

std::uint16_t referenceCrc(const Bytes& bytes) { return test::referenceCrc(bytes.data(), bytes.size()); }

Bytes withCrc(Bytes body)
{
    const std::uint16_t crc = referenceCrc(body);
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    return body;
}

std::string hexOf(const Bytes& bytes)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i)
            out += ' ';
        out += buf;
    }
    return out;
}

Bytes bytesOf(const std::string& hex)
{
    Bytes out;
    std::istringstream in(hex);
    std::string byte;
    while (in >> byte)
        out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Both waits sleep in the event loop's own wait between looks, so a case that waits costs
// no processor time of its own: the CPU measured over a wait is the program's.
void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    bool held = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done()) {
            held = true;
            loop.quit();
        }
    });
    look.start(25);
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return held || done();
}

// --- Workspace ---

Workspace::Workspace()
{
    char buf[4096];
    if (::getcwd(buf, sizeof buf))
        previousCwd_ = buf;
    if (!dir_.isValid() || ::chdir(dir_.path().toLocal8Bit().constData()) != 0)
        ADD_FAILURE() << "cannot make and enter a working directory";
    qputenv("VEK_COM1", QByteArray::fromStdString(linkPath()));
}

Workspace::~Workspace()
{
    // A failed case leaves the simulator's account of the line in the test output.
    if (::testing::Test::HasFailure()) {
        const std::string log = read("sim.log");
        if (!log.empty())
            std::printf("--- simulator log ---\n%s--- end of simulator log ---\n", log.c_str());
    }
    qunsetenv("VEK_COM1");
    if (!previousCwd_.empty() && ::chdir(previousCwd_.c_str()) != 0)
        ADD_FAILURE() << "cannot go back to " << previousCwd_;
}

std::string Workspace::path(const std::string& name) const
{
    return dir_.filePath(QString::fromStdString(name)).toStdString();
}

void Workspace::writeSettingsForCom1() const
{
    write("RS_Settings", "[0]\nCOMPORT=1\nPorta=1\nBAUD_RATE=0\nPARITY=0\n");
}

void Workspace::write(const std::string& name, const std::string& text) const
{
    std::ofstream out(path(name), std::ios::binary);
    out << text;
}

std::string Workspace::read(const std::string& name) const
{
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// --- SimLog ---

std::vector<LogEntry> SimLog::entries() const
{
    std::vector<LogEntry> out;
    QFile f(QString::fromStdString(path_));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        LogEntry e;
        e.t = o.value("t").toDouble();
        e.dir = o.value("dir").toString().toStdString();
        e.event = o.value("event").toString().toStdString();
        e.bytes = bytesOf(o.value("hex").toString().toStdString());
        e.note = o.value("note").toString().toStdString();
        e.reg = o.value("register").toInt();
        e.value = o.value("value").toInt();
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<LogEntry> SimLog::requests() const
{
    std::vector<LogEntry> out;
    for (auto& e : entries())
        if (e.dir == "rx" && e.note.find("ignored") == std::string::npos)
            out.push_back(e);
    return out;
}

std::vector<LogEntry> SimLog::replies() const
{
    std::vector<LogEntry> out;
    for (auto& e : entries())
        if (e.dir == "tx")
            out.push_back(e);
    return out;
}

std::vector<LogEntry> SimLog::events(const std::string& name) const
{
    std::vector<LogEntry> out;
    for (auto& e : entries())
        if (e.event == name)
            out.push_back(e);
    return out;
}

// --- Simulator ---

QString StartSimulatorProcess(QProcess& proc, const QStringList& args)
{
    proc.setProgram(VEK_SIM_BINARY);
    proc.setArguments(args);
    proc.start();
    if (!proc.waitForStarted(10000))
        return {};
    const double until = monotonicSeconds() + 10.0;
    while (!proc.canReadLine() && monotonicSeconds() < until && proc.state() == QProcess::Running)
        proc.waitForReadyRead(200);
    return proc.canReadLine() ? QString::fromLocal8Bit(proc.readLine()).trimmed() : QString();
}

Simulator::Simulator(const std::string& link, const std::string& logPath, const QStringList& options)
    : Simulator(QStringList{"--link", QString::fromStdString(link)}, logPath, options)
{
}

Simulator::Simulator(const QStringList& where, const std::string& logPath, const QStringList& options) : log_(logPath)
{
    QStringList args = where;
    args << "--log" << QString::fromStdString(logPath);
    args += options;
    device_ = StartSimulatorProcess(proc_, args);
}

Simulator::~Simulator()
{
    stop();
    // No case sends anything a transmitter should ignore, so an ignored frame is a request
    // that reached the line damaged or in pieces: name it, whatever else the case saw.
    for (const auto& e : log_.entries())
        if (!ignoredExpected_ && e.dir == "rx" && e.note.find("ignored") != std::string::npos)
            ADD_FAILURE() << "the simulator ignored \"" << hexOf(e.bytes) << "\" at " << e.t << " (" << e.note
                          << "): a request did not reach it whole";
}

QString Simulator::diagnostics() const
{
    return "simulator " + proc_.arguments().join(' ') + ": " + proc_.errorString();
}

int Simulator::stop()
{
    if (proc_.state() == QProcess::NotRunning)
        return proc_.exitCode();
    proc_.terminate();
    if (!proc_.waitForFinished(5000)) {
        proc_.kill();
        proc_.waitForFinished(2000);
        return -1;
    }
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

// --- Registers ---

float Registers::real(int n) const
{
    const std::uint32_t bits = static_cast<std::uint32_t>(reg(n + 1)) << 16 | static_cast<std::uint32_t>(reg(n));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// --- RunningProgram ---

RunningProgram::RunningProgram(bool pumpTimers) : program_(std::make_unique<Program>(VEK_RESOURCE_DIR, &popups_))
{
    EXPECT_EQ(program_->start(), 0);
    if (pumpTimers) {
        pump_ = std::make_unique<ui::qt::TimerPump>(program_->panels());
        QObject::connect(&program_->view(), &ui::qt::QtPanelView::userActionHandled, pump_.get(),
                         &ui::qt::TimerPump::kick);
        pump_->poll();
    }
}

RunningProgram::~RunningProgram()
{
    pump_.reset();
    program_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int RunningProgram::main() const { return program_->app().st.panelMain; }

QWidget* RunningProgram::window(int handle) const { return program_->view().window(handle); }

bool RunningProgram::shown(int handle) const
{
    QWidget* w = window(handle);
    return w && w->isVisible();
}

QString RunningProgram::text(int handle, const char* constant) const
{
    QWidget* w = widget(handle, constant);
    if (!w)
        return "<no " + QString::fromLatin1(constant) + ">";
    if (auto* le = qobject_cast<QLineEdit*>(w))
        return le->text();
    if (auto* ring = qobject_cast<QComboBox*>(w))
        return ring->currentText();
    if (auto* choice = qobject_cast<ui::qt::ChoiceButtons*>(w))
        return choice->current() >= 0 ? choice->button(choice->current())->text() : QString();
    if (auto* elided = qobject_cast<ui::qt::ElidedLabel*>(w))
        return elided->fullText();  // what it says, not how much of it fits
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    return "<unreadable " + QString::fromLatin1(constant) + ">";
}

bool RunningProgram::lit(int handle, const char* constant) const
{
    auto* lamp = widget<ui::qt::LedLamp>(handle, constant);
    EXPECT_NE(lamp, nullptr) << constant;
    return lamp && lamp->isLit();
}

bool RunningProgram::waitForLinkIdle(int timeoutMs)
{
    const LinkEngine& link = app().engine;
    return runEventsUntil([&] { return !link.busy() && link.waiting() == 0; }, timeoutMs);
}

bool RunningProgram::waitForPolls(int n, int timeoutMs)
{
    return runEventsUntil([&] { return polls() >= n; }, timeoutMs);
}

void RunningProgram::click(int handle, const char* constant)
{
    QWidget* w = widget(handle, constant);
    ASSERT_NE(w, nullptr) << constant;
    QTest::mouseClick(w, Qt::LeftButton);
}

void RunningProgram::doubleClick(int handle, const char* constant)
{
    QWidget* w = widget(handle, constant);
    ASSERT_NE(w, nullptr) << constant;
    QTest::mouseDClick(w, Qt::LeftButton);
}

void RunningProgram::type(int handle, const char* constant, const QString& text)
{
    QWidget* w = widget(handle, constant);
    ASSERT_NE(w, nullptr) << constant;
    w->setFocus();
    if (auto* le = qobject_cast<QLineEdit*>(w))
        le->selectAll();
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, text);
}

void RunningProgram::typeAndEnter(int handle, const char* constant, const QString& text)
{
    type(handle, constant, text);
    if (QWidget* w = widget(handle, constant))
        QTest::keyClick(w, Qt::Key_Return);
}

void RunningProgram::choose(int handle, const char* constant, const QString& label)
{
    auto* choice = widget<ui::qt::ChoiceButtons>(handle, constant);
    ASSERT_NE(choice, nullptr) << constant;
    for (int i = 0; i < choice->count(); ++i)
        if (choice->button(i)->text() == label) {
            QTest::mouseClick(choice->button(i), Qt::LeftButton);
            return;
        }
    FAIL() << constant << " has no side " << label.toStdString();
}

void RunningProgram::pickRingItem(int handle, const char* constant, const QString& label)
{
    auto* ring = widget<QComboBox>(handle, constant);
    ASSERT_NE(ring, nullptr) << constant;
    const int target = ring->findText(label);
    ASSERT_GE(target, 0) << constant << " has no item " << label.toStdString();
    // One step at a time, as the arrow keys go; every step is a choice the program acts on.
    while (ring->currentIndex() != target) {
        const int before = ring->currentIndex();
        QTest::keyClick(ring, ring->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_NE(ring->currentIndex(), before) << constant << " does not move";
    }
}

// --- measurements ---

ShownMeasurements shownOnMain(const RunningProgram& p)
{
    const int m = p.main();
    return {p.text(m, "DISTANCE_MM"), p.text(m, "LEVEL_MM"),  p.text(m, "LEVEL_PERC"),
            p.text(m, "TEMPERATURE"), p.text(m, "OUTPUT_MA"), p.text(m, "FREQUENCY")};
}

ShownMeasurements expectedFrom(const Registers& r)
{
    // The window's precisions: level 1 decimal, temperature 1, output 2, frequency 1.
    auto fixed = [](float v, int decimals) { return QString::number(static_cast<double>(v), 'f', decimals); };
    return {QString::number(r.reg(1)), QString::number(static_cast<std::int16_t>(r.reg(2))),
            fixed(r.real(3), 1),       fixed(r.real(5), 1),
            fixed(r.real(7), 2),       fixed(r.real(9), 1)};
}

std::ostream& operator<<(std::ostream& os, const ShownMeasurements& m)
{
    return os << "{distance " << m.distance.toStdString() << ", level " << m.levelMm.toStdString() << " mm "
              << m.levelPercent.toStdString() << " %, temp " << m.temperature.toStdString() << ", output "
              << m.outputMa.toStdString() << " mA, frequency " << m.frequency.toStdString() << "}";
}

}  // namespace vek::e2e
