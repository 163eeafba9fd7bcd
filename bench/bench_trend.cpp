// What the trend chart holds the window up for on a large measurement log: one wheel step of
// zoom (the series handed to the chart, then the repaint), and the longest single turn of the
// event loop while the log is opened (reading, then drawing it). Both in real time, on Qt's
// offscreen platform, with a log of 200,000 rows written as the data logger writes them.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "measurements.h"
#include "trend_window.h"
#include "vek_app.h"

using namespace vek;

namespace {

constexpr int kRows = 200000;

// A log of `rows` rows, one every 6 s (the polling period) from 1 March 2026: a level that
// rises and falls over the days with a little noise, and a spike now and then.
std::string writeLog(int rows)
{
    const std::string path = "/tmp/vek_bench_trend_" + std::to_string(rows) + ".xls";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        const std::string header = LogHeader();
        std::fwrite(header.data(), 1, header.size(), f);
        std::tm start{};
        start.tm_year = 126;
        start.tm_mon = 2;
        start.tm_mday = 1;
        start.tm_isdst = -1;
        const std::time_t t0 = std::mktime(&start);
        unsigned noise = 1;
        for (int i = 0; i < rows; ++i) {
            const std::time_t t = t0 + 6 * static_cast<std::time_t>(i);
            std::tm tm{};
            localtime_r(&t, &tm);
            char date[16], time[16];
            std::strftime(date, sizeof date, "%m-%d-%Y", &tm);
            std::strftime(time, sizeof time, "%H:%M:%S", &tm);
            noise = noise * 1103515245u + 12345u;
            Measurements m;
            m.levelPercent = static_cast<float>(50 + 40 * std::sin(i / 5000.0) + (noise >> 16) % 100 / 100.0 +
                                                (i % 9973 == 0 ? 30 : 0));
            m.levelMm = static_cast<int>(m.levelPercent * 40);
            m.distanceMm = 5000 - m.levelMm;
            m.temperature = static_cast<float>(20 + 5 * std::sin(i / 14400.0));
            m.outputMa = 4 + 0.16f * m.levelPercent;
            m.relay1Text = m.levelPercent > 80 ? "ON" : "OFF";
            m.relay2Text = "OFF";
            const std::string row = FormatLogRow(date, time, m);
            std::fwrite(row.data(), 1, row.size(), f);
        }
        std::fclose(f);
    }
    return path;
}

const std::string& bigLog()
{
    static const std::string path = writeLog(kRows);
    return path;
}

void settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

// Counts the paints of the chart's viewport, to show each step was drawn.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// One wheel step on the middle of the plot, alternately in and out, from the whole log shown:
// every step has about the whole log in view, the case the chart used to draw point by point.
void BM_ZoomStep_200kRows(benchmark::State& state)
{
    TrendRecorder rec;
    tools::TrendWindow w(rec);
    w.resize(1112, 600);  // a plot about 900 pixels wide
    w.show();
    QString why;
    if (!w.openLog(QString::fromStdString(bigLog()), &why)) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    while (w.status().startsWith("Loading"))
        QApplication::processEvents();
    settle();
    auto* view = w.findChild<QChartView*>();
    PaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    const QRectF area = w.chart()->plotArea();
    const QPointF centre = area.center();
    bool in = true;
    for (auto _ : state) {
        QWheelEvent wheel(centre, view->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, in ? 120 : -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        settle();
        in = !in;
    }
    state.counters["plot_px"] = area.width();
    state.counters["paints_per_step"] = benchmark::Counter(counter.paints, benchmark::Counter::kAvgIterations);
    state.counters["points_drawn"] = w.pointsShown(kLevelPercent) + w.pointsShown(kLevelMm);
}
BENCHMARK(BM_ZoomStep_200kRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Opening the log from "Open Log...": the time until it is drawn, and the longest single block
// of the event loop on the way (the opening call itself, then each turn of the loop).
void BM_OpenLog_200kRows(benchmark::State& state)
{
    const QString path = QString::fromStdString(bigLog());
    double longest = 0, opening = 0, turns = 0;
    for (auto _ : state) {
        TrendRecorder rec;
        tools::TrendWindow w(rec);
        w.resize(1112, 600);  // a plot about 900 pixels wide
        w.show();
        settle();
        QElapsedTimer block;
        block.start();
        QString why;
        const bool ok = w.openLog(path, &why);
        opening = std::max(opening, static_cast<double>(block.nsecsElapsed()) / 1e6);
        longest = std::max(longest, opening);
        if (!ok) {
            state.SkipWithError(why.toStdString().c_str());
            return;
        }
        // Until the window no longer says it is loading, then the turns that draw the result.
        int after = 0;
        while (after < 3) {
            if (!w.status().startsWith("Loading"))
                ++after;
            block.restart();
            QApplication::processEvents();
            longest = std::max(longest, static_cast<double>(block.nsecsElapsed()) / 1e6);
            ++turns;
        }
        if (w.pointsShown(kLevelPercent) == 0)
            state.SkipWithError("the log was not drawn");
    }
    state.counters["longest_block_ms"] = longest;
    state.counters["open_call_ms"] = opening;
    state.counters["turns"] = benchmark::Counter(turns, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OpenLog_200kRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
