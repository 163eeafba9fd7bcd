#include "traffic_window.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include "catch_up.h"
#include "vek_app.h"

namespace vek::tools {

namespace {

// Pale enough that the text stays readable; a request takes the colour of nothing.
QColor colourOf(TrafficKind k)
{
    switch (k) {
    case TrafficKind::Request: return {};
    case TrafficKind::Valid: return QColor(0xdf, 0xf5, 0xdf);
    case TrafficKind::FailedCheck: return QColor(0xff, 0xe0, 0xb8);
    case TrafficKind::Exception: return QColor(0xff, 0xf3, 0xb0);
    case TrafficKind::NoResponse: return QColor(0xe4, 0xe4, 0xe4);
    case TrafficKind::SerialError: return QColor(0xff, 0xc8, 0xc8);
    }
    return {};
}

}  // namespace

TrafficModel::TrafficModel(const TrafficRecorder& rec, QObject* parent)
    : QAbstractTableModel(parent), rec_(rec), first_(rec.firstSeq()), end_(rec.endSeq())
{
}

int TrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(end_ - first_);
}

int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kTrafficColumns; }

const TrafficFrame* TrafficModel::frameAt(int row) const
{
    const std::uint64_t seq = first_ + static_cast<std::uint64_t>(row);
    return row >= 0 && seq < end_ && rec_.holds(seq) ? &rec_.at(seq) : nullptr;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    const TrafficFrame* f = frameAt(index.row());
    if (role == Qt::DisplayRole) {
        if (!f)
            return index.column() == 0 ? QStringLiteral("(no longer kept)") : QString();
        return QString::fromStdString(TrafficRow(*f)[static_cast<std::size_t>(index.column())]);
    }
    if (role == Qt::BackgroundRole && f) {
        const QColor c = colourOf(f->kind);
        return c.isValid() ? QVariant(c) : QVariant();
    }
    if (role == Qt::ToolTipRole && f && index.column() == 2)
        return QString::fromStdString(CountOf(static_cast<long long>(f->bytes.size()), "byte", "bytes"));
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (role != Qt::DisplayRole || o != Qt::Horizontal || section < 0 || section >= kTrafficColumns)
        return {};
    return QString::fromStdString(TrafficHeader()[static_cast<std::size_t>(section)]);
}

void TrafficModel::sync()
{
    const std::uint64_t first = rec_.firstSeq(), end = rec_.endSeq();
    if (first == first_ && end == end_)
        return;
    if (first > end_ || end < end_) {
        // Cleared, or everything shown has gone: start over from what is kept.
        beginResetModel();
        first_ = first;
        end_ = end;
        endResetModel();
        return;
    }
    if (first > first_) {
        beginRemoveRows({}, 0, static_cast<int>(first - first_) - 1);
        first_ = first;
        endRemoveRows();
    }
    if (end > end_) {
        const int rows = rowCount();
        beginInsertRows({}, rows, rows + static_cast<int>(end - end_) - 1);
        end_ = end;
        endInsertRows();
    }
}

void ErrorsOnlyFilter::setErrorsOnly(bool on)
{
    on_ = on;
    invalidateFilter();
}

bool ErrorsOnlyFilter::filterAcceptsRow(int row, const QModelIndex&) const
{
    if (!on_)
        return true;
    const auto* m = static_cast<const TrafficModel*>(sourceModel());
    const TrafficFrame* f = m->frameAt(row);
    return f && f->failedExchange;
}

TrafficWindow::TrafficWindow(TrafficRecorder& rec, QWidget* parent)
    : QWidget(parent, Qt::Window), rec_(rec), model_(rec)
{
    setWindowTitle(QStringLiteral("Traffic"));
    filter_.setSourceModel(&model_);
    table_ = new QTableView(this);
    table_->setModel(&filter_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->setWordWrap(false);
    const int widths[kTrafficColumns] = {170, 30, 330, 380, 230, 70};
    for (int c = 0; c < kTrafficColumns; ++c)
        table_->setColumnWidth(c, widths[c]);

    errorsOnly_ = new QCheckBox(QStringLiteral("Errors only"), this);
    pause_ = new QPushButton(QStringLiteral("Pause"), this);
    auto* clearButton = new QPushButton(QStringLiteral("Clear"), this);
    auto* save = new QPushButton(QStringLiteral("Save As..."), this);
    auto* quit = new QPushButton(QStringLiteral("Quit"), this);
    status_ = new QLabel(this);
    connect(errorsOnly_, &QCheckBox::toggled, this, [this](bool on) { setErrorsOnly(on); });
    connect(pause_, &QPushButton::clicked, this, [this] { setPaused(!paused_); });
    connect(clearButton, &QPushButton::clicked, this, [this] { clear(); });
    connect(save, &QPushButton::clicked, this, [this] { saveAs(); });
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(errorsOnly_);
    buttons->addWidget(pause_);
    buttons->addWidget(clearButton);
    buttons->addWidget(save);
    buttons->addStretch();
    buttons->addWidget(status_);
    buttons->addWidget(quit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(1240, 520);
}

TrafficWindow::~TrafficWindow() { rec_.onChange = nullptr; }

void TrafficWindow::showEvent(QShowEvent* e)
{
    // Opening late shows what came before: catch up with the recorder, then listen.
    // A frame only marks the table stale; the table catches up once the poll's callback has
    // returned, so the polling never waits for the table or its repaint.
    rec_.onChange = CatchUpLater(this, pending_, [this] { follow(); });
    follow();
    QWidget::showEvent(e);
    // The newest rows are what the user opened the window for; the table knows its height
    // only once it has been laid out, so scroll after that.
    QMetaObject::invokeMethod(table_, &QTableView::scrollToBottom, Qt::QueuedConnection);
}

void TrafficWindow::hideEvent(QHideEvent* e)
{
    rec_.onChange = nullptr;
    QWidget::hideEvent(e);
}

void TrafficWindow::follow()
{
    if (paused_)
        return;
    // Stay at the newest row only when the user is there already: reading back is not
    // interrupted by each poll.
    QScrollBar* bar = table_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 1;
    model_.sync();
    if (atEnd)
        table_->scrollToBottom();
    status_->setText(QString::fromStdString(CountOf(static_cast<long long>(rec_.size()), "frame kept", "frames kept")));
}

void TrafficWindow::setPaused(bool paused)
{
    paused_ = paused;
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!paused)
        follow();
    else
        status_->setText(QStringLiteral("Paused"));
}

void TrafficWindow::setErrorsOnly(bool on)
{
    if (errorsOnly_->isChecked() != on)
        errorsOnly_->setChecked(on);  // comes back here through toggled
    filter_.setErrorsOnly(on);
}

void TrafficWindow::clear()
{
    rec_.Clear();
    model_.sync();
}

bool TrafficWindow::saveTo(const QString& path, QString* error) const
{
    QFile file(path);
    const std::string text = TrafficText(rec_, filter_.errorsOnly(), model_.firstSeq(), model_.endSeq());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        if (error)
            *error = "\"" + path + "\": " + file.errorString();
        return false;
    }
    return true;
}

void TrafficWindow::saveAs()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Traffic"), QStringLiteral("traffic.txt"),
                                     QStringLiteral("Text (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, &error))
        QMessageBox::warning(this, QStringLiteral("File I/O Error"), error);
}

}  // namespace vek::tools
