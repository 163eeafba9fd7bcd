// The trend chart: level %, level mm, distance, temperature and output current over time,
// from the valid polls of this session or from a measurement log opened from disk. Time
// axis with zoom (wheel) and pan (drag), following the newest point until the user looks
// back, up to two value axes (one per unit), the values under the pointer, PNG export.
// The chart is handed only what its pixels can show (TrendPointsToDraw) and a log is read a
// slice at a time between the window's events, so neither a long day nor a large log holds
// the window up.
#pragma once
#include <QChartView>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "trend.h"

class QChart;
class QCheckBox;
class QElapsedTimer;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace vek::tools {

// The chart's view: wheel zooms the time axis around the pointer, a drag pans it, a
// double-click shows everything. It tells the window whenever the user moved the time axis.
class TrendChartView : public QChartView {
public:
    using QChartView::QChartView;
    // Times in seconds since the epoch.
    std::function<void(double centre, double factor)> onZoom;
    std::function<void(double seconds)> onPan;
    std::function<void(double time)> onPointer;
    std::function<void()> onShowAll;

protected:
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    bool dragging_ = false;
    QPointF last_;
};

class TrendWindow : public QWidget {
public:
    explicit TrendWindow(TrendRecorder& rec, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // Shows the series `s` (true) or hides it; false when that would need a third unit.
    bool showSeries(int s, bool on);
    bool seriesShown(int s) const;
    // Plots a measurement log; false, with the reason in `error` and the chart unchanged,
    // when the file cannot be read or is not such a log. The log is read a slice at a time
    // in the event loop (logSlice): what one slice reads is read here at once, so a small log
    // is plotted on return; a larger one goes on loading (loadingLog, its progress in the
    // status line) while the chart keeps what it showed. A row found wrong later leaves the
    // chart as it was too, with the reason in loadError and, when the log was chosen in the
    // window, in a message.
    bool openLog(const QString& path, QString* error);
    bool loadingLog() const { return static_cast<bool>(loading_); }
    // Rows of the log being loaded read so far.
    std::size_t logRowsRead() const;
    // Why the last log could not be plotted; empty when it was.
    const QString& loadError() const { return loadError_; }
    // Stops loading a log; the chart stays as it was.
    void cancelLoad();
    // Rows read in each turn of the event loop while a log loads: 0 (the program's) reads for
    // about 20 ms a turn, whatever the machine; tests set a count.
    void setLogSlice(std::size_t rows) { sliceRows_ = rows; }
    // Back to this session's polls.
    void showSession();
    bool showingLog() const { return showingLog_; }

    void setFollowing(bool on);
    bool following() const { return following_; }
    // Shows [from, to] (seconds since the epoch) on the time axis, as a zoom or pan would.
    void showTimeRange(double from, double to, bool byUser);
    std::pair<double, double> timeRange() const;
    int pointsShown(int s) const;
    // The chart and the line of series `s`: where its points are drawn.
    QChart* chart() const { return view_->chart(); }
    QLineSeries* series(int s) const { return series_[static_cast<std::size_t>(s)]; }
    // The text the pointer line shows for time `t`: the nearest point's values.
    QString valuesAt(double t) const;
    bool exportPng(const QString& path) const;
    QString status() const;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    std::size_t count() const;
    const TrendPoint& pointAt(std::size_t i) const;
    // The first point at or after time t.
    std::size_t lowerBound(double t) const;
    void reload();
    // Hands each shown series the points the plot's pixel columns can show over the time
    // axis's range; hidden series hold none.
    void redraw();
    int plotColumns() const;
    // One slice of the log being loaded, until `turn` has run for about 20 ms; true once its
    // reading is done.
    bool readLogSlice(const QElapsedTimer& turn);
    // Plots the log just read, or says why it cannot be.
    bool finishLoad(QString* error);
    void appendNewest();
    void assignAxes();
    void fitValues();
    void openLogDialog();
    void exportDialog();

    TrendRecorder& rec_;
    std::vector<TrendPoint> log_;
    bool showingLog_ = false;
    bool following_ = true;
    bool pending_ = false;  // a catch-up with the recorder is queued
    double span_ = 600;     // seconds on the time axis while following
    int columns_ = 0;       // the pixel columns the series were last drawn for
    std::unique_ptr<LogReader> loading_;
    QString loadingPath_;
    QString loadError_;
    bool loadFromDialog_ = false;
    std::size_t sliceRows_ = 0;
    QTimer* loadTimer_ = nullptr;
    QPushButton* cancel_ = nullptr;
    TrendChartView* view_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    std::array<QValueAxis*, 2> valueAxes_{};
    std::array<QLineSeries*, kTrendSeriesCount> series_{};
    std::array<QCheckBox*, kTrendSeriesCount> boxes_{};
    QCheckBox* follow_ = nullptr;
    QLabel* pointer_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace vek::tools
