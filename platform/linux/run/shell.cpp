#include "platform/linux/run/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern "C" {   // glibc's header lacks the C++ linkage wrapper
#include <sys/pidfd.h>
}

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSocketNotifier>
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

namespace {

// Starts the file as a session of its own, with every signal at its default action, none
// blocked, and no descriptor of ours but 0-2; -1 when it cannot be started.
//
// posix_spawn, not fork: glibc clones with the address space shared and this thread suspended
// until the exec, and runs no fork handlers, so no library code of this threaded process runs
// in the child. The descriptors go by close_range in the child; on kernels without it glibc
// closes each one listed in the child's /proc/self/fd instead, and when even that cannot be
// read the spawn fails: nothing starts rather than something holding our descriptors. (Marking
// them close-on-exec here beforehand would race with other threads opening descriptors.)
pid_t spawnAlone(const char* file, char* const argv[])
{
    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        ::posix_spawnattr_destroy(&attr);
        return -1;
    }
    // Ignored signals and the blocked mask survive exec: a program started from a job that
    // ignores Ctrl-C would ignore it too, and so would everything it starts. Every bit is set,
    // not sigfillset's: that leaves out the two signals glibc keeps for its threads, and
    // posix_spawn sets exactly those to "ignored" in the child unless told to default them.
    sigset_t defaults, none;
    std::memset(&defaults, 0xff, sizeof defaults);
    ::sigdelset(&defaults, SIGKILL);
    ::sigdelset(&defaults, SIGSTOP);
    ::sigemptyset(&none);
    const bool ready =
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSID) == 0 &&
        ::posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
        ::posix_spawnattr_setsigmask(&attr, &none) == 0 &&
        ::posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
    pid_t child = -1;
    if (!ready || ::posix_spawn(&child, file, &actions, &attr, argv, environ) != 0)
        child = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    return child;
}

// Collects the child's exit status once it ends, without ever waiting for it on this thread,
// so that it never stays behind as our zombie. Its pidfd turns readable when it ends; the
// child is ours and unreaped until then, so its id cannot name another process meanwhile.
void reapWhenEnded(pid_t child)
{
    const int fd = ::pidfd_open(child, 0);
    if (fd < 0) {
        // Kernels before 5.3 have no pidfds: a thread of its own waits instead.
        try {
            std::thread([child] {
                while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error&) {
        }
        return;
    }
    auto* ended = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(ended, &QSocketNotifier::activated, ended, [ended, child, fd] {
        ::waitpid(child, nullptr, WNOHANG);
        ended->setEnabled(false);
        ::close(fd);
        ended->deleteLater();
    });
}

// Starts the program with the one argument, or none when it is empty.
void start(const QString& program, const QString& argument = {})
{
    QByteArray file = QFile::encodeName(program);
    QByteArray arg = QFile::encodeName(argument);
    char* const argv[] = {file.data(), argument.isEmpty() ? nullptr : arg.data(), nullptr};
    if (const pid_t child = spawnAlone(file.constData(), argv); child > 0)
        reapWhenEnded(child);
}

}  // namespace

void shellOpen(const QString& text)
{
    const QString searchPath = qEnvironmentVariable("PATH");
    const OpenTarget target = classifyOpen(text, searchPath);
    switch (target.kind) {
    case OpenKind::Program:
        start(target.target);
        break;
    case OpenKind::Document:
    case OpenKind::Address:
        // The desktop's opener picks the program. It gets the document's absolute path or the
        // address as its one argument, which never reads as an option: the path starts with
        // '/', the address with its scheme's letter.
        if (const QString opener = findProgram(QStringLiteral("xdg-open"), searchPath);
            !opener.isEmpty())
            start(opener, target.target);
        break;
    case OpenKind::Nothing:
        break;
    }
}

}  // namespace platform::linux_impl
