// The comparison peer for what the program costs while polling: the plainest Qt 6 master
// one would write for the same job. QModbusRtuSerialClient reads the 78 holding registers
// every PERIOD ms (the program's 1.0 s reply wait, no retries), and each reply fills a
// 78-row QTableWidget in a shown window. It is a bench executable only, never part of the
// program; bench/run_system.sh runs it beside the program and mbpoll on one simulator.
//
//   vek_peer_qt_master DEVICE [PERIOD_MS]
//
// With VEK_STARTUP_FD=N in its environment it measures its own start-up instead, for
// vek_bench_startup: it builds and shows its window as above, writes the CLOCK_MONOTONIC
// times of main() entered, window built and window exposed (three doubles) to fd N, and
// exits without opening the device.
#include <unistd.h>

#include <QApplication>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialClient>
#include <QSerialPort>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kRegisters = 78;
constexpr int kSlave = 1;
constexpr int kReplyWaitMs = 1000;

double monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    const double mainEntered = monotonicNow();
    QApplication app(argc, argv);
    const char* startupFd = std::getenv("VEK_STARTUP_FD");
    if (argc < 2 && !startupFd) {
        std::fprintf(stderr, "usage: %s DEVICE [PERIOD_MS]\n", argv[0]);
        return 2;
    }
    const int period = argc > 2 ? std::atoi(argv[2]) : 6000;

    QTableWidget table(kRegisters, 1);
    table.setHorizontalHeaderLabels({QStringLiteral("value")});
    for (int r = 0; r < kRegisters; ++r)
        table.setItem(r, 0, new QTableWidgetItem(QString()));
    table.resize(240, 600);
    table.show();

    QModbusRtuSerialClient client;
    if (startupFd) {
        const double built = monotonicNow();
        while (!(table.windowHandle() && table.windowHandle()->isExposed()))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double times[3] = {mainEntered, built, monotonicNow()};
        return write(std::atoi(startupFd), times, sizeof times) == static_cast<ssize_t>(sizeof times) ? 0 : 6;
    }
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, QString::fromLocal8Bit(argv[1]));
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud9600);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    client.setTimeout(kReplyWaitMs);
    client.setNumberOfRetries(0);
    if (!client.connectDevice()) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], qPrintable(client.errorString()));
        return 1;
    }

    auto poll = [&] {
        QModbusReply* reply =
            client.sendReadRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, kRegisters), kSlave);
        if (!reply)
            return;
        if (reply->isFinished()) {
            reply->deleteLater();
            return;
        }
        QObject::connect(reply, &QModbusReply::finished, &table, [reply, &table] {
            if (reply->error() == QModbusDevice::NoError) {
                const QModbusDataUnit unit = reply->result();
                for (qsizetype i = 0; i < unit.valueCount() && i < kRegisters; ++i)
                    table.item(static_cast<int>(i), 0)->setText(QString::number(unit.value(i)));
            }
            reply->deleteLater();
        });
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &table, poll);
    timer.start(period);
    poll();
    return app.exec();
}
