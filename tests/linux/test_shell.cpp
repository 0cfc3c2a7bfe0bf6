#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "platform/linux/run/shell.h"

using namespace platform::linux_impl;

namespace {

// A scratch directory with a program, a plain document, a folder and a program in the folder.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        make("tool", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        make("notes.txt", QFile::ReadOwner | QFile::WriteOwner);
        make("-rf", QFile::ReadOwner | QFile::WriteOwner);
        make("with space", QFile::ReadOwner | QFile::ExeOwner);
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tooldir")));
        savedCwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void TearDown() override { QDir::setCurrent(savedCwd); }

    void make(const QString& name, QFile::Permissions permissions)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        ASSERT_TRUE(file.setPermissions(permissions));
    }

    QString path(const QString& name) const { return QDir(dir.path()).absoluteFilePath(name); }

    QTemporaryDir dir;
    QString savedCwd;
};

}  // namespace

TEST_F(ShellTest, FindsProgramsAlongThePath)
{
    const QString searchPath = QStringLiteral("/nonexistent::") + dir.path();
    EXPECT_EQ(findProgram(QStringLiteral("tool"), searchPath), path(QStringLiteral("tool")));
    EXPECT_EQ(findProgram(QStringLiteral("with space"), searchPath),
              path(QStringLiteral("with space")));
    EXPECT_EQ(findProgram(QStringLiteral("notes.txt"), searchPath), QString());
    EXPECT_EQ(findProgram(QStringLiteral("folder"), searchPath), QString());
    EXPECT_EQ(findProgram(QStringLiteral("missing"), searchPath), QString());
    EXPECT_EQ(findProgram(QString(), searchPath), QString());
}

TEST_F(ShellTest, EmptyPathEntriesDoNotMeanTheCurrentFolder)
{
    EXPECT_EQ(findProgram(QStringLiteral("tool"), QStringLiteral(":")), QString());
    EXPECT_EQ(findProgram(QStringLiteral("tool"), QStringLiteral(".")),
              path(QStringLiteral("tool")));
}

TEST_F(ShellTest, TextWithSlashIsAPath)
{
    EXPECT_EQ(findProgram(QStringLiteral("./tool"), QString()), path(QStringLiteral("tool")));
    EXPECT_EQ(findProgram(path(QStringLiteral("tool")), QString()), path(QStringLiteral("tool")));
    EXPECT_EQ(findProgram(QStringLiteral("./notes.txt"), QString()), QString());
    EXPECT_EQ(findProgram(QStringLiteral("./folder"), QString()), QString());
    EXPECT_EQ(findProgram(QStringLiteral("tooldir/tool"), QString()), QString());
}

TEST_F(ShellTest, ClassifiesEachText)
{
    struct Case { QString text; OpenKind kind; QString target; } cases[] = {
        {QStringLiteral("tool"), OpenKind::Program, path(QStringLiteral("tool"))},
        {QStringLiteral("notes.txt"), OpenKind::Document, path(QStringLiteral("notes.txt"))},
        {QStringLiteral("folder"), OpenKind::Document, path(QStringLiteral("folder"))},
        {QStringLiteral("-rf"), OpenKind::Document, path(QStringLiteral("-rf"))},
        {QStringLiteral("http://example.com/a b"), OpenKind::Nothing, QString()},
        {QStringLiteral("https://example.com/"), OpenKind::Address,
         QStringLiteral("https://example.com/")},
        {QStringLiteral("mailto:someone@example.com"), OpenKind::Address,
         QStringLiteral("mailto:someone@example.com")},
        {QStringLiteral("tool --help"), OpenKind::Nothing, QString()},
        {QStringLiteral("-e"), OpenKind::Nothing, QString()},
        {QStringLiteral("--help"), OpenKind::Nothing, QString()},
        {QStringLiteral("c:file"), OpenKind::Nothing, QString()},
        {QStringLiteral("nothing here"), OpenKind::Nothing, QString()},
        {QString(), OpenKind::Nothing, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const OpenTarget target = classifyOpen(c.text, dir.path());
        EXPECT_EQ(target.kind, c.kind);
        EXPECT_EQ(target.target, c.target);
    }
}

TEST_F(ShellTest, DocumentsAreAbsoluteSoTheyCannotPassAsOptions)
{
    const OpenTarget target = classifyOpen(QStringLiteral("-rf"), QString());
    ASSERT_EQ(target.kind, OpenKind::Document);
    EXPECT_TRUE(target.target.startsWith(u'/'));
}

namespace {

int forkHandlerRuns = 0;

// What a started program inherits from us. The probe (tests/tools/spawn_probe), started as a
// program and standing in for the desktop's opener, writes down its arguments, signal state and
// open descriptors. This process makes each of those worth checking first: it ignores Ctrl-C,
// blocks a signal, holds a descriptor without close-on-exec and has a fork handler.
class StartTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("bin")));
        for (const char* probe : {"probe", "bin/xdg-open"})
            ASSERT_TRUE(QFile::link(QStringLiteral(SPAWN_PROBE), dir.filePath(QString::fromLatin1(probe))));
        savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(path(QStringLiteral("bin"))) + ':' + savedPath);

        static const bool once = ::pthread_atfork([] { ++forkHandlerRuns; }, nullptr, nullptr) == 0;
        ASSERT_TRUE(once);
        forkHandlerRuns = 0;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &ignore, &savedInt);
        sigset_t usr2;
        sigemptyset(&usr2);
        sigaddset(&usr2, SIGUSR2);
        ::pthread_sigmask(SIG_BLOCK, &usr2, &savedMask);
        make(QStringLiteral("held-open"), QFile::ReadOwner);
        leaked = ::open(QFile::encodeName(path(QStringLiteral("held-open"))).constData(), O_RDONLY);
        ASSERT_GT(leaked, 2);
    }
    void TearDown() override
    {
        ::close(leaked);
        ::pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
        ::sigaction(SIGINT, &savedInt, nullptr);
        qputenv("PATH", savedPath);
        ShellTest::TearDown();
    }

    // Opens the text and returns what the probe `name` wrote down, once it has been reaped.
    QString reportOf(const QString& text, const QString& name)
    {
        QFile out(path(name + QStringLiteral(".out")));
        out.remove();
        shellOpen(text);
        if (!QTest::qWaitFor([&] { return out.exists(); }, 5000) || !out.open(QIODevice::ReadOnly))
            return {};
        const QString report = QString::fromUtf8(out.readAll());
        const QString pid = report.section(QStringLiteral("pid "), 1).section(u'\n', 0, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(QStringLiteral("/proc/") + pid); }, 5000))
            << "not reaped: " << pid.toStdString();
        return report;
    }

    QByteArray savedPath;
    struct sigaction savedInt {};
    sigset_t savedMask {};
    int leaked = -1;
};

}  // namespace

// A program gets no arguments; a document or an address goes to the opener as its one argument.
TEST_F(StartTest, WhatStartsGetsDefaultSignalsAndOnlyTheStandardDescriptors)
{
    struct Case { QString text, probe, arguments; } cases[] = {
        {path(QStringLiteral("probe")), QStringLiteral("probe"), QString()},
        {QStringLiteral("notes.txt"), QStringLiteral("bin/xdg-open"), u' ' + path(QStringLiteral("notes.txt"))},
        {QStringLiteral("https://example.com/a?b=c&d"), QStringLiteral("bin/xdg-open"),
         QStringLiteral(" https://example.com/a?b=c&d")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const QString report = reportOf(c.text, c.probe);
        EXPECT_TRUE(report.startsWith(QStringLiteral("args") + c.arguments + u'\n')) << report.toStdString();
        EXPECT_TRUE(report.contains(QStringLiteral("SigIgn:\t0000000000000000"))) << report.toStdString();
        EXPECT_TRUE(report.contains(QStringLiteral("SigBlk:\t0000000000000000"))) << report.toStdString();
        EXPECT_FALSE(report.contains(QStringLiteral("held-open"))) << report.toStdString();
        EXPECT_EQ(forkHandlerRuns, 0);
    }
}
