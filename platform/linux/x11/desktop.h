#pragma once
// Small desktop services: the cursor, bringing a window forward, the taskbar button, the
// timer and the error box.

#include <QMargins>
#include <QPoint>
#include <QString>

class QTimer;
class QWidget;

namespace platform::linux_impl {

// Starts noting the time of the user's keys and buttons, which requests to the window manager
// carry; once the application object exists.
void watchUserInput();
QPoint cursorPos();
void setForegroundWindow(QWidget* window);
void hideTaskbarButton(QWidget* window, bool hide);
QMargins frameMargins(QWidget* window);
bool startTimer(QTimer& timer, int milliseconds);
void errorBox(QWidget* parent, const QString& caption, const QString& text);

}  // namespace platform::linux_impl
