#include "qt/control_widgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "qt/view_style.h"

namespace vek::ui::qt {

// --- LedLamp ---

LedLamp::LedLamp(QColor onColor, QWidget* parent) : QWidget(parent), on_(onColor)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LedLamp::setLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
}

QSize LedLamp::sizeHint() const
{
    const int d = fontMetrics().height() + style::kLampMargin;
    return {d, d};
}

void LedLamp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = std::min(width(), height()) - style::kLampOutlineRoom;
    const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    QColor base = lit_ ? on_ : on_.darker(330);
    if (!isEnabled()) {
        // Dimmed: the lamp keeps its state but loses its colour, like the text around it.
        const int g = qGray(base.rgb());
        base = QColor(g, g, g).lighter(lit_ ? 110 : 160);
    }
    QRadialGradient grad(r.center() - QPointF(d * 0.18, d * 0.18), d * 0.65);
    grad.setColorAt(0.0, base.lighter(lit_ ? 170 : 130));
    grad.setColorAt(1.0, base);
    p.setBrush(grad);
    p.setPen(QPen(palette().color(QPalette::Shadow), 1.0));
    p.drawEllipse(r);
}

// --- TankGauge ---

TankGauge::TankGauge(QWidget* parent) : QWidget(parent) { setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding); }

void TankGauge::setRange(double min, double max)
{
    min_ = min;
    max_ = max > min ? max : min + 1.0;
    update();
}

void TankGauge::setValue(double v, const QString& text)
{
    value_ = v;
    text_ = text;
    update();
}

QSize TankGauge::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int w = std::max(fm.horizontalAdvance("100") + style::kGaugeScaleGap + style::kGaugeTankGap +
                               fm.height() * style::kGaugeTankWidthLines,
                           fm.horizontalAdvance("-100.0 ") + style::kGaugeValueMargin);
    return {w, fm.height() * style::kGaugeHeightLines};
}

QSize TankGauge::minimumSizeHint() const
{
    return {sizeHint().width(), fontMetrics().height() * style::kGaugeMinHeightLines};
}

void TankGauge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm = fontMetrics();
    const int scaleW = fm.horizontalAdvance("100") + style::kGaugeScaleGap;
    const int th = fm.height();
    // Half a line above the tank for the top number, a line and a half below for the value.
    const QRectF body(scaleW + style::kGaugeTankGap, th / 2.0,
                      width() - scaleW - (style::kGaugeTankGap + style::kGaugeRightMargin),
                      height() - th * 2.0 - style::kGaugeValueGap);
    const QPalette& pal = palette();

    // Scale: five ticks over the range, labelled with whole numbers.
    p.setPen(pal.color(QPalette::WindowText));
    for (int i = 0; i <= 4; ++i) {
        const double y = body.bottom() - body.height() * i / 4.0;
        p.drawLine(QPointF(body.left() - style::kGaugeTickLength, y), QPointF(body.left(), y));
        const QString label = QString::number(std::lround(min_ + (max_ - min_) * i / 4.0));
        p.drawText(QRectF(0, y - th / 2.0, scaleW, th), Qt::AlignRight | Qt::AlignVCenter, label);
    }

    p.setPen(QPen(pal.color(QPalette::Mid), 1.0));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRoundedRect(body, style::kGaugeTankRadius, style::kGaugeTankRadius);
    const double frac = std::clamp((value_ - min_) / (max_ - min_), 0.0, 1.0);
    if (frac > 0.0 && std::isfinite(frac)) {
        constexpr int inset = style::kGaugeFillInset;
        QRectF fill = body.adjusted(inset, inset, -inset, -inset);
        fill.setTop(fill.bottom() - fill.height() * frac);
        p.setPen(Qt::NoPen);
        p.setBrush(isEnabled() ? QColor(style::kGaugeLevel) : pal.color(QPalette::Mid));
        p.drawRoundedRect(fill, style::kGaugeFillRadius, style::kGaugeFillRadius);
    }

    p.setPen(pal.color(QPalette::WindowText));
    p.drawText(QRectF(0, body.bottom() + style::kGaugeValueGap, width(), th * 1.5), Qt::AlignHCenter | Qt::AlignVCenter,
               text_);
}

// --- ChoiceButtons ---

ChoiceButtons::ChoiceButtons(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_.setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* b = new QPushButton(labels[i], this);
        b->setCheckable(true);
        b->setAccessibleName(labels[i]);
        group_.addButton(b, i);
        buttons_.push_back(b);
        row->addWidget(b);
        // A pressed-in button alone is easy to misread as the greyed-out one; the chosen
        // state wears the selection colour instead.
        connect(b, &QAbstractButton::toggled, b, [b](bool on) {
            if (!on) {
                b->setPalette(QPalette());  // back to the switch's own colours
                return;
            }
            QPalette pal = b->parentWidget()->palette();
            for (auto group : {QPalette::Active, QPalette::Inactive}) {
                pal.setColor(group, QPalette::Button, pal.color(group, QPalette::Highlight));
                pal.setColor(group, QPalette::ButtonText, pal.color(group, QPalette::HighlightedText));
            }
            b->setPalette(pal);
        });
    }
    unknown_ = new QLabel(this);
    unknown_->setObjectName(QStringLiteral("unknown"));
    unknown_->setContentsMargins(style::kUnknownValueIndent, 0, 0, 0);
    unknown_->hide();
    row->addWidget(unknown_);
    connect(&group_, &QButtonGroup::idClicked, this, &ChoiceButtons::chosen);
}

QString ChoiceButtons::unknownText() const { return unknown_->isHidden() ? QString() : unknown_->text(); }

void ChoiceButtons::setCurrent(int index, long long raw)
{
    if (index >= 0 && index < count()) {
        unknown_->hide();
        buttons_[static_cast<std::size_t>(index)]->setChecked(true);
        return;
    }
    unknown_->setText(QStringLiteral("? (%1)").arg(raw));
    unknown_->show();
    // An exclusive group cannot be emptied while exclusive.
    group_.setExclusive(false);
    for (auto* b : buttons_)
        b->setChecked(false);
    group_.setExclusive(true);
}

int ChoiceButtons::current() const { return group_.checkedId(); }

QAbstractButton* ChoiceButtons::button(int index) const
{
    return index >= 0 && index < count() ? buttons_[static_cast<std::size_t>(index)] : nullptr;
}

// --- RingBox ---

RingBox::RingBox(const QStringList& labels, QWidget* parent)
    : QComboBox(parent), items_(static_cast<int>(labels.size()))
{
    addItems(labels);
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
}

void RingBox::showItem(int index, long long raw)
{
    if (count() > items_)
        removeItem(items_);
    if (index >= 0 && index < items_) {
        setCurrentIndex(index);
        return;
    }
    addItem(QStringLiteral("? (%1)").arg(raw));
    setCurrentIndex(items_);
}

void RingBox::showPopup()
{
    if (!readOnly_)
        QComboBox::showPopup();
}

void RingBox::keyPressEvent(QKeyEvent* e)
{
    if (readOnly_) {
        e->ignore();
        return;
    }
    QComboBox::keyPressEvent(e);
}

void RingBox::wheelEvent(QWheelEvent* e)
{
    if (readOnly_) {
        e->ignore();
        return;
    }
    QComboBox::wheelEvent(e);
}

// --- SectionBox ---

void SectionBox::setTitleDimmed(bool d)
{
    dimmed_ = d;
    update();
}

void SectionBox::setTitleColor(const QColor& c)
{
    color_ = c;
    update();
}

void SectionBox::paintEvent(QPaintEvent*)
{
    QStyleOptionGroupBox opt;
    initStyleOption(&opt);
    // Styles differ in what they read for the title (Fusion takes the window text colour
    // and ignores textColor), so both carry the title's colour.
    QColor title = dimmed_ ? palette().color(QPalette::Disabled, QPalette::WindowText) : color_;
    if (title.isValid()) {
        opt.textColor = title;
        opt.palette.setColor(QPalette::WindowText, title);
    }
    if (!paintedOnce_) {
        // The first paint is the window's first appearance: drawn straight, as the window
        // opens, and the face is kept from the next paint on, when values start to change.
        paintedOnce_ = true;
        QPainter painter(this);
        style()->drawComplexControl(QStyle::CC_GroupBox, &opt, &painter, this);
        return;
    }
    const FaceKey key{size(),      devicePixelRatioF(),         this->title(),
                      title,       static_cast<int>(opt.state), palette().cacheKey(),
                      font().key()};
    if (face_.isNull() || !(key == faceKey_)) {
        face_ = QPixmap(size() * key.pixelRatio);
        face_.setDevicePixelRatio(key.pixelRatio);
        face_.fill(Qt::transparent);
        QPainter facePainter(&face_);
        style()->drawComplexControl(QStyle::CC_GroupBox, &opt, &facePainter, this);
        faceKey_ = key;
    }
    // The painter is clipped to what needs repainting, so only that part is copied.
    QPainter painter(this);
    painter.drawPixmap(0, 0, face_);
}

// --- ElidedLabel ---

void ElidedLabel::setFullText(const QString& text)
{
    full_ = text;
    setToolTip(text);
    refit();
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Room for a short path; anything longer is elided instead of widening the window.
    return {fontMetrics().averageCharWidth() * style::kElidedMinChars, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* e)
{
    QLabel::resizeEvent(e);
    refit();
}

void ElidedLabel::refit()
{
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(0, contentsRect().width()));
    if (shown != text())
        QLabel::setText(shown);
}

// --- PictureBox ---

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) { setAlignment(Qt::AlignCenter); }

void PictureBox::setImage(const QString& path)
{
    image_ = path.isEmpty() ? QPixmap() : QPixmap(path);
    if (image_.isNull()) {
        clear();
        return;
    }
    // A logo is a header ornament: at most about four lines of text tall, and as sharp as
    // the screen's density allows (drawn from the full image, not from a shrunken copy).
    const qreal dpr = devicePixelRatioF();
    const qreal logicalH = std::min<qreal>(image_.height(), fontMetrics().height() * style::kLogoMaxLines);
    QPixmap shown = image_;
    if (image_.height() > logicalH * dpr)
        shown = image_.scaledToHeight(static_cast<int>(std::lround(logicalH * dpr)), Qt::SmoothTransformation);
    shown.setDevicePixelRatio(shown.height() / logicalH);
    setPixmap(shown);
}

}  // namespace vek::ui::qt
