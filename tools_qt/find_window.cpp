#include "find_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

#include "vek_app.h"

namespace vek::tools {

namespace {

enum Column { kCom, kDevice, kBaud, kParity, kAddress, kWhat, kColumns };

// The port choice that scans the gateway the settings name.
constexpr int kGatewayChoice = -1;

QString timeText(double seconds)
{
    const int s = static_cast<int>(std::ceil(seconds));
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Something that answered but is no transmitter at those settings: the wiring or the line
// setting is worth a look.
const QColor kSomethingColour(0xff, 0xe0, 0xb8);

}  // namespace

FindWindow::FindWindow(App& app, QWidget* parent) : QWidget(parent, Qt::Window), app_(app)
{
    setWindowTitle(QStringLiteral("Find Transmitter"));
    ports_ = new QComboBox(this);
    ports_->setAccessibleName(QStringLiteral("Port"));
    start_ = new QPushButton(QStringLiteral("Start"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setEnabled(false);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    trying_ = new QLabel(this);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    skipped_ = new QLabel(this);
    skipped_->setWordWrap(true);
    skipped_->setVisible(false);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("COM"), QStringLiteral("Device"), QStringLiteral("Baud"),
                                       QStringLiteral("Parity"), QStringLiteral("Address"),
                                       QStringLiteral("Model / what answered")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widths[kColumns] = {60, 150, 60, 60, 70, 300};
    for (int c = 0; c < kColumns; ++c)
        table_->setColumnWidth(c, widths[c]);
    use_ = new QPushButton(QStringLiteral("Use"), this);
    use_->setToolTip(
        QStringLiteral("Poll the selected transmitter: its port, baud rate, parity and address become "
                       "the program's, and the port, baud rate and parity are saved. A slave that refused "
                       "the read is taken only after a Yes; an orange row of another address or damaged "
                       "bytes says why there is nothing to poll."));
    use_->setEnabled(false);
    auto* quit = new QPushButton(QStringLiteral("Quit"), this);

    connect(start_, &QPushButton::clicked, this, [this] { start(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(use_, &QPushButton::clicked, this, [this] { use(table_->currentRow()); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { updateUse(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { use(row); });
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);
    stepper_.setSingleShot(true);
    connect(&stepper_, &QTimer::timeout, this, [this] { step(); });
    // The next probe (or the end of the scan) at once when a probe ends.
    app_.scan.onProbeEnded = [this] {
        if (scanning_)
            stepper_.start(0);
    };

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Port"), this));
    top->addWidget(ports_, 1);
    top->addWidget(start_);
    top->addWidget(cancel_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(use_);
    buttons->addStretch();
    buttons->addWidget(quit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(progress_);
    layout->addWidget(trying_);
    layout->addWidget(table_, 1);
    layout->addWidget(skipped_);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    fillPorts();
    status_->setText(
        QStringLiteral("Probes addresses 1 to 247 at 9600 and 19200 baud with no, even and odd parity, "
                       "the saved settings and address 1 first; through a gateway, addresses 1 to 247 only. "
                       "Polling pauses while it runs. A port another program holds is skipped; every port "
                       "scanned gets its line settings back."));
    resize(820, 440);
}

FindWindow::~FindWindow()
{
    app_.scan.onProbeEnded = nullptr;
    if (scanning_)
        app_.scan.Cancel(app_);
}

void FindWindow::fillPorts()
{
    const int chosen = ports_->count() ? ports_->currentData().toInt() : app_.link.usPortNumber;
    ports_->clear();
    // A network connection chosen in the settings is scanned for addresses 1 to 247.
    if (!SettingsDeviceName(app_).empty())
        ports_->addItem(QStringLiteral("The gateway: %1").arg(QString::fromStdString(LinkDeviceTextOf(app_))),
                        kGatewayChoice);
    ports_->addItem(QStringLiteral("Every COM port whose device exists"), 0);
    for (int n = 1; n <= 9; ++n)
        ports_->addItem(QString::fromStdString(DeviceTextOf(app_.io.com, n)), n);
    setPortChoice(chosen);
}

void FindWindow::setPortChoice(int port)
{
    // With a gateway chosen in the settings, it is what a scan is most likely for.
    const int gateway = ports_->findData(kGatewayChoice);
    const int i = gateway >= 0 ? gateway : ports_->findData(port);
    ports_->setCurrentIndex(i < 0 ? 0 : i);
}

void FindWindow::showEvent(QShowEvent* e)
{
    // Adapters come and go: say what each port stands for now.
    if (!scanning_)
        fillPorts();
    QWidget::showEvent(e);
}

void FindWindow::start()
{
    if (app_.scan.running())
        return;
    const int choice = ports_->currentData().toInt();
    if (choice == kGatewayChoice) {
        if (!app_.scan.StartGateway(app_)) {
            status_->setText(QStringLiteral("The settings name no gateway any more: choose a port."));
            fillPorts();
            return;
        }
    } else {
        const std::vector<int> ports = choice == 0 ? PresentComPorts() : std::vector<int>{choice};
        if (ports.empty()) {
            status_->setText(
                QStringLiteral("No COM port's device exists. Plug in the adapter, or name its device with "
                               "VEK_COM1 to VEK_COM9."));
            return;
        }
        if (!app_.scan.Start(app_, ports))
            return;
    }
    scanning_ = true;
    useStatus_.clear();
    table_->setRowCount(0);
    rowsShown_ = 0;
    use_->setEnabled(false);
    start_->setEnabled(false);
    ports_->setEnabled(false);
    cancel_->setEnabled(true);
    progress_->setRange(0, static_cast<int>(app_.scan.total()));
    status_->setText(QStringLiteral("Scanning; polling is paused."));
    refresh();
    stepper_.start(0);
}

void FindWindow::cancel()
{
    if (scanning_)
        app_.scan.Cancel(app_);
    stepper_.stop();
    refresh();
    // A probe under way ends first; the window shows the end once it has.
    if (app_.scan.running())
        stepper_.start(kLookAgainMs);
}

void FindWindow::step()
{
    if (!scanning_)
        return;
    // A probe waits for its reply on the link engine's timers, so the window answers (and
    // Cancel lands) while it runs; the next probe starts once it has ended.
    const auto result = app_.scan.Step(app_);
    refresh();
    // A probe under way, or a poll or write holding the line: look again shortly.
    if (result != TransmitterScan::StepResult::Finished)
        stepper_.start(result == TransmitterScan::StepResult::NotNow ? kLookAgainMs : 0);
}

void FindWindow::refresh()
{
    const TransmitterScan& scan = app_.scan;
    addRows();
    QStringList skipped;
    for (const std::string& line : scan.skipped())
        skipped << QString::fromStdString(line);
    skipped_->setText(skipped.join(QLatin1Char('\n')));
    skipped_->setVisible(!skipped.isEmpty());
    progress_->setMaximum(std::max<int>(1, static_cast<int>(scan.total())));
    progress_->setValue(static_cast<int>(scan.done()));
    if (scan.running()) {
        trying_->setText(QStringLiteral("Trying %1 (%2 of %3), about %4 left")
                             .arg(QString::fromStdString(scan.TryingText()))
                             .arg(scan.done() + 1)
                             .arg(scan.total())
                             .arg(timeText(scan.SecondsLeft())));
        return;
    }
    if (!scanning_)
        return;
    // The scan has just ended.
    scanning_ = false;
    stepper_.stop();
    start_->setEnabled(true);
    ports_->setEnabled(true);
    cancel_->setEnabled(false);
    trying_->clear();
    QString text =
        scan.cancelled()
            ? QStringLiteral("Cancelled after %1 of %2 probes. ").arg(scan.done()).arg(scan.total())
            : QStringLiteral("Done: %1. ")
                  .arg(QString::fromStdString(CountOf(static_cast<long long>(scan.done()), "probe", "probes")));
    text += QString::fromStdString(scan.FoundText()) + QStringLiteral(". Polling resumes.");
    status_->setText(useStatus_.isEmpty() ? text : useStatus_);
    useStatus_.clear();
    updateUse();
}

void FindWindow::addRows()
{
    const auto& finds = app_.scan.finds();
    for (; rowsShown_ < finds.size(); ++rowsShown_) {
        const ScanFind& f = finds[rowsShown_];
        const int row = table_->rowCount();
        table_->insertRow(row);
        // Through a gateway the line settings are the gateway's own.
        const QString cells[kColumns] = {f.at.gateway ? QStringLiteral("Gateway") : QStringLiteral("COM%1").arg(f.at.port),
                                         QString::fromStdString(f.device),
                                         f.at.gateway ? QStringLiteral("—") : QString::fromStdString(BaudText(f.at.baud)),
                                         f.at.gateway ? QStringLiteral("—") : QString::fromStdString(ParityText(f.at.parity)),
                                         QString::number(f.at.address),
                                         QString::fromStdString(f.what)};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (f.kind != ScanFindKind::Transmitter)
                item->setBackground(kSomethingColour);
            if (c == kCom)
                item->setData(Qt::UserRole, static_cast<int>(rowsShown_));
            table_->setItem(row, c, item);
        }
    }
}

void FindWindow::updateUse()
{
    const int row = table_->currentRow();
    const QTableWidgetItem* item = row >= 0 ? table_->item(row, kCom) : nullptr;
    const auto& finds = app_.scan.finds();
    const int i = item ? item->data(Qt::UserRole).toInt() : -1;
    // Every row has its Use: it takes a transmitter, asks about a slave that refused the read,
    // and says why another row has nothing to poll.
    use_->setEnabled(item && i >= 0 && static_cast<std::size_t>(i) < finds.size());
}

std::optional<ScanUseOutcome> FindWindow::use(int row)
{
    const QTableWidgetItem* item = row >= 0 ? table_->item(row, kCom) : nullptr;
    if (!item)
        return std::nullopt;
    const int i = item->data(Qt::UserRole).toInt();
    const auto& finds = app_.scan.finds();
    if (i < 0 || static_cast<std::size_t>(i) >= finds.size())
        return std::nullopt;
    const ScanFind f = finds[i];  // a copy: Use cancels the scan, which keeps its finds
    // No probe while the question or the reason is up: the scan waits for the answer.
    stepper_.stop();
    const ScanUseOutcome outcome = UseScanFindAsked(app_, f);
    if (outcome == ScanUseOutcome::Declined || outcome == ScanUseOutcome::Refused) {
        if (scanning_)
            stepper_.start(0);
        return outcome;
    }
    const QString now = QStringLiteral("The program now polls address %1 on %2%3.")
                            .arg(f.at.address)
                            .arg(QString::fromStdString(f.at.gateway ? "the gateway " + f.device : LineText(f.at)))
                            .arg(outcome != ScanUseOutcome::Used ? QString()
                                 : f.at.gateway                  ? QStringLiteral("; the connection is saved")
                                                                 : QStringLiteral("; port, baud rate and parity are saved"));
    refresh();
    status_->setText(now);
    // A probe under way ends first; the end of the scan then says this, not "Cancelled".
    if (app_.scan.running()) {
        useStatus_ = now;
        stepper_.start(kLookAgainMs);
    }
    return outcome;
}

void FindWindow::closeEvent(QCloseEvent* e)
{
    // Closing the window ends its scan: nobody would see what it finds.
    cancel();
    QWidget::closeEvent(e);
}

}  // namespace vek::tools
