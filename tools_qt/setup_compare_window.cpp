#include "setup_compare_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vek::tools {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QString stateText(SetupRow::State s)
{
    switch (s) {
    case SetupRow::State::Same: return QStringLiteral("same");
    case SetupRow::State::Differs: return QStringLiteral("differs");
    case SetupRow::State::Written: return QStringLiteral("restored");
    case SetupRow::State::Failed: return QStringLiteral("failed");
    case SetupRow::State::NotWritten: return QStringLiteral("differs");
    }
    return {};
}

}  // namespace

QColor SetupCompareWindow::colourOf(SetupRow::State s)
{
    // The traffic window's palette: pale enough to read through.
    switch (s) {
    case SetupRow::State::Same: return {};
    case SetupRow::State::Differs:
    case SetupRow::State::NotWritten: return QColor(0xff, 0xe0, 0xb8);
    case SetupRow::State::Written: return QColor(0xdf, 0xf5, 0xdf);
    case SetupRow::State::Failed: return QColor(0xff, 0xc8, 0xc8);
    }
    return {};
}

SetupCompareWindow::SetupCompareWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Compare Set Up"));
    heading_ = new QLabel(this);
    heading_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_ = new QLabel(this);
    note_->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
    note_->setWordWrap(true);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    table_ = new QTableWidget(0, 6, this);
    table_->setObjectName(QStringLiteral("COMPARE_TABLE"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Register"), QStringLiteral("Name"), QStringLiteral("Backup"),
                                       QStringLiteral("Transmitter"), QStringLiteral("State"),
                                       QStringLiteral("Restore")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->setVisible(false);
    // One line of text a row: all 43 values fit on a screen.
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    differencesOnly_ = new QCheckBox(QStringLiteral("Differences only"), this);
    differencesOnly_->setObjectName(QStringLiteral("DIFFERENCES_ONLY"));
    connect(differencesOnly_, &QCheckBox::toggled, this, [this] { applyFilter(); });
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(differencesOnly_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(note_);
    layout->addWidget(table_, 1);
    layout->addWidget(summary_);
    layout->addLayout(buttons);
    resize(980, 720);
}

void SetupCompareWindow::setComparison(const SetupComparison& c)
{
    c_ = c;
    heading_->setText(QStringLiteral("Backup: %1\nMade %2, of a %3\nTransmitter now: %4")
                          .arg(q(c.file), q(c.made), q(c.backupOf), q(c.transmitter)));
    note_->setText(q(c.note));
    note_->setVisible(!c.note.empty());
    const int differing = c.differing();
    summary_->setText(c.summary.empty() ? QStringLiteral("%1 of %2 values differ.").arg(differing).arg(c.rows.size())
                                        : q(c.summary));
    table_->setRowCount(static_cast<int>(c.rows.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const SetupRow& r = c.rows[static_cast<std::size_t>(i)];
        const QString cells[] = {QString::number(r.reg), q(r.name),          q(r.backup),
                                 q(r.transmitter),       stateText(r.state), q(r.outcome)};
        const QColor colour = colourOf(r.state);
        for (int col = 0; col < 6; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (colour.isValid())
                item->setBackground(colour);
            if (col == 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(i, col, item);
        }
    }
    table_->resizeColumnsToContents();
    applyFilter();
    setWindowTitle(QStringLiteral("Compare Set Up: %1 differ").arg(differing));
}

void SetupCompareWindow::setDifferencesOnly(bool on) { differencesOnly_->setChecked(on); }

void SetupCompareWindow::applyFilter()
{
    const bool only = differencesOnly_->isChecked();
    for (int i = 0; i < table_->rowCount(); ++i)
        table_->setRowHidden(i, only && c_.rows[static_cast<std::size_t>(i)].state == SetupRow::State::Same);
}

}  // namespace vek::tools
