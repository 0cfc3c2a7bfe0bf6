#include "platform/linux/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace platform::linux_impl {
namespace {

bool isRunnable(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(native.constData(), X_OK) == 0;
}

}  // namespace

QString findProgram(const QString& text, const QString& searchPath)
{
    if (text.isEmpty())
        return {};
    if (text.contains(u'/'))
        return isRunnable(text) ? QFileInfo(text).absoluteFilePath() : QString();
    for (const QString& dir : searchPath.split(u':', Qt::SkipEmptyParts)) {
        const QString candidate = dir + u'/' + text;
        if (isRunnable(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

OpenTarget classifyOpen(const QString& text, const QString& searchPath)
{
    if (text.isEmpty())
        return {};
    if (QString program = findProgram(text, searchPath); !program.isEmpty())
        return {OpenKind::Program, program};
    if (const QFileInfo file(text); file.exists())
        return {OpenKind::Document, file.absoluteFilePath()};
    // A scheme starts with a letter, so a text starting with '-' never gets here as an address;
    // a one-letter scheme would rather be a drive-style name, which names nothing here.
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && url.scheme().size() > 1)
        return {OpenKind::Address, text};
    return {};
}

void shellOpen(const QString& text)
{
    const OpenTarget target = classifyOpen(text, qEnvironmentVariable("PATH"));
    switch (target.kind) {
    case OpenKind::Program:
        QProcess::startDetached(target.target, {});
        break;
    case OpenKind::Document:
        QDesktopServices::openUrl(QUrl::fromLocalFile(target.target));
        break;
    case OpenKind::Address:
        QDesktopServices::openUrl(QUrl(target.target, QUrl::StrictMode));
        break;
    case OpenKind::Nothing:
        break;
    }
}

}  // namespace platform::linux_impl
