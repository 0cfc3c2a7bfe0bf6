#pragma once
// For the cases on a session bus: runs the event loop until `done` or five seconds have passed.

#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>

inline bool WaitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
