#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/linux/shell.h"

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
