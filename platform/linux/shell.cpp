#include "platform/linux/shell.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFile>
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

// Starts the program with no arguments, detached: the intermediate child exits at once, so the
// program is adopted by init and never lingers as our zombie, and it gets none of our file
// descriptors beyond the standard three. Only async-signal-safe calls between fork and exec.
void startProgram(const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    char* const argv[] = {const_cast<char*>(file.constData()), nullptr};
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            ::close_range(3, ~0U, 0);
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::_exit(0);
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void shellOpen(const QString& text)
{
    const OpenTarget target = classifyOpen(text, qEnvironmentVariable("PATH"));
    switch (target.kind) {
    case OpenKind::Program:
        startProgram(target.target);
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
