#include "qt/qt_presenter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vek::ui::qt {

void QtPresenter::MessagePopup(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtPresenter::NoticePopup(const std::string& title, const std::string& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(text),
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool QtPresenter::ConfirmPopup(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

bool QtPresenter::ConfirmWithOptions(const std::string& title, const std::string& text,
                                     const std::vector<std::string>& options, const std::string& warning,
                                     std::vector<bool>& ticked)
{
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QString::fromStdString(title));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    auto* question = new QLabel(QString::fromStdString(text), &dialog);
    question->setTextFormat(Qt::PlainText);
    question->setWordWrap(true);
    layout->addWidget(question);
    std::vector<QCheckBox*> boxes;
    for (const std::string& o : options) {
        auto* box = new QCheckBox(QString::fromStdString(o), &dialog);
        layout->addWidget(box);
        boxes.push_back(box);
    }
    // The warning stands under the boxes while any is ticked, where the eye is when ticking.
    auto* caution = new QLabel(QString::fromStdString(warning), &dialog);
    caution->setTextFormat(Qt::PlainText);
    caution->setWordWrap(true);
    caution->setStyleSheet(QStringLiteral("color: #b02010; font-weight: bold;"));
    caution->setVisible(false);
    layout->addWidget(caution);
    for (QCheckBox* box : boxes)
        QObject::connect(box, &QCheckBox::toggled, caution, [&boxes, caution] {
            caution->setVisible(std::any_of(boxes.begin(), boxes.end(), [](QCheckBox* b) { return b->isChecked(); }));
        });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    buttons->button(QDialogButtonBox::Yes)->setDefault(true);
    layout->addWidget(buttons);
    const bool yes = dialog.exec() == QDialog::Accepted;
    ticked.assign(options.size(), false);
    for (std::size_t i = 0; yes && i < boxes.size(); ++i)
        ticked[i] = boxes[i]->isChecked();
    return yes;
}

std::string QtPresenter::FileSelectPopup(const std::string& title, const std::string& start, const std::string& filter)
{
    // The logger appends to an existing file, so choosing one is not overwriting it.
    const QString path = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(title),
                                                      QString::fromStdString(start), QString::fromStdString(filter),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    return path.toStdString();
}

std::string QtPresenter::FileOpenPopup(const std::string& title, const std::string& start, const std::string& filter)
{
    const QString path = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString::fromStdString(title),
                                                      QString::fromStdString(start), QString::fromStdString(filter));
    return path.toStdString();
}

}  // namespace vek::ui::qt
