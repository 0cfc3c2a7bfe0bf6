#include <gtest/gtest.h>

#include "platform/linux/run/filedialog.h"

using platform::linux_impl::parseFileFilter;

TEST(FileFilter, ProgramsAreChosenByPermission)
{
    for (const char* entry : {"プログラム|*.EXE", "Programs|*.exe", "Programs|*.com;*.exe"}) {
        SCOPED_TRACE(entry);
        const auto filter = parseFileFilter(QString::fromUtf8(entry));
        EXPECT_TRUE(filter.programs);
        EXPECT_EQ(filter.patterns, QStringLiteral("*"));
    }
}

TEST(FileFilter, AllFilesIncludesNamesWithoutADot)
{
    const auto filter = parseFileFilter(QStringLiteral("すべてのファイル|*.*"));
    EXPECT_FALSE(filter.programs);
    EXPECT_EQ(filter.label, QStringLiteral("すべてのファイル"));
    EXPECT_EQ(filter.patterns, QStringLiteral("*"));
}

TEST(FileFilter, OtherPatternsPassThrough)
{
    const auto filter = parseFileFilter(QStringLiteral("Text|*.txt;*.log"));
    EXPECT_FALSE(filter.programs);
    EXPECT_EQ(filter.label, QStringLiteral("Text"));
    EXPECT_EQ(filter.patterns, QStringLiteral("*.txt *.log"));
}

TEST(FileFilter, EntryWithoutPatternShowsEverything)
{
    const auto filter = parseFileFilter(QStringLiteral("Anything"));
    EXPECT_EQ(filter.label, QStringLiteral("Anything"));
    EXPECT_EQ(filter.patterns, QStringLiteral("*"));
}
