// The traffic and trend windows over the app's recorders, offscreen: rows follow the frames
// (and stand still while paused), the errors-only filter, clear and save; the trend follows
// the polls, keeps at most two units, loads a log (a large one a slice a turn) and refuses a
// file that is not one, and draws what its pixel columns can show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTableView>
#include <QLineSeries>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "log_text.h"
#include "traffic_window.h"
#include "trend_window.h"
#include "vek_app.h"

using namespace vek;
using namespace vek::tools;

namespace {

void recordExchange(TrafficRecorder& r, double t, bool ok)
{
    const std::uint8_t req[] = {1, 3, 0, 0, 0, 78, 0xC5, 0xFE};
    r.Record(t, true, req, sizeof req, TrafficKind::Request, !ok, "sent", -1);
    r.Record(t + 1, false, nullptr, 0, ok ? TrafficKind::Valid : TrafficKind::NoResponse, !ok,
             ok ? "valid" : "-NO RESPONSE-", 1000);
}

// The windows catch up with their recorders in the event loop, after the poll.
void settle() { QCoreApplication::processEvents(); }

std::string readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

TrendPoint point(double t, double percent, double mm)
{
    TrendPoint p;
    p.wallTime = t;
    p.values[kLevelPercent] = percent;
    p.values[kLevelMm] = mm;
    p.values[kTemperature] = 20;
    return p;
}

}  // namespace

TEST(TrafficWindowTest, OpenedLateShowsWhatCameBeforeThenFollows)
{
    TrafficRecorder rec;
    recordExchange(rec, 100, true);
    settle();
    TrafficWindow w(rec);
    EXPECT_FALSE(rec.onChange) << "a window not shown does not listen";
    w.show();
    EXPECT_EQ(w.model().rowCount(), 2);
    recordExchange(rec, 105, false);
    settle();
    EXPECT_EQ(w.model().rowCount(), 4);
    EXPECT_EQ(w.model().data(w.model().index(3, 4), Qt::DisplayRole).toString(), "-NO RESPONSE-");
    EXPECT_TRUE(w.model().data(w.model().index(3, 0), Qt::BackgroundRole).value<QColor>().isValid());
    w.setErrorsOnly(true);
    EXPECT_EQ(w.filter().rowCount(), 2);
    recordExchange(rec, 110, true);
    settle();
    EXPECT_EQ(w.filter().rowCount(), 2) << "a valid exchange is no error";
    EXPECT_EQ(w.model().rowCount(), 6);
    w.close();
    EXPECT_FALSE(rec.onChange) << "a closed window costs the polling nothing";
}

TEST(TrafficWindowTest, PauseHoldsTheRowsAndResumeCatchesUp)
{
    TrafficRecorder rec;
    TrafficWindow w(rec);
    w.show();
    recordExchange(rec, 100, true);
    settle();
    w.setPaused(true);
    recordExchange(rec, 105, true);
    settle();
    recordExchange(rec, 110, false);
    settle();
    EXPECT_EQ(w.model().rowCount(), 2);
    w.setPaused(false);
    EXPECT_EQ(w.model().rowCount(), 6);
    w.clear();
    EXPECT_EQ(w.model().rowCount(), 0);
    EXPECT_EQ(rec.size(), 0u);
    recordExchange(rec, 115, true);
    settle();
    EXPECT_EQ(w.model().rowCount(), 2);
}

TEST(TrafficWindowTest, RowsStayBoundedAsTheRecorderDropsTheOldest)
{
    TrafficRecorder rec;
    TrafficWindow w(rec);
    w.show();
    for (int i = 0; i < 4990; ++i)
        recordExchange(rec, i, i % 2 == 0);
    settle();  // many frames, one catch-up
    // Then one exchange at a time past the bound: the oldest rows leave as new ones come.
    for (int i = 4990; i < 5003; ++i) {
        recordExchange(rec, i, i % 2 == 0);
        settle();
        EXPECT_EQ(w.model().rowCount(), std::min<int>(2 * (i + 1), static_cast<int>(kTrafficCapacity)));
    }
    EXPECT_EQ(w.model().rowCount(), static_cast<int>(kTrafficCapacity));
    EXPECT_EQ(w.model().frameAt(0)->seq, rec.firstSeq());
    EXPECT_EQ(w.model().frameAt(static_cast<int>(kTrafficCapacity) - 1)->seq, rec.endSeq() - 1);
}

TEST(TrafficWindowTest, SavesTheColumnsAsTabSeparatedText)
{
    TrafficRecorder rec;
    recordExchange(rec, 100, true);
    settle();
    recordExchange(rec, 105, false);
    settle();
    TrafficWindow w(rec);
    w.show();
    QTemporaryDir dir;
    const QString all = dir.filePath("all.txt"), errors = dir.filePath("errors.txt");
    ASSERT_TRUE(w.saveTo(all, nullptr));
    w.setErrorsOnly(true);
    ASSERT_TRUE(w.saveTo(errors, nullptr));
    EXPECT_EQ(readAll(all), TrafficText(rec, false));
    EXPECT_EQ(readAll(errors), TrafficText(rec, true));
    QString why;
    EXPECT_FALSE(w.saveTo(dir.filePath("no/such/dir/x.txt"), &why));
    EXPECT_TRUE(why.contains("x.txt"));

    // Paused, the table stands still and what is saved is what it shows, not the frames
    // recorded since.
    const QString paused = dir.filePath("paused.txt");
    w.setPaused(true);
    recordExchange(rec, 110, false);
    settle();
    ASSERT_TRUE(w.saveTo(paused, nullptr));
    EXPECT_EQ(readAll(paused), readAll(errors));
    w.setErrorsOnly(false);
    ASSERT_TRUE(w.saveTo(paused, nullptr));
    const std::string shown = readAll(paused);
    EXPECT_EQ(shown, readAll(all));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1 + w.filter().rowCount())
        << "the header and one line a row shown";
    w.setPaused(false);
    ASSERT_TRUE(w.saveTo(paused, nullptr));
    EXPECT_EQ(readAll(paused), TrafficText(rec, false)) << "resumed, the table shows every frame again";
    EXPECT_NE(readAll(paused), readAll(all));
}

TEST(TrendWindowTest, FollowsThePollsUntilTheUserLooksBack)
{
    TrendRecorder rec;
    for (int i = 0; i < 10; ++i)
        rec.Add(point(1000 + 5 * i, 50 + i, 3000 + i));
    settle();
    TrendWindow w(rec);
    w.show();
    EXPECT_EQ(w.pointsShown(kLevelPercent), 10);
    EXPECT_TRUE(w.following());
    rec.Add(point(1050, 70, 3100));
    settle();
    EXPECT_EQ(w.pointsShown(kLevelMm), 11);
    EXPECT_DOUBLE_EQ(w.timeRange().second, 1050);
    w.showTimeRange(1000, 1020, true);  // the user pans back
    EXPECT_FALSE(w.following());
    rec.Add(point(1055, 71, 3101));
    settle();
    EXPECT_DOUBLE_EQ(w.timeRange().second, 1020) << "looking back is not interrupted";
    w.setFollowing(true);
    EXPECT_DOUBLE_EQ(w.timeRange().second, 1055);
    EXPECT_NEAR(w.timeRange().second - w.timeRange().first, 20, 1e-3) << "the zoom the user chose stays";
    EXPECT_TRUE(w.valuesAt(1006).contains("Level 51.00 %")) << w.valuesAt(1006).toStdString();
    EXPECT_TRUE(w.valuesAt(1006).contains("Level 3001 mm"));
}

TEST(TrendWindowTest, TwoUnitsAtMost)
{
    TrendRecorder rec;
    TrendWindow w(rec);
    EXPECT_TRUE(w.seriesShown(kLevelPercent));
    EXPECT_TRUE(w.seriesShown(kLevelMm));
    EXPECT_TRUE(w.showSeries(kDistanceMm, true)) << "millimetres already have an axis";
    EXPECT_FALSE(w.showSeries(kTemperature, true));
    EXPECT_FALSE(w.seriesShown(kTemperature));
    EXPECT_TRUE(w.showSeries(kLevelPercent, false));
    EXPECT_TRUE(w.showSeries(kTemperature, true));
}

TEST(TrendWindowTest, OpensALogAndRefusesAForeignFile)
{
    TrendRecorder rec;
    rec.Add(point(5000, 1, 1));
    settle();
    TrendWindow w(rec);
    w.show();
    EXPECT_EQ(w.status(), "1 poll of this session");
    QTemporaryDir dir;
    const QString log = dir.filePath("run.xls"), other = dir.filePath("notes.txt"), pipe = dir.filePath("pipe.xls");
    {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Uneven steps in time, and level % and mm going opposite ways: a point drawn at its
        // neighbour's time, a second or a month off, or on the other series' axis lands elsewhere.
        const std::string text = LogHeader() + "03-14-2016\t17:05:09\t 1234\t 3000\t20.0\t21.5\t10.1\t   0\tON\tOFF\n" +
                                 "03-14-2016\t17:05:14\t 1230\t 1000\t80.0\t21.5\t10.2\t   0\tON\tOFF\n" +
                                 "03-14-2016\t17:06:09\t 1232\t 2500\t50.0\t21.5\t10.2\t   0\tON\tOFF\n";
        f.write(text.data(), static_cast<qint64>(text.size()));
        QFile g(other);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("shopping list\n");
    }
    QString why;
    EXPECT_FALSE(w.openLog(other, &why));
    EXPECT_TRUE(why.contains("notes.txt") && why.contains("not a measurement log")) << why.toStdString();
    // Neither a pipe nor a device is read (a watchdog ends the test should one be waited on).
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    ::alarm(10);
    EXPECT_FALSE(w.openLog(pipe, &why));
    EXPECT_EQ(why, "\"" + pipe + "\": it is a named pipe, not a log file.");
    EXPECT_FALSE(w.openLog("/dev/zero", &why));
    EXPECT_EQ(why, "\"/dev/zero\": it is a character device, not a log file.");
    ::alarm(0);
    EXPECT_FALSE(w.showingLog());
    EXPECT_EQ(w.pointsShown(kLevelPercent), 1);
    ASSERT_TRUE(w.openLog(log, &why)) << why.toStdString();
    EXPECT_TRUE(w.showingLog());
    EXPECT_EQ(w.pointsShown(kLevelPercent), 3);
    EXPECT_EQ(w.status(), "3 rows of the log");

    // 17:05:09 UTC on 14 March 2016 is 1457975109 s after the epoch; the series holds
    // milliseconds. Shown from 10 s before it over 100 s, the three rows fall at 10 %, 15 %
    // and 70 % of the plot's width.
    const double t0 = 1457975109;
    EXPECT_EQ(w.series(kLevelPercent)->at(0), QPointF(t0 * 1000, 20.0));
    EXPECT_EQ(w.series(kLevelMm)->at(2), QPointF((t0 + 60) * 1000, 2500.0));
    w.showTimeRange(t0 - 10, t0 + 90, true);
    settle();
    // Each unit's axis spans its values with 5 % to spare: % over 17 to 83, mm over 900 to 3100.
    const struct {
        int series, row;
        double across, up;  // fractions of the plot area from its left and bottom edges
    } places[] = {
        {kLevelPercent, 0, 0.10, 3.0 / 66}, {kLevelPercent, 1, 0.15, 63.0 / 66}, {kLevelPercent, 2, 0.70, 0.5},
        {kLevelMm, 0, 0.10, 2100.0 / 2200}, {kLevelMm, 1, 0.15, 100.0 / 2200},   {kLevelMm, 2, 0.70, 1600.0 / 2200},
    };
    const QRectF area = w.chart()->plotArea();
    ASSERT_GT(area.width(), 100);
    for (const auto& p : places) {
        QLineSeries* s = w.series(p.series);
        const QPointF at = w.chart()->mapToPosition(s->at(p.row), s);
        EXPECT_NEAR((at.x() - area.left()) / area.width(), p.across, 1.5 / area.width())
            << "series " << p.series << " row " << p.row;
        EXPECT_NEAR((area.bottom() - at.y()) / area.height(), p.up, 1.5 / area.height())
            << "series " << p.series << " row " << p.row;
    }

    rec.Add(point(5005, 2, 2));
    settle();
    EXPECT_EQ(w.pointsShown(kLevelPercent), 3) << "a poll does not land in the log's chart";
    w.showSession();
    EXPECT_EQ(w.pointsShown(kLevelPercent), 2);
    EXPECT_EQ(w.status(), "2 polls of this session");
    EXPECT_FALSE(w.showingLog());

    const QString png = dir.filePath("trend.png");
    ASSERT_TRUE(w.exportPng(png));
    QImage img(png);
    EXPECT_FALSE(img.isNull());
    EXPECT_GT(img.width(), 100);
}

namespace {

// Whether the series has a point at time t (seconds).
bool drawnAt(QLineSeries* s, double t)
{
    for (const QPointF& p : s->points())
        if (p.x() == t * 1000)
            return true;
    return false;
}

}  // namespace

TEST(TrendWindowTest, DrawsWhatThePixelsCanShowAndEveryPointWhenZoomedIn)
{
    // 20,000 polls a second apart: level % a saw-tooth with a single spike, level mm counting up.
    TrendRecorder rec(30000);
    const double t0 = 100000;
    const auto level = [](int i) { return i == 12345 ? 95.0 : 40 + (i % 100) * 0.1; };
    for (int i = 0; i < 20000; ++i)
        rec.Add(point(t0 + i, level(i), 1000 + i));
    TrendWindow w(rec);
    w.resize(900, 500);
    w.show();
    w.showTimeRange(t0, t0 + 19999, true);
    settle();
    settle();
    QLineSeries* percent = w.series(kLevelPercent);
    const int columns = static_cast<int>(std::ceil(w.chart()->plotArea().width()));
    ASSERT_GT(columns, 100);
    EXPECT_LE(percent->count(), 4 * columns) << "more than four points a pixel column";
    EXPECT_GE(percent->count(), columns) << "a column left empty";
    EXPECT_EQ(percent->at(0), QPointF(t0 * 1000, 40.0));
    EXPECT_EQ(percent->at(percent->count() - 1), QPointF((t0 + 19999) * 1000, level(19999)));
    EXPECT_TRUE(drawnAt(percent, t0 + 12345)) << "the spike was dropped";
    const auto highest = [percent] {
        double hi = -INFINITY;
        for (const QPointF& p : percent->points())
            hi = std::max(hi, p.y());
        return hi;
    };
    EXPECT_EQ(highest(), 95.0);

    // The values under the pointer come from every point, drawn or not.
    int hidden = 1;
    while (drawnAt(percent, t0 + hidden) || drawnAt(w.series(kLevelMm), t0 + hidden))
        ++hidden;
    ASSERT_LT(hidden, 20000);
    EXPECT_TRUE(w.valuesAt(t0 + hidden).contains(QString("Level %1 mm").arg(1000 + hidden)))
        << w.valuesAt(t0 + hidden).toStdString();

    // A narrower window draws fewer points, still with the spike.
    const int wide = percent->count();
    w.resize(500, 500);
    settle();
    settle();
    EXPECT_LT(percent->count(), wide);
    EXPECT_LE(percent->count(), 4 * static_cast<int>(std::ceil(w.chart()->plotArea().width())));
    EXPECT_EQ(highest(), 95.0);

    // Zoomed in to a minute: its 61 points exactly, and the one on either side.
    w.showTimeRange(t0 + 12300, t0 + 12360, true);
    settle();
    ASSERT_EQ(percent->count(), 63);
    for (int k = 0; k < 63; ++k)
        EXPECT_EQ(percent->at(k), QPointF((t0 + 12299 + k) * 1000, level(12299 + k))) << k;
    EXPECT_EQ(w.series(kLevelMm)->at(46), QPointF((t0 + 12345) * 1000, 1000 + 12345));
}

TEST(TrendWindowTest, ALargeLogLoadsASliceATurnWhileTheChartGoesOn)
{
    TrendRecorder rec;
    rec.Add(point(5000, 1, 1));
    TrendWindow w(rec);
    w.show();
    settle();
    QTemporaryDir dir;
    const QString good = dir.filePath("run.xls"), bad = dir.filePath("bad.xls");
    for (const auto& [path, text] : {std::pair{good, test::LogText(1000)}, std::pair{bad, test::LogText(1000, 700)}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
    }
    w.setLogSlice(100);
    QString why;
    ASSERT_TRUE(w.openLog(good, &why)) << why.toStdString();
    EXPECT_TRUE(w.loadingLog());
    EXPECT_EQ(w.logRowsRead(), 100u) << "one slice read before the window goes back to its events";
    EXPECT_TRUE(w.status().startsWith("Loading log... ")) << w.status().toStdString();
    EXPECT_FALSE(w.showingLog());
    int turns = 0;
    std::size_t rows = w.logRowsRead();
    QString said = w.status();
    while (w.loadingLog()) {
        if (turns == 2)
            rec.Add(point(5006, 2, 2));  // a poll while the log loads
        QCoreApplication::processEvents();
        ++turns;
        ASSERT_LT(turns, 50) << "the log never finished loading";
        if (!w.loadingLog())
            break;
        EXPECT_GT(w.logRowsRead(), rows) << "turn " << turns << " read nothing";
        EXPECT_LE(w.logRowsRead() - rows, 100u) << "turn " << turns << " read more than its slice";
        rows = w.logRowsRead();
        EXPECT_NE(w.status(), said) << "the progress stood still";
        said = w.status();
        if (turns == 3) {
            EXPECT_EQ(w.pointsShown(kLevelPercent), 2) << "the session's chart stopped following the polls";
        }
    }
    EXPECT_EQ(turns, 9);
    EXPECT_TRUE(w.showingLog());
    EXPECT_TRUE(w.loadError().isEmpty());
    EXPECT_EQ(w.status(), "1000 rows of the log");
    QLineSeries* percent = w.series(kLevelPercent);
    EXPECT_EQ(percent->at(0), QPointF(test::LogRowTime(0) * 1000, 0.0));
    EXPECT_EQ(percent->at(percent->count() - 1), QPointF(test::LogRowTime(999) * 1000, 99.9));

    // A bad row far in: the chart stays as it was, and says why.
    w.showSession();
    ASSERT_TRUE(w.openLog(bad, &why));
    for (int turn = 0; w.loadingLog() && turn < 50; ++turn)
        QCoreApplication::processEvents();
    EXPECT_FALSE(w.showingLog());
    EXPECT_EQ(w.loadError(), "\"" + bad + "\": Line 702 is not a row of a measurement log.");
    EXPECT_EQ(w.status(), "2 polls of this session");
    EXPECT_EQ(w.pointsShown(kLevelPercent), 2);

    // Cancelled, or left for the session: nothing more is read.
    for (bool bySession : {false, true}) {
        ASSERT_TRUE(w.openLog(good, &why));
        ASSERT_TRUE(w.loadingLog());
        if (bySession)
            w.showSession();
        else
            w.cancelLoad();
        EXPECT_FALSE(w.loadingLog());
        settle();
        settle();
        EXPECT_FALSE(w.showingLog());
        EXPECT_EQ(w.status(), "2 polls of this session");
    }
}
