#include "qt/qt_panel_view.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

#include "qt/control_widgets.h"
#include "qt/view_style.h"

namespace vek::ui::qt {

namespace {

// Set on every widget (and its inner widgets) that renders a control, so the event filter
// knows whose double-click it saw without a lookup table to keep in step.
constexpr const char* kHandleProp = "vekPanel";
constexpr const char* kCtrlProp = "vekCtrl";

QString qs(const std::string& s) { return QString::fromStdString(s); }

bool isWhole(DataType t)
{
    return t == DataType::Int || t == DataType::Short || t == DataType::UShort || t == DataType::UInt;
}

double asDouble(const Value& v)
{
    if (const auto* n = std::get_if<long long>(&v))
        return static_cast<double>(*n);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    return 0.0;
}

long long asWhole(const Value& v)
{
    if (const auto* n = std::get_if<long long>(&v))
        return *n;
    if (const auto* d = std::get_if<double>(&v))
        return std::isfinite(*d) ? std::llround(*d) : 0;
    return 0;
}

std::pair<double, double> typeRange(DataType t)
{
    switch (t) {
    case DataType::Short: return {-32768.0, 32767.0};
    case DataType::UShort: return {0.0, 65535.0};
    case DataType::UInt: return {0.0, 4294967295.0};
    case DataType::Int: return {double(INT_MIN), double(INT_MAX)};
    default: return {-1e9, 1e9};
    }
}

QString rangeText(double v) { return QString::number(v, 'g', 12); }

QString formatNumber(const Control& c)
{
    if (const auto* d = std::get_if<double>(&c.value)) {
        if (c.precision >= 0)
            return QString::number(*d, 'f', c.precision);
        return QString::number(*d, 'g', c.type == DataType::Float ? 7 : 15);
    }
    if (const auto* n = std::get_if<long long>(&c.value))
        return QString::number(*n);
    return qs(std::get<std::string>(c.value));
}

// Lamps that report a fault light red; the others (relay states) light green.
QColor lampColour(const Control& c)
{
    return QColor(c.constant.find("ERROR") != std::string::npos ? style::kFaultLamp : style::kStateLamp);
}

bool isIndicatorField(const QWidget* w)
{
    const auto* le = qobject_cast<const QLineEdit*>(w);
    return le && le->isReadOnly();
}

// Colours a control's text. The program's text colours (white, yellow) are meant for a dark
// display field; on our light windows they would vanish, so a light text colour also gets
// a dark ground under it.
void applyLook(QWidget* w, int rgb)
{
    QPalette pal = QApplication::palette(w);
    if (isIndicatorField(w)) {
        // Display-only fields look like displays, not like boxes waiting for typing.
        pal.setColor(QPalette::Base, pal.color(QPalette::Window).darker(style::kDisplayFieldShade));
    }
    if (rgb >= 0) {
        const QColor col = QColor::fromRgb(static_cast<QRgb>(rgb));
        for (auto group : {QPalette::Active, QPalette::Inactive})
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                pal.setColor(group, role, col);
        if (qGray(col.rgb()) > style::kLightText) {
            const QColor ground(style::kDarkGround);
            pal.setColor(QPalette::Base, ground);
            pal.setColor(QPalette::Window, ground);
        }
    }
    w->setPalette(pal);
    if (qobject_cast<QLabel*>(w))
        w->setAutoFillBackground(rgb >= 0 && qGray(QColor::fromRgb(static_cast<QRgb>(rgb)).rgb()) > style::kLightText);
}

}  // namespace

std::optional<Value> ParseNumberEntry(const Control& c, const QString& text, QString* why)
{
    const bool whole = isWhole(c.type);
    const auto [tlo, thi] = typeRange(c.type);
    const double lo = c.min.value_or(tlo), hi = c.max.value_or(thi);
    const QString name = c.label.empty() ? QStringLiteral("This value") : qs(c.label);
    const QString accepted = QStringLiteral("%1 takes %2 from %3 to %4.")
                                 .arg(name, whole ? QStringLiteral("a whole number") : QStringLiteral("a number"),
                                      rangeText(lo), rangeText(hi));
    auto refuse = [&](const QString& reason) -> std::optional<Value> {
        if (why)
            *why = reason + QLatin1Char(' ') + accepted + QStringLiteral(" Nothing was written or changed.");
        return std::nullopt;
    };
    if (text.isEmpty())
        return refuse(QStringLiteral("Nothing was typed."));
    // Digits only, as typed: a sign, digits, and for a fractional control one point.
    int i = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    int digits = 0, point = -1;
    for (; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
            ++digits;
        else if (ch == QLatin1Char('.') && point < 0 && !whole)
            point = i;
        else
            return refuse(QStringLiteral("\"%1\" is not %2.").arg(text, whole ? QStringLiteral("a whole number")
                                                                              : QStringLiteral("a number")));
    }
    if (digits == 0 || (point >= 0 && point == text.size() - 1))
        return refuse(QStringLiteral("\"%1\" is not a number.").arg(text));
    bool ok = false;
    const double d = text.toDouble(&ok);  // the C locale: '.' is the only point
    if (!ok || !std::isfinite(d) || d < lo || d > hi)
        return refuse(QStringLiteral("%1 is out of range.").arg(text));
    if (whole)
        return Value(text.toLongLong());
    return Value(c.type == DataType::Float ? static_cast<double>(static_cast<float>(d)) : d);
}

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

QtPanelView::QtPanelView(PanelModel& model, QObject* parent) : QObject(parent), model_(model)
{
    model_.setObserver(this);
    for (int h : model_.handles()) {
        panelLoaded(h);
        if (const Panel* p = model_.panel(h); p && p->visible)
            panelShown(h);
    }
}

QtPanelView::~QtPanelView()
{
    model_.setObserver(nullptr);
    for (auto& [h, wv] : windows_)
        delete wv->window;
    for (auto& w : dying_)
        delete w.data();
}

QtPanelView::WindowView* QtPanelView::find(int handle)
{
    auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second.get();
}

const QtPanelView::CtrlView* QtPanelView::findCtrl(int handle, int ctrl) const
{
    auto it = windows_.find(handle);
    if (it == windows_.end())
        return nullptr;
    auto c = it->second->ctrls.find(ctrl);
    return c == it->second->ctrls.end() ? nullptr : &c->second;
}

PanelWindow* QtPanelView::window(int handle) const
{
    auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second->window;
}

QWidget* QtPanelView::controlWidget(int handle, int ctrl) const
{
    const CtrlView* cv = findCtrl(handle, ctrl);
    return cv ? cv->widget : nullptr;
}

// --- building a window ---

QWidget* QtPanelView::makeControl(WindowView& wv, const Control& c, Role role, QWidget* parent)
{
    QWidget* w = nullptr;
    switch (c.kind) {
    case Kind::Numeric:
        if (c.indicator) {
            auto* le = new QLineEdit(parent);
            le->setReadOnly(true);
            le->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            le->setFocusPolicy(Qt::ClickFocus);  // Tab walks the inputs, not every display
            le->setMinimumWidth(le->fontMetrics().horizontalAdvance(QString(style::kNumberFieldMinDigits, QChar('0'))) +
                                style::kFieldChrome);
            le->setMaximumWidth(le->fontMetrics().horizontalAdvance(QString(style::kNumberFieldMaxDigits, QChar('0'))) +
                                style::kFieldChrome);
            w = le;
        } else {
            // A plain text box, no validator and no spin arrows: a validator silently drops
            // the characters it dislikes ("300" becomes "30"), so the box shows exactly what
            // was typed and Enter decides, with a message when it refuses.
            auto* le = new QLineEdit(parent);
            le->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            le->setMinimumWidth(le->fontMetrics().horizontalAdvance(QString(style::kNumberFieldMinDigits, QChar('0'))) +
                                style::kFieldChrome);
            le->setMaximumWidth(le->fontMetrics().horizontalAdvance(QString(style::kNumberFieldMaxDigits, QChar('0'))) +
                                style::kFieldChrome);
            w = le;
        }
        break;
    case Kind::String: {
        auto* le = new QLineEdit(parent);
        le->setReadOnly(c.indicator);
        if (c.indicator)
            le->setFocusPolicy(Qt::ClickFocus);
        if (c.maxLength > 0)
            le->setMaxLength(c.maxLength);
        if (c.maxLength > 0 && c.maxLength <= style::kShortTextMaxChars) {
            // A field for a few characters should look like one.
            le->setFixedWidth(le->fontMetrics().horizontalAdvance(QString(c.maxLength + 1, QChar('W'))) +
                              style::kFieldChrome);
            le->setAlignment(Qt::AlignCenter);
        } else {
            le->setMinimumWidth(le->fontMetrics().horizontalAdvance(QString(style::kTextFieldMinChars, QChar('x'))) +
                                style::kFieldChrome);
        }
        w = le;
        break;
    }
    case Kind::TextMsg: {
        if (c.elideMiddle) {
            auto* el = new ElidedLabel(parent);
            el->setFullText(qs(c.label));
            w = el;
            break;
        }
        auto* l = new QLabel(qs(c.label), parent);
        if (role == Role::Headline) {
            QFont f = l->font();
            f.setBold(true);
            f.setPointSizeF(f.pointSizeF() * style::kHeadlineScale);
            l->setFont(f);
        }
        l->setWordWrap(role == Role::Caption);
        w = l;
        break;
    }
    case Kind::Ring: {
        QStringList labels;
        for (const auto& it : c.items)
            labels << qs(it.label);
        auto* ring = new RingBox(labels, parent);
        ring->setReadOnly(c.indicator);
        w = ring;
        break;
    }
    case Kind::RingSlide:
    case Kind::Binary: {
        QStringList labels;
        for (const auto& it : c.items)
            labels << qs(it.label);
        w = new ChoiceButtons(labels, parent);
        break;
    }
    case Kind::Led: w = new LedLamp(lampColour(c), parent); break;
    case Kind::Button: {
        auto* b = new QPushButton(qs(c.label), parent);
        b->setAutoDefault(false);
        w = b;
        break;
    }
    case Kind::Tank: {
        auto* g = new TankGauge(parent);
        g->setRange(c.min.value_or(0.0), c.max.value_or(100.0));
        w = g;
        break;
    }
    case Kind::Picture: w = new PictureBox(parent); break;
    case Kind::Decoration:
    case Kind::Timer: {
        // Frames carry no position in the resource, so the sections draw the frames, and a
        // timer has nothing to show; both stay invisible widgets (the plan hides them) so
        // every control has a widget and attributes set on them still land somewhere.
        w = new QFrame(parent);
        break;
    }
    }
    w->setObjectName(qs(c.constant));
    CtrlView& cv = wv.ctrls[c.id];
    cv.widget = w;
    cv.role = role;
    wire(wv.window->handle(), c, w);
    attachFilters(wv.window->handle(), c.id, w);
    return w;
}

void QtPanelView::wire(int handle, const Control& c, QWidget* w)
{
    const int id = c.id;
    if (auto* b = qobject_cast<QPushButton*>(w); b && c.kind == Kind::Button) {
        connect(b, &QPushButton::clicked, this, [this, handle, id] { userEvent(handle, id, EVENT_COMMIT); });
    } else if (auto* num = qobject_cast<QLineEdit*>(w); num && c.kind == Kind::Numeric && !c.indicator) {
        connect(num, &QLineEdit::returnPressed, this, [this, handle, id] { numberEntered(handle, id); });
        // Enter also ends editing, with the focus still in the box; only leaving it counts here.
        connect(num, &QLineEdit::editingFinished, this, [this, handle, id, num] {
            if (!num->hasFocus())
                numberLeft(handle, id);
        });
    } else if (auto* le = qobject_cast<QLineEdit*>(w); le && c.kind == Kind::String && !c.indicator) {
        connect(le, &QLineEdit::returnPressed, this, [this, handle, id, le] {
            le->setModified(false);
            userEnter(handle, id, le->text().toStdString());
        });
        // Leaving a changed field commits it, as Enter would; an unchanged one says nothing.
        connect(le, &QLineEdit::editingFinished, this, [this, handle, id, le] {
            const Control* ctl = model_.control(handle, id);
            const Value typed = le->text().toStdString();
            le->setModified(false);
            if (ctl && ctl->value != typed)
                userValue(handle, id, typed);
        });
    } else if (auto* ring = qobject_cast<RingBox*>(w)) {
        connect(ring, &QComboBox::activated, this, [this, handle, id](int index) {
            const Control* ctl = model_.control(handle, id);
            if (ctl && index >= 0 && index < static_cast<int>(ctl->items.size()))
                userValue(handle, id, ctl->items[static_cast<std::size_t>(index)].value);
            else
                syncValue(handle, id);  // the "? (N)" entry is not a choice
        });
    } else if (auto* choice = qobject_cast<ChoiceButtons*>(w)) {
        connect(choice, &ChoiceButtons::chosen, this, [this, handle, id](int index) {
            const Control* ctl = model_.control(handle, id);
            if (!ctl || index >= static_cast<int>(ctl->items.size()))
                return;
            const long long v = ctl->items[static_cast<std::size_t>(index)].value;
            // Pressing the state already shown changes nothing and says nothing.
            if (ctl->value != Value(v))
                userValue(handle, id, v);
        });
    }
}

void QtPanelView::attachFilters(int handle, int ctrl, QWidget* w)
{
    QList<QWidget*> targets{w};
    targets += w->findChildren<QWidget*>();
    for (QWidget* t : targets) {
        t->setProperty(kHandleProp, handle);
        t->setProperty(kCtrlProp, ctrl);
        t->installEventFilter(this);
    }
}

QWidget* QtPanelView::buildSection(WindowView& wv, const Panel& panel, const SectionPlan& s, bool framed)
{
    QWidget* win = wv.window;
    QWidget* box;
    if (s.titleCtrl) {
        const Control& t = *panel.find(s.titleCtrl);
        auto* sb = new SectionBox(qs(t.label), win);
        sb->setObjectName(qs(t.constant));
        wv.ctrls[t.id] = {sb, nullptr, Role::FrameTitle};
        box = sb;
    } else if (framed) {
        box = new QGroupBox(qs(s.title), win);
    } else {
        box = new QWidget(win);
    }
    if (s.horizontal) {
        auto* row = new QHBoxLayout(box);
        for (const RowPlan& r : s.rows)
            row->addWidget(makeControl(wv, *panel.find(r.ctrl), Role::Plain, box));
        row->addStretch(1);
    } else {
        auto* grid = new QGridLayout(box);
        if (!framed)
            grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(style::kCellSpacing);
        // Rows fill `split` blocks of label, value, unit and gap columns, top to bottom.
        const int blocks = std::max(1, s.split);
        const int perBlock = std::max<int>(1, (static_cast<int>(s.rows.size()) + blocks - 1) / blocks);
        int index = 0, lines = 0;
        for (const RowPlan& r : s.rows) {
            const int line = index % perBlock, col = (index / perBlock) * 4;
            ++index;
            lines = std::max(lines, line + 1);
            if (col > 0)
                grid->setColumnMinimumWidth(col - 1, style::kBlockGap);
            grid->setColumnStretch(col + 1, 1);
            const Control& c = *panel.find(r.ctrl);
            if (c.kind == Kind::TextMsg && !r.label && !r.unit && !r.lamp) {
                grid->addWidget(makeControl(wv, c, Role::Caption, box), line, col, 1, 3);
                continue;
            }
            QWidget* lead = nullptr;
            if (r.lamp) {
                lead = makeControl(wv, *panel.find(r.lamp), Role::Plain, box);
            } else if (r.label) {
                lead = makeControl(wv, *panel.find(r.label), Role::Plain, box);
                wv.ctrls[c.id].labelMsg = r.label;
            } else if (!c.label.empty() && c.kind != Kind::Button) {
                auto* l = new QLabel(qs(c.label), box);
                wv.ctrls[c.id].label = l;
                lead = l;
            }
            QWidget* w = makeControl(wv, c, Role::Plain, box);
            if (auto* l = qobject_cast<QLabel*>(lead))
                l->setBuddy(w);
            const Qt::Alignment align = (c.kind == Kind::Led || c.kind == Kind::Button) ? Qt::AlignLeft : Qt::Alignment();
            if (lead) {
                grid->addWidget(lead, line, col, r.lamp ? Qt::AlignCenter : Qt::Alignment());
                grid->addWidget(w, line, col + 1, 1, r.unit ? 1 : 2, align);
            } else {
                grid->addWidget(w, line, col, 1, r.unit ? 2 : 3, align);
            }
            if (r.unit)
                grid->addWidget(makeControl(wv, *panel.find(r.unit), Role::Plain, box), line, col + 2);
        }
        if (!s.side.empty()) {
            auto* side = new QVBoxLayout;
            for (int id : s.side) {
                const Control& c = *panel.find(id);
                auto* l = new QLabel(qs(c.label), box);
                l->setAlignment(Qt::AlignHCenter);
                side->addWidget(l);
                side->addWidget(makeControl(wv, c, Role::Plain, box), 1, Qt::AlignHCenter);
                wv.ctrls[id].label = l;
            }
            grid->addLayout(side, 0, blocks * 4, std::max(lines, 1), 1);
        }
        grid->setRowStretch(lines, 1);
    }
    return box;
}

void QtPanelView::build(int handle)
{
    const Panel* p = model_.panel(handle);
    if (!p)
        return;
    auto owned = std::make_unique<WindowView>();
    WindowView& wv = *owned;
    wv.plan = PlanPanel(*p);
    auto* win = new PanelWindow(handle);
    win->setEscapeCloses(p->escapeCloses);
    wv.window = win;
    win->setObjectName(qs(p->constant));
    connect(win, &PanelWindow::closeRequested, this, [this](int h) {
        WindowView* v = find(h);
        if (!v)
            return;
        if (v->plan.quitCtrl)
            userEvent(h, v->plan.quitCtrl, EVENT_COMMIT);
        else
            model_.HidePanel(h);  // nothing to press: the window just goes out of sight
    });

    auto* root = new QVBoxLayout(win);
    root->setSizeConstraint(QLayout::SetMinimumSize);
    auto* header = new QHBoxLayout;
    header->setSpacing(style::kHeaderSpacing);
    wv.header = header;
    root->addLayout(header);
    for (int id : wv.plan.header) {
        const Control& c = *p->find(id);
        header->addWidget(makeControl(wv, c, c.kind == Kind::TextMsg ? Role::Headline : Role::Plain, win));
    }
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
        QWidget* box = buildSection(wv, *p, s, framed);
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
        buttons->addWidget(makeControl(wv, *p->find(id), Role::Plain, win));
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
        makeControl(wv, *p->find(id), Role::Plain, win)->hide();

    windows_[handle] = std::move(owned);
    for (const auto& c : p->controls) {
        syncValue(handle, c.id);
        syncAttributes(handle, c.id);
    }
    syncTitle(handle);
    win->adjustSize();
}

// --- model -> window ---

void QtPanelView::panelLoaded(int handle) { build(handle); }

void QtPanelView::panelDiscarded(int handle)
{
    auto it = windows_.find(handle);
    if (it == windows_.end())
        return;
    PanelWindow* win = it->second->window;
    windows_.erase(it);
    // The discard may come from a callback that one of this window's own widgets is still
    // inside (its Quit button's click); the window goes out of sight now and is deleted
    // once control is back in the event loop.
    win->hide();
    win->deleteLater();
    dying_.erase(std::remove_if(dying_.begin(), dying_.end(), [](const QPointer<PanelWindow>& w) { return w.isNull(); }),
                 dying_.end());
    dying_.emplace_back(win);
}

void QtPanelView::panelShown(int handle)
{
    if (PanelWindow* w = window(handle)) {
        // Showing a window that is already open brings it forward, so a button that opens
        // an open panel lands the user on it.
        w->show();
        w->raise();
        w->activateWindow();
    }
}

void QtPanelView::panelHidden(int handle)
{
    if (PanelWindow* w = window(handle))
        w->hide();
}

void QtPanelView::panelActivated(int handle)
{
    if (PanelWindow* w = window(handle)) {
        w->raise();
        w->activateWindow();
    }
}

void QtPanelView::panelAttributeChanged(int handle, int attr)
{
    if (attr == ATTR_TITLE)
        syncTitle(handle);
}

void QtPanelView::syncTitle(int handle)
{
    const Panel* p = model_.panel(handle);
    if (PanelWindow* w = window(handle); w && p)
        w->setWindowTitle(qs(p->title));
}

void QtPanelView::controlAdded(int handle, int ctrl)
{
    WindowView* wv = find(handle);
    const Control* c = model_.control(handle, ctrl);
    if (!wv || !c)
        return;
    // Controls made at run time are pictures (the logo): they lead the header.
    QWidget* w = makeControl(*wv, *c, Role::Plain, wv->window);
    wv->header->insertWidget(0, w);
    w->show();  // a layout would only show it on the next turn of the event loop
    syncValue(handle, ctrl);
    syncAttributes(handle, ctrl);
}

void QtPanelView::controlValueChanged(int handle, int ctrl) { syncValue(handle, ctrl); }

void QtPanelView::controlAttributeChanged(int handle, int ctrl, int attr)
{
    syncAttributes(handle, ctrl);
    if (attr == ATTR_LABEL_TEXT)
        syncValue(handle, ctrl);
}

void QtPanelView::controlFocused(int handle, int ctrl)
{
    if (QWidget* w = controlWidget(handle, ctrl))
        w->setFocus(Qt::OtherFocusReason);
}

void QtPanelView::syncValue(int handle, int ctrl)
{
    const Control* c = model_.control(handle, ctrl);
    const CtrlView* cv = findCtrl(handle, ctrl);
    if (!c || !cv || !cv->widget)
        return;
    QWidget* w = cv->widget;
    const QSignalBlocker block(w);
    // Text the user is typing and has not yet committed stays as typed: a readback in the
    // middle of "17" must not leave "1". The model takes the device's value meanwhile, and
    // the box shows it once the focus leaves without a commit.
    if (auto* le = qobject_cast<QLineEdit*>(w); le && !le->isReadOnly() && le->isModified())
        return;
    switch (c->kind) {
    case Kind::Numeric:
        if (auto* le = qobject_cast<QLineEdit*>(w)) {
            const QString text = formatNumber(*c);
            if (le->text() != text)
                le->setText(text);
        }
        break;
    case Kind::String:
        if (auto* le = qobject_cast<QLineEdit*>(w)) {
            const QString text = qs(std::get_if<std::string>(&c->value) ? std::get<std::string>(c->value) : std::string());
            if (le->text() != text)
                le->setText(text);
        }
        break;
    case Kind::TextMsg:
        if (auto* sb = qobject_cast<SectionBox*>(w))
            sb->setTitle(qs(c->label));
        else if (auto* el = qobject_cast<ElidedLabel*>(w))
            el->setFullText(qs(c->label));
        else if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(qs(c->label));
        w->setAccessibleName(qs(c->label));
        // A message that labels a value names that value for screen readers too.
        if (WindowView* wv = find(handle))
            for (auto& [id, other] : wv->ctrls)
                if (other.labelMsg == ctrl)
                    syncAttributes(handle, id);
        break;
    case Kind::Ring:
        if (auto* ring = qobject_cast<RingBox*>(w)) {
            const long long v = asWhole(c->value);
            ring->showItem(c->itemIndexOf(v), v);
        }
        break;
    case Kind::RingSlide:
    case Kind::Binary:
        if (auto* choice = qobject_cast<ChoiceButtons*>(w)) {
            const long long v = asWhole(c->value);
            choice->setCurrent(c->itemIndexOf(v), v);
        }
        break;
    case Kind::Led:
        if (auto* lamp = qobject_cast<LedLamp*>(w))
            lamp->setLit(asWhole(c->value) != 0);
        break;
    case Kind::Tank:
        if (auto* g = qobject_cast<TankGauge*>(w)) {
            const double v = asDouble(c->value);
            g->setValue(v, QString::number(v, 'f', c->precision >= 0 ? c->precision : 1));
        }
        break;
    case Kind::Picture:
        if (auto* pic = qobject_cast<PictureBox*>(w))
            pic->setImage(c->imageLoaded ? qs(c->imagePath) : QString());
        break;
    default:
        break;
    }
}

void QtPanelView::syncAttributes(int handle, int ctrl)
{
    const Control* c = model_.control(handle, ctrl);
    const CtrlView* cv = findCtrl(handle, ctrl);
    if (!c || !cv || !cv->widget)
        return;
    QWidget* w = cv->widget;
    if (auto* sb = qobject_cast<SectionBox*>(w); sb && cv->role == Role::FrameTitle) {
        sb->setTitleDimmed(c->dimmed);
        sb->setTitleColor(c->textColor >= 0 ? QColor::fromRgb(static_cast<QRgb>(c->textColor)) : QColor());
    } else {
        // A drop-down the user cannot change (an indicator) looks it.
        const auto* ring = qobject_cast<RingBox*>(w);
        w->setEnabled(!c->dimmed && !(ring && ring->isReadOnly()));
        applyLook(w, c->textColor);
    }
    if (cv->label) {
        cv->label->setEnabled(!c->dimmed);
        cv->label->setText(qs(c->label));
    }
    // A text message standing in as this value's label greys out with it.
    if (cv->labelMsg)
        if (const CtrlView* lv = findCtrl(handle, cv->labelMsg); lv && lv->widget) {
            const Control* m = model_.control(handle, cv->labelMsg);
            lv->widget->setEnabled(!c->dimmed && !(m && m->dimmed));
        }
    if (auto* le = qobject_cast<QLineEdit*>(w); le && c->kind == Kind::String)
        le->setEchoMode(c->passwordMask ? QLineEdit::Password : QLineEdit::Normal);
    if (auto* b = qobject_cast<QPushButton*>(w); b && c->kind == Kind::Button)
        b->setText(qs(c->label));

    QString name = qs(c->label);
    if (name.isEmpty() && cv->labelMsg)
        if (const Control* m = model_.control(handle, cv->labelMsg))
            name = qs(m->label);
    w->setAccessibleName(name);
}

// --- window -> model ---

void QtPanelView::userValue(int handle, int ctrl, const Value& v)
{
    // A window already let go of is on its way out: hiding it takes the focus from an
    // entry, and that must not commit into a panel the model is discarding.
    if (!find(handle))
        return;
    if (model_.UserSetValue(handle, ctrl, v) < 0)
        syncValue(handle, ctrl);  // refused: show the model's value again
    emit userActionHandled();
}

void QtPanelView::userEvent(int handle, int ctrl, int event)
{
    const Control* c = model_.control(handle, ctrl);
    if (!c || !find(handle))
        return;
    if (event == EVENT_COMMIT && c->kind == Kind::Button)
        commitPendingEdits(handle);
    model_.PostEvent(handle, ctrl, event);
    emit userActionHandled();
}

void QtPanelView::userEnter(int handle, int ctrl, const Value& typed)
{
    const Control* c = model_.control(handle, ctrl);
    if (!c || !find(handle))
        return;
    const bool ownCallback = static_cast<bool>(c->callback);
    // Enter confirms the entry: a new value raises value-changed and commit, an unchanged one
    // commit alone.
    if (c->value != typed)
        userValue(handle, ctrl, typed);
    else
        model_.PostEvent(handle, ctrl, EVENT_COMMIT);
    // An entry with nothing of its own to do hands Enter to the window's Enter button, as a
    // dialog's default button would (the password box, the write dialogs).
    if (WindowView* wv = find(handle); wv && !ownCallback && wv->plan.enterCtrl)
        model_.PostEvent(handle, wv->plan.enterCtrl, EVENT_COMMIT);
    emit userActionHandled();
}

void QtPanelView::numberEntered(int handle, int ctrl)
{
    auto* le = qobject_cast<QLineEdit*>(controlWidget(handle, ctrl));
    const Control* c = model_.control(handle, ctrl);
    if (!le || !c)
        return;
    QString why;
    const std::optional<Value> v = ParseNumberEntry(*c, le->text(), &why);
    if (!v) {
        // Nothing is taken and nothing is written; the box goes back to the model's value.
        le->setModified(false);
        syncValue(handle, ctrl);
        if (presenter_)
            presenter_->MessagePopup("Warning", why.toStdString());
        return;
    }
    le->setModified(false);
    userEnter(handle, ctrl, *v);
}

void QtPanelView::numberLeft(int handle, int ctrl)
{
    auto* le = qobject_cast<QLineEdit*>(controlWidget(handle, ctrl));
    const Control* c = model_.control(handle, ctrl);
    if (!le || !c || !le->isModified())
        return;
    le->setModified(false);
    const std::optional<Value> v = ParseNumberEntry(*c, le->text());
    if (v && *v != c->value)
        userValue(handle, ctrl, *v);
    else
        syncValue(handle, ctrl);
}

void QtPanelView::commitPendingEdits(int handle)
{
    // A button pressed without the focus leaving a half-typed entry (a keyboard shortcut, an
    // accessibility tool) must still see what is typed there, as a focus change would give it.
    WindowView* wv = find(handle);
    if (!wv)
        return;
    std::vector<int> ids;
    for (const auto& [id, cv] : wv->ctrls)
        ids.push_back(id);
    for (int id : ids) {
        const CtrlView* cv = findCtrl(handle, id);
        const Control* c = model_.control(handle, id);
        if (!cv || !c || c->indicator || c->dimmed)
            continue;
        if (auto* num = qobject_cast<QLineEdit*>(cv->widget); num && c->kind == Kind::Numeric) {
            numberLeft(handle, id);
        } else if (auto* le = qobject_cast<QLineEdit*>(cv->widget); le && c->kind == Kind::String) {
            const Value typed = le->text().toStdString();
            if (typed != c->value)
                userValue(handle, id, typed);
        }
    }
}

bool QtPanelView::eventFilter(QObject* watched, QEvent* event)
{
    const QVariant ctrl = watched->property(kCtrlProp);
    if (!ctrl.isValid())
        return false;
    const int handle = watched->property(kHandleProp).toInt();
    const int id = ctrl.toInt();
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        userEvent(handle, id, EVENT_LEFT_DOUBLE_CLICK);
        // Text fields keep their word selection; everything else swallows the double-click so
        // it neither climbs to an enclosing control nor presses a button a second time.
        return qobject_cast<QLineEdit*>(watched) == nullptr;
    }
    return false;
}

}  // namespace vek::ui::qt
