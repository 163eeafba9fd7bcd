// The trend chart: level %, level mm, distance, temperature and output current over time,
// from the valid polls of this session or from a measurement log opened from disk. Time
// axis with zoom (wheel) and pan (drag), following the newest point until the user looks
// back, up to two value axes (one per unit), the values under the pointer, PNG export.
#pragma once
#include <QChartView>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

#include "trend.h"

class QChart;
class QCheckBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
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
    // when the file cannot be read or is not such a log.
    bool openLog(const QString& path, QString* error);
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
    void appendNewest();
    void assignAxes();
    void fitValues();
    void openLogDialog();
    void exportDialog();

    TrendRecorder& rec_;
    std::vector<TrendPoint> log_;
    bool showingLog_ = false;
    bool following_ = true;
    bool pending_ = false;         // a catch-up with the recorder is queued
    double lastPlotted_ = -1e300;  // time of the newest session point in the series
    double span_ = 600;            // seconds on the time axis while following
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
