#include "program.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "qt/event_loop.h"
#include "qt/qt_presenter.h"
#include "vek_app.h"

namespace vek {

std::string Program::defaultResourceDir()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString& dir : {exeDir, exeDir + "/../share/vek-modbus-rtu"})
        if (QFileInfo::exists(dir + "/" + kResourceFile))
            return QDir(dir).absolutePath().toStdString();
    return exeDir.toStdString();
}

void Program::QtLinkTimer::After(double seconds, std::function<void()> fn)
{
    const int ms = seconds > 0 ? std::max(1, static_cast<int>(std::ceil(seconds * 1000.0))) : 0;
    QTimer::singleShot(ms, Qt::PreciseTimer, &context_, std::move(fn));
}

Program::Program(std::string resourceDir, ui::Presenter* popups)
    : ownPopups_(popups ? nullptr : std::make_unique<ui::qt::QtPresenter>()),
      popups_(popups ? *popups : *ownPopups_),
      panels_(clock_, {}, std::move(resourceDir)),
      view_(panels_),
      services_{panels_, link_, clock_, files_, popups_},
      app_(std::make_unique<App>(services_)),
      tools_(std::make_unique<tools::QtToolWindows>(*app_))
{
    app_->windows = tools_.get();
    app_->linkTimer.setInner(linkTimer_);
    // The callbacks need the App and the App needs the panels: bind them once both exist.
    panels_.setCallbacks(MakeCallbackRegistry(*app_));
    view_.setPresenter(&popups_);
    panels_.setPresenter(&popups_);
    app_->quit = [](int code) { ui::qt::QuitUserInterface(code); };
}

Program::~Program()
{
    // Windows go before the model they observe.
    for (int h : panels_.handles())
        panels_.DiscardPanel(h);
}

int Program::start() { return StartUp(*app_); }

int Program::run(QApplication& qapp) { return ui::qt::RunUserInterface(panels_, qapp, &view_); }

}  // namespace vek
