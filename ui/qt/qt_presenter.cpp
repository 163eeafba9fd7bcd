#include "qt/qt_presenter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

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
