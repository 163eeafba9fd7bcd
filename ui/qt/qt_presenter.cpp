#include "qt/qt_presenter.h"

#include <QApplication>
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

}  // namespace vek::ui::qt
