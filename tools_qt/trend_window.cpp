#include "trend_window.h"

#include <QCheckBox>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "catch_up.h"
#include "vek_app.h"

namespace vek::tools {

namespace {

// While a log loads, each turn of the event loop reads for about this long, looking at the
// clock every so many rows.
constexpr qint64 kSliceMs = 20;
constexpr std::size_t kRowsBetweenLooks = 500;
// The pixel columns assumed before the chart has laid out its plot: more than any screen
// is wide, so nothing is lost; the first layout draws again for the real width.
constexpr int kColumnsBeforeLayout = 4096;

double secondsAt(QChart* chart, QPointF pos) { return chart->mapToValue(pos).x() / 1000.0; }

QDateTime timeOf(double seconds) { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000.0)); }

QString seriesTitle(int s)
{
    const TrendSeriesInfo& i = TrendSeriesOf(s);
    return QString::fromUtf8(i.name) + " [" + QString::fromUtf8(i.unit) + "]";
}

}  // namespace

void TrendChartView::wheelEvent(QWheelEvent* e)
{
    if (onZoom && e->angleDelta().y() != 0)
        onZoom(secondsAt(chart(), e->position()), e->angleDelta().y() > 0 ? 0.8 : 1.25);
    e->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        dragging_ = true;
        last_ = e->position();
    }
    QChartView::mousePressEvent(e);
}

void TrendChartView::mouseMoveEvent(QMouseEvent* e)
{
    if (dragging_ && onPan) {
        onPan(secondsAt(chart(), last_) - secondsAt(chart(), e->position()));
        last_ = e->position();
    }
    if (onPointer)
        onPointer(secondsAt(chart(), e->position()));
    QChartView::mouseMoveEvent(e);
}

void TrendChartView::mouseReleaseEvent(QMouseEvent* e)
{
    dragging_ = false;
    QChartView::mouseReleaseEvent(e);
}

void TrendChartView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (onShowAll)
        onShowAll();
    e->accept();
}

TrendWindow::TrendWindow(TrendRecorder& rec, QWidget* parent) : QWidget(parent, Qt::Window), rec_(rec)
{
    setWindowTitle(QStringLiteral("Trend"));
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    // A new width (the window resized, or the axes' labels grown) draws again for it, once
    // the layout is done.
    connect(
        chart, &QChart::plotAreaChanged, this,
        [this] {
            if (plotColumns() != columns_)
                redraw();
        },
        Qt::QueuedConnection);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(7);
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    valueAxes_[0] = new QValueAxis;
    valueAxes_[1] = new QValueAxis;
    chart->addAxis(valueAxes_[0], Qt::AlignLeft);
    chart->addAxis(valueAxes_[1], Qt::AlignRight);
    for (int s = 0; s < kTrendSeriesCount; ++s) {
        series_[s] = new QLineSeries;
        series_[s]->setName(seriesTitle(s));
        chart->addSeries(series_[s]);
        series_[s]->attachAxis(timeAxis_);
        series_[s]->setVisible(false);
    }
    view_ = new TrendChartView(chart, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMouseTracking(true);
    view_->onZoom = [this](double centre, double factor) {
        const auto [from, to] = timeRange();
        showTimeRange(centre - (centre - from) * factor, centre + (to - centre) * factor, true);
    };
    view_->onPan = [this](double seconds) {
        const auto [from, to] = timeRange();
        showTimeRange(from + seconds, to + seconds, true);
    };
    view_->onPointer = [this](double t) { pointer_->setText(valuesAt(t)); };
    view_->onShowAll = [this] {
        if (count() > 0)
            showTimeRange(pointAt(0).wallTime, std::max(pointAt(count() - 1).wallTime, pointAt(0).wallTime + 60), true);
    };

    auto* choice = new QHBoxLayout;
    for (int s = 0; s < kTrendSeriesCount; ++s) {
        boxes_[s] = new QCheckBox(seriesTitle(s), this);
        connect(boxes_[s], &QCheckBox::clicked, this, [this, s](bool on) {
            if (!showSeries(s, on))
                status_->setText(QStringLiteral("Two units at most: hide a series of another unit first."));
        });
        choice->addWidget(boxes_[s]);
    }
    choice->addStretch();
    follow_ = new QCheckBox(QStringLiteral("Follow"), this);
    connect(follow_, &QCheckBox::clicked, this, [this](bool on) { setFollowing(on); });
    choice->addWidget(follow_);

    pointer_ = new QLabel(this);
    status_ = new QLabel(this);
    auto* openLog = new QPushButton(QStringLiteral("Open Log..."), this);
    auto* session = new QPushButton(QStringLiteral("Session"), this);
    auto* png = new QPushButton(QStringLiteral("Export PNG..."), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setToolTip(QStringLiteral("Stop loading the log; the chart stays as it is"));
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelLoad(); });
    loadTimer_ = new QTimer(this);
    loadTimer_->setInterval(0);
    connect(loadTimer_, &QTimer::timeout, this, [this] {
        QElapsedTimer turn;
        turn.start();
        if (readLogSlice(turn))
            finishLoad(nullptr);
        else
            status_->setText(status());
    });
    auto* quit = new QPushButton(QStringLiteral("Quit"), this);
    connect(openLog, &QPushButton::clicked, this, [this] { openLogDialog(); });
    connect(session, &QPushButton::clicked, this, [this] { showSession(); });
    connect(png, &QPushButton::clicked, this, [this] { exportDialog(); });
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openLog);
    buttons->addWidget(session);
    buttons->addWidget(png);
    buttons->addWidget(status_, 1);
    buttons->addWidget(cancel_);
    buttons->addWidget(quit);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choice);
    layout->addWidget(view_, 1);
    layout->addWidget(pointer_);
    layout->addLayout(buttons);
    resize(1000, 600);

    showSeries(kLevelPercent, true);
    showSeries(kLevelMm, true);
    setFollowing(true);
    reload();
}

TrendWindow::~TrendWindow() { rec_.onChange = nullptr; }

std::size_t TrendWindow::count() const { return showingLog_ ? log_.size() : rec_.points().size(); }

const TrendPoint& TrendWindow::pointAt(std::size_t i) const { return showingLog_ ? log_[i] : rec_.points()[i]; }

std::size_t TrendWindow::lowerBound(double t) const
{
    std::size_t lo = 0, hi = count();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (pointAt(mid).wallTime < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void TrendWindow::showEvent(QShowEvent* e)
{
    // Catch up with the polls made while the window was closed, then follow them.
    // As in the traffic window: a poll only queues the catch-up, the chart work comes after.
    rec_.onChange = CatchUpLater(this, pending_, [this] { appendNewest(); });
    if (!showingLog_)
        reload();
    QWidget::showEvent(e);
}

void TrendWindow::hideEvent(QHideEvent* e)
{
    rec_.onChange = nullptr;
    QWidget::hideEvent(e);
}

void TrendWindow::reload()
{
    // Every branch sets the time range, which draws the series for it.
    if (count() == 0) {
        const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        showTimeRange(now - span_, now, false);
    } else if (following_ && !showingLog_) {
        const double last = pointAt(count() - 1).wallTime;
        showTimeRange(last - span_, last, false);
    } else {
        view_->onShowAll();
    }
    status_->setText(status());
}

void TrendWindow::redraw()
{
    const auto [from, to] = timeRange();
    columns_ = plotColumns();
    for (int s = 0; s < kTrendSeriesCount; ++s) {
        if (!series_[s]->isVisible()) {
            if (series_[s]->count() > 0)
                series_[s]->clear();
            continue;
        }
        const std::vector<std::size_t> keep = showingLog_ ? TrendPointsToDraw(log_, s, from, to, columns_)
                                                          : TrendPointsToDraw(rec_.points(), s, from, to, columns_);
        QList<QPointF> pts;
        pts.reserve(static_cast<qsizetype>(keep.size()));
        for (std::size_t i : keep)
            pts.append(QPointF(pointAt(i).wallTime * 1000.0, pointAt(i).values[static_cast<std::size_t>(s)]));
        series_[s]->replace(pts);
    }
}

int TrendWindow::plotColumns() const
{
    const double width = view_->chart()->plotArea().width();
    return width >= 2 ? static_cast<int>(std::ceil(width)) : kColumnsBeforeLayout;
}

void TrendWindow::appendNewest()
{
    if (showingLog_ || rec_.points().empty())
        return;
    // Whatever came since the last catch-up (several polls when it was queued behind more
    // than one); the recorder drops points older than a day, and the series with it.
    if (following_) {
        const double last = rec_.points().back().wallTime;
        showTimeRange(last - span_, last, false);
    } else {
        redraw();
        fitValues();
    }
    status_->setText(status());
}

bool TrendWindow::showSeries(int s, bool on)
{
    if (on) {
        QStringList units;
        for (int o = 0; o < kTrendSeriesCount; ++o)
            if (o == s || series_[o]->isVisible())
                if (!units.contains(QString::fromUtf8(TrendSeriesOf(o).unit)))
                    units << QString::fromUtf8(TrendSeriesOf(o).unit);
        if (units.size() > 2) {
            boxes_[s]->setChecked(false);
            return false;
        }
    }
    series_[s]->setVisible(on);
    boxes_[s]->setChecked(on);
    assignAxes();
    redraw();
    return true;
}

bool TrendWindow::seriesShown(int s) const { return series_[s]->isVisible(); }

void TrendWindow::assignAxes()
{
    // The first unit shown takes the left axis, the second the right one.
    QStringList units;
    for (int s = 0; s < kTrendSeriesCount; ++s) {
        for (QValueAxis* a : valueAxes_)
            if (series_[s]->attachedAxes().contains(a))
                series_[s]->detachAxis(a);
        if (!series_[s]->isVisible())
            continue;
        const QString unit = QString::fromUtf8(TrendSeriesOf(s).unit);
        if (!units.contains(unit))
            units << unit;
        series_[s]->attachAxis(valueAxes_[static_cast<std::size_t>(units.indexOf(unit))]);
    }
    for (std::size_t a = 0; a < 2; ++a) {
        valueAxes_[a]->setVisible(static_cast<qsizetype>(a) < units.size());
        if (static_cast<qsizetype>(a) < units.size())
            valueAxes_[a]->setTitleText(units[static_cast<qsizetype>(a)]);
    }
    fitValues();
}

void TrendWindow::fitValues()
{
    const auto [from, to] = timeRange();
    const std::size_t first = lowerBound(from), end = lowerBound(to + 1e-3);
    for (QValueAxis* axis : valueAxes_) {
        double lo = INFINITY, hi = -INFINITY;
        for (int s = 0; s < kTrendSeriesCount; ++s) {
            if (!series_[s]->isVisible() || !series_[s]->attachedAxes().contains(axis))
                continue;
            for (std::size_t i = first; i < end; ++i) {
                const double v = pointAt(i).values[static_cast<std::size_t>(s)];
                if (std::isfinite(v)) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
        }
        if (!(lo <= hi)) {
            lo = 0;
            hi = 1;
        }
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
        axis->setRange(lo - pad, hi + pad);
    }
}

void TrendWindow::setFollowing(bool on)
{
    following_ = on;
    follow_->setChecked(on);
    if (on && count() > 0 && !showingLog_) {
        const double last = pointAt(count() - 1).wallTime;
        showTimeRange(last - span_, last, false);
    }
}

void TrendWindow::showTimeRange(double from, double to, bool byUser)
{
    if (to - from < 1.0)
        to = from + 1.0;
    if (byUser) {
        span_ = to - from;
        // Looking back stops the following; coming back to the newest point resumes it.
        const bool atEnd = !showingLog_ && count() > 0 && to >= pointAt(count() - 1).wallTime;
        following_ = atEnd;
        follow_->setChecked(atEnd);
    }
    timeAxis_->setFormat(to - from > 86400 ? QStringLiteral("dd.MM HH:mm")
                                           : (to - from > 120 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss")));
    timeAxis_->setRange(timeOf(from), timeOf(to));
    fitValues();
    redraw();
}

std::pair<double, double> TrendWindow::timeRange() const
{
    return {static_cast<double>(timeAxis_->min().toMSecsSinceEpoch()) / 1000.0,
            static_cast<double>(timeAxis_->max().toMSecsSinceEpoch()) / 1000.0};
}

int TrendWindow::pointsShown(int s) const { return static_cast<int>(series_[s]->count()); }

QString TrendWindow::valuesAt(double t) const
{
    if (count() == 0)
        return {};
    std::size_t i = lowerBound(t);
    if (i == count() || (i > 0 && t - pointAt(i - 1).wallTime < pointAt(i).wallTime - t))
        i = i == 0 ? 0 : i - 1;
    const TrendPoint& p = pointAt(i);
    QString text = timeOf(p.wallTime).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (int s = 0; s < kTrendSeriesCount; ++s)
        if (series_[s]->isVisible())
            text += QStringLiteral("   %1 %2 %3")
                        .arg(QString::fromUtf8(TrendSeriesOf(s).name))
                        .arg(p.values[static_cast<std::size_t>(s)], 0, 'f', s == kLevelMm || s == kDistanceMm ? 0 : 2)
                        .arg(QString::fromUtf8(TrendSeriesOf(s).unit));
    return text;
}

bool TrendWindow::openLog(const QString& path, QString* error)
{
    cancelLoad();
    loadFromDialog_ = false;
    QElapsedTimer turn;  // reading the file counts in this turn's slice
    turn.start();
    loading_ = std::make_unique<LogReader>(LogReader::OfFile(QFile::encodeName(path).toStdString()));
    loadingPath_ = path;
    if (readLogSlice(turn))
        return finishLoad(error);
    loadTimer_->start();
    cancel_->show();
    status_->setText(status());
    return true;
}

std::size_t TrendWindow::logRowsRead() const { return loading_ ? loading_->rowsRead() : 0; }

bool TrendWindow::readLogSlice(const QElapsedTimer& turn)
{
    if (sliceRows_ > 0)
        return loading_->Read(sliceRows_);
    while (!loading_->Read(kRowsBetweenLooks))
        if (turn.elapsed() >= kSliceMs)
            return false;
    return true;
}

bool TrendWindow::finishLoad(QString* error)
{
    loadTimer_->stop();
    cancel_->hide();
    LogReadResult r = std::move(loading_->result());
    loading_.reset();
    if (!r.ok) {
        loadError_ = QString::fromLocal8Bit(r.error.data(), static_cast<qsizetype>(r.error.size()));
        status_->setText(status());
        if (error)
            *error = loadError_;
        else if (loadFromDialog_)
            QMessageBox::warning(this, QStringLiteral("Open Log"), loadError_);
        return false;
    }
    loadError_.clear();
    log_ = std::move(r.points);
    std::stable_sort(log_.begin(), log_.end(),
                     [](const TrendPoint& a, const TrendPoint& b) { return a.wallTime < b.wallTime; });
    showingLog_ = true;
    following_ = false;
    follow_->setChecked(false);
    setWindowTitle("Trend - " + loadingPath_);
    reload();
    return true;
}

void TrendWindow::cancelLoad()
{
    if (!loading_)
        return;
    loadTimer_->stop();
    loading_.reset();
    cancel_->hide();
    status_->setText(status());
}

void TrendWindow::showSession()
{
    cancelLoad();
    showingLog_ = false;
    log_.clear();
    setWindowTitle(QStringLiteral("Trend"));
    setFollowing(true);
    reload();
}

bool TrendWindow::exportPng(const QString& path) const { return view_->grab().save(path, "PNG"); }

QString TrendWindow::status() const
{
    if (loading_)
        return QStringLiteral("Loading log... %1%").arg(static_cast<int>(loading_->fractionRead() * 100));
    const auto n = static_cast<long long>(count());
    return QString::fromStdString(showingLog_ ? CountOf(n, "row of the log", "rows of the log")
                                              : CountOf(n, "poll of this session", "polls of this session"));
}

void TrendWindow::openLogDialog()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Log"), {},
                                                      QStringLiteral("Logs (*.xls *.txt *.log);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!openLog(path, &error))
        QMessageBox::warning(this, QStringLiteral("Open Log"), error);
    else
        loadFromDialog_ = loadingLog();  // a row found wrong later is said in a message too
}

void TrendWindow::exportDialog()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"), QStringLiteral("trend.png"),
                                                      QStringLiteral("PNG images (*.png)"));
    if (!path.isEmpty() && !exportPng(path))
        QMessageBox::warning(this, QStringLiteral("Export PNG"), "\"" + path + "\" could not be written.");
}

}  // namespace vek::tools
