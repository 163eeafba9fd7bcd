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

}  // namespace vek::ui::qt
