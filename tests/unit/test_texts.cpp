#include <cstring>

#include <gtest/gtest.h>

#include "apperror.h"
#include "platform/text.h"
#include "texts.h"

// ---- the error box's full stop ----
TEST(ErrorBoxText, AddsAFullStopAfterJapaneseAndLetters)
{
    EXPECT_EQ(ErrorBoxText(QStringLiteral("タイマーを取得できません")),
              QStringLiteral("タイマーを取得できません."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("failed")), QStringLiteral("failed."));
}

TEST(ErrorBoxText, LeavesMessagesEndingAtOrBelowTheFullStop)
{
    EXPECT_EQ(ErrorBoxText(QStringLiteral("done.")), QStringLiteral("done."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("stop!")), QStringLiteral("stop!"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(ErrorBoxText(QString()), QString());
}

// ---- the tip's byte limit ----
TEST(CopyTip, KeepsShortTextsWhole)
{
    char tip[64];
    CopyTip(tip, QStringLiteral("CPU 使用率 50%"));
    EXPECT_STREQ(tip, "CPU 使用率 50%");
}

TEST(CopyTip, CutsAt63BytesWithoutSplittingACharacter)
{
    char tip[64];
    // 21 three-byte characters fill 63 bytes exactly; one more must be dropped whole.
    CopyTip(tip, QString(22, QChar(0x3042)));
    EXPECT_EQ(std::strlen(tip), 63u);
    CopyTip(tip, QStringLiteral("x") + QString(21, QChar(0x3042)));
    EXPECT_EQ(std::strlen(tip), 61u);
    EXPECT_TRUE(QString::fromUtf8(tip).endsWith(QChar(0x3042)));
}

// ---- End task's number conversion ----
TEST(ParseInt64, AcceptsSignedDecimalNumbers)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {"0", 0},
        {"1234", 1234},
        {"+7", 7},
        {"-1", -1},
        {"2147483648", 2147483648LL},
        {"4294967295", 4294967295LL},
        {"9223372036854775807", 9223372036854775807LL},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseInt64(QString::fromLatin1(text)), value) << text;
}

TEST(ParseInt64, RejectsEverythingElse)
{
    for (const char* text : {"", " 12", "12 ", "1a", "0x10", "$10", "-", "+", "+-1", "1.5",
                             "9223372036854775808", "アプリ"})
        EXPECT_FALSE(ParseInt64(QString::fromUtf8(text)).has_value()) << text;
}

TEST(Utf8Prefix, StepsBackToACharacterBoundary)
{
    const std::string_view bytes = "aあい";   // 1 + 3 + 3 bytes
    EXPECT_EQ(platform::utf8Prefix(bytes, 7), 7u);
    EXPECT_EQ(platform::utf8Prefix(bytes, 6), 4u);
    EXPECT_EQ(platform::utf8Prefix(bytes, 2), 1u);
    EXPECT_EQ(platform::utf8Prefix(bytes, 0), 0u);
}

TEST(NameText, UsesTheTextUpToTheFirstNulOrAPlaceholder)
{
    const char buffer[8] = {'h', 'o', 's', 't', '\0', 'x', 'y', 'z'};
    EXPECT_EQ(NameText(true, buffer, sizeof buffer), QStringLiteral("host"));
    const char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(NameText(true, full, sizeof full), QStringLiteral("abcd"));
    EXPECT_EQ(NameText(false, buffer, sizeof buffer), QStringLiteral("(不明)"));
}
