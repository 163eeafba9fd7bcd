// The widgets Qt lacks for our control kinds: a lamp, a level gauge, a row of exclusive
// choices, a drop-down that can be display-only, a frame whose title can be dimmed on its
// own, and a picture that scales its image to the window's pixel density.
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <vector>

namespace vek::ui::qt {

class LedLamp : public QWidget {
    Q_OBJECT
public:
    explicit LedLamp(QColor onColor, QWidget* parent = nullptr);
    void setLit(bool lit);
    bool isLit() const { return lit_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor on_;
    bool lit_ = false;
};

// A vertical level gauge with a 0..100 style scale and the value written under it.
class TankGauge : public QWidget {
    Q_OBJECT
public:
    explicit TankGauge(QWidget* parent = nullptr);
    void setRange(double min, double max);
    void setValue(double v, const QString& text);
    double value() const { return value_; }
    QString valueText() const { return text_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double min_ = 0.0, max_ = 100.0, value_ = 0.0;
    QString text_;
};

// Exclusive buttons side by side, one per item: a binary switch shows both of its texts
// this way, a ring slide all of its labels.
class ChoiceButtons : public QWidget {
    Q_OBJECT
public:
    explicit ChoiceButtons(const QStringList& labels, QWidget* parent = nullptr);
    // Checks button `index`; for -1 (a value that matches no item) checks none and shows
    // `raw` beside the buttons as "? (raw)", as a drop-down does.
    void setCurrent(int index, long long raw = 0);
    int current() const;
    // The "? (raw)" text, empty while a button is checked.
    QString unknownText() const;
    QAbstractButton* button(int index) const;
    int count() const { return static_cast<int>(buttons_.size()); }

signals:
    // The user pressed button `index` (never emitted by setCurrent).
    void chosen(int index);

private:
    QButtonGroup group_;
    std::vector<QAbstractButton*> buttons_;
    QLabel* unknown_ = nullptr;
};

// A drop-down that shows a value matching none of its items as "? (N)" and that, as an
// indicator, still looks like the drop-down it is but never opens.
class RingBox : public QComboBox {
    Q_OBJECT
public:
    explicit RingBox(const QStringList& labels, QWidget* parent = nullptr);
    void setReadOnly(bool ro) { readOnly_ = ro; }
    bool isReadOnly() const { return readOnly_; }
    // Selects item `index`, or shows `raw` as unknown when `index` is -1.
    void showItem(int index, long long raw);
    int itemCount() const { return items_; }
    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    int items_;
    bool readOnly_ = false;
};

// A frame standing for a text message: the message is its title. Dimming the message must
// grey the title only, not the controls inside, which keep their own dimmed state.
class SectionBox : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
    void setTitleDimmed(bool d);
    bool titleDimmed() const { return dimmed_; }
    void setTitleColor(const QColor& c);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // The frame and title as the style draws them, for everything that decides their look.
    struct FaceKey {
        QSize size;
        qreal pixelRatio = 0;
        QString title;
        QColor titleColor;
        int state = 0;
        qint64 palette = 0;
        QString font;
        bool operator==(const FaceKey&) const = default;
    };

    bool dimmed_ = false;
    QColor color_;
    // The style's group box is costly to draw (a picture loaded and stretched, the title
    // laid out), and every repaint of a value inside the frame repaints the frame under it:
    // it is drawn once into face_ and copied from there until its look changes.
    QPixmap face_;
    FaceKey faceKey_;
    bool paintedOnce_ = false;  // the first paint draws straight onto the window (see paintEvent)
};

// A one-line text that, when it does not fit, loses its middle ("/dev/serial/…/port0")
// rather than its end, and shows the whole of it as a tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void setFullText(const QString& text);
    QString fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void refit();
    QString full_;
};

class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);
    // Shows the image at `path` (scaled down to a header's height); empty path or an
    // unreadable image leaves the picture empty.
    void setImage(const QString& path);
    bool hasImage() const { return !image_.isNull(); }

private:
    QPixmap image_;
};

}  // namespace vek::ui::qt
