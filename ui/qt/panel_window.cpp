#include "qt/panel_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "qt/view_style.h"

namespace vek::ui::qt {

void PanelWindow::keyPressEvent(QKeyEvent* e)
{
    // Escape is the Quit button of a dialog or secondary window, never of the main window.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && escapeCloses_) {
        emit closeRequested(handle_);
        return;
    }
    QWidget::keyPressEvent(e);
}

void PanelWindow::closeEvent(QCloseEvent* e)
{
    // The window manager's close button is the window's Quit button: the callback behind it
    // discards the panel, which is what takes the window away.
    e->ignore();
    emit closeRequested(handle_);
}

namespace {

QWidget* layOutSection(WindowView& wv, const Panel& panel, const SectionPlan& s, bool framed, const MakeControl& make)
{
    QWidget* win = wv.window;
    QWidget* box;
    if (s.titleCtrl) {
        box = make(*panel.find(s.titleCtrl), Role::FrameTitle, win);
    } else if (framed) {
        box = new QGroupBox(qstr(s.title), win);
    } else {
        box = new QWidget(win);
    }
    if (s.horizontal) {
        auto* row = new QHBoxLayout(box);
        for (const RowPlan& r : s.rows)
            row->addWidget(make(*panel.find(r.ctrl), Role::Plain, box));
        row->addStretch(1);
    } else {
        auto* grid = new QGridLayout(box);
        if (!framed)
            grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(style::kCellSpacing);
        // Rows fill `split` blocks of label, value, unit and gap columns, top to bottom.
        constexpr int kBlockColumns = 4;
        const int blocks = std::max(1, s.split);
        const int perBlock = std::max<int>(1, (static_cast<int>(s.rows.size()) + blocks - 1) / blocks);
        int index = 0, lines = 0;
        for (const RowPlan& r : s.rows) {
            const int line = index % perBlock, col = (index / perBlock) * kBlockColumns;
            ++index;
            lines = std::max(lines, line + 1);
            if (col > 0)
                grid->setColumnMinimumWidth(col - 1, style::kBlockGap);
            grid->setColumnStretch(col + 1, 1);
            const Control& c = *panel.find(r.ctrl);
            if (c.kind == Kind::TextMsg && !r.label && !r.unit && !r.lamp) {
                grid->addWidget(make(c, Role::Caption, box), line, col, 1, 3);
                continue;
            }
            QWidget* lead = nullptr;
            if (r.lamp) {
                lead = make(*panel.find(r.lamp), Role::Plain, box);
            } else if (r.label) {
                lead = make(*panel.find(r.label), Role::Plain, box);
                wv.ctrls[c.id].labelMsg = r.label;
            } else if (!c.label.empty() && !AdapterFor(c.kind).labelsItself()) {
                auto* l = new QLabel(qstr(c.label), box);
                wv.ctrls[c.id].label = l;
                lead = l;
            }
            QWidget* w = make(c, Role::Plain, box);
            if (auto* l = qobject_cast<QLabel*>(lead))
                l->setBuddy(w);
            const Qt::Alignment align = AdapterFor(c.kind).cellAlignment();
            if (lead) {
                grid->addWidget(lead, line, col, r.lamp ? Qt::AlignCenter : Qt::Alignment());
                grid->addWidget(w, line, col + 1, 1, r.unit ? 1 : 2, align);
            } else {
                grid->addWidget(w, line, col, 1, r.unit ? 2 : 3, align);
            }
            if (r.unit)
                grid->addWidget(make(*panel.find(r.unit), Role::Plain, box), line, col + 2);
        }
        if (!s.side.empty()) {
            auto* side = new QVBoxLayout;
            for (int id : s.side) {
                const Control& c = *panel.find(id);
                auto* l = new QLabel(qstr(c.label), box);
                l->setAlignment(Qt::AlignHCenter);
                side->addWidget(l);
                side->addWidget(make(c, Role::Plain, box), 1, Qt::AlignHCenter);
                wv.ctrls[id].label = l;
            }
            grid->addLayout(side, 0, blocks * kBlockColumns, std::max(lines, 1), 1);
        }
        grid->setRowStretch(lines, 1);
    }
    return box;
}

}  // namespace

void LayOutWindow(WindowView& wv, const Panel& panel, const MakeControl& make)
{
    QWidget* win = wv.window;
    auto* root = new QVBoxLayout(win);
    root->setSizeConstraint(QLayout::SetMinimumSize);
    auto* header = new QHBoxLayout;
    header->setSpacing(style::kHeaderSpacing);
    wv.header = header;
    root->addLayout(header);
    for (int id : wv.plan.header)
        header->addWidget(make(*panel.find(id), Role::Headline, win));
    header->addStretch(1);

    const bool framed = wv.plan.sections.size() > 1 ||
                        std::any_of(wv.plan.sections.begin(), wv.plan.sections.end(),
                                    [](const SectionPlan& s) { return s.titleCtrl || !s.title.empty(); });
    auto* columns = new QHBoxLayout;
    columns->setSpacing(style::kColumnSpacing);
    std::vector<QVBoxLayout*> cols;
    for (int i = 0; i < wv.plan.columns; ++i) {
        cols.push_back(new QVBoxLayout);
        cols.back()->setSpacing(style::kFrameSpacing);
        columns->addLayout(cols.back(), 1);
    }
    root->addLayout(columns);
    std::vector<QWidget*> wide;

    for (const SectionPlan& s : wv.plan.sections) {
        QWidget* box = layOutSection(wv, panel, s, framed, make);
        if (s.wide)
            wide.push_back(box);
        else
            cols[static_cast<std::size_t>(std::clamp(s.column, 0, wv.plan.columns - 1))]->addWidget(box);
    }
    for (auto* col : cols)
        col->addStretch(1);
    for (QWidget* w : wide)
        root->addWidget(w);

    auto* buttons = new QHBoxLayout;
    for (int id : wv.plan.buttons) {
        if (id == wv.plan.quitCtrl)
            buttons->addStretch(1);
        buttons->addWidget(make(*panel.find(id), Role::Plain, win));
    }
    if (!wv.plan.buttons.empty()) {
        root->addSpacing(style::kButtonRowGap);
        root->addLayout(buttons);
    }
    // Small dialogs still get room for a comfortable entry (a strut, since the layout
    // owns the window's minimum size).
    root->addItem(new QSpacerItem(win->fontMetrics().averageCharWidth() * style::kWindowMinChars, 0, QSizePolicy::Fixed,
                                  QSizePolicy::Fixed));

    for (int id : wv.plan.hidden)
        make(*panel.find(id), Role::Plain, win)->hide();
}

}  // namespace vek::ui::qt
