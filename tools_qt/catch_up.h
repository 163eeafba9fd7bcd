// A recorder's change callback that keeps a window's work out of the poll: the first change
// queues one catch-up on the window's event loop, and further changes before it runs add
// nothing, since the catch-up takes everything new at once.
#pragma once
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace vek::tools {

inline std::function<void()> CatchUpLater(QObject* window, bool& pending, std::function<void()> catchUp)
{
    return [window, &pending, catchUp = std::move(catchUp)] {
        if (pending)
            return;
        pending = true;
        QMetaObject::invokeMethod(
            window,
            [&pending, catchUp] {
                pending = false;
                catchUp();
            },
            Qt::QueuedConnection);
    };
}

}  // namespace vek::tools
