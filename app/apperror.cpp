#include "apperror.h"

#include <QApplication>
#include <QWidget>

#include "platform/Platform.h"

QString ErrorBoxText(const QString& message)
{
    const QByteArray bytes = message.toUtf8();
    if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) > '.')
        return message + QLatin1Char('.');
    return message;
}

TErrorGuard::TErrorGuard(platform::Platform& platform, QString caption)
    : platform_(platform), caption_(std::move(caption))
{
}

bool TErrorGuard::Run(const std::function<void()>& body)
{
    try {
        body();
        return true;
    } catch (const EAppError& error) {
        Show(error.message());
    } catch (const std::exception& error) {
        // Nothing may escape into the event loop; an unexpected failure is still one box.
        Show(QString::fromLocal8Bit(error.what()));
    }
    return false;
}

void TErrorGuard::Show(const QString& message)
{
    if (boxOpen_)
        return;
    boxOpen_ = true;
    // Above whatever window is active, so that an always-on-top main window cannot hide it.
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    if (!parent)
        parent = owner_;
    try {
        platform_.errorBox(parent, caption_, ErrorBoxText(message));
    } catch (...) {
        boxOpen_ = false;
        throw;
    }
    boxOpen_ = false;
}
