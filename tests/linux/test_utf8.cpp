#include <gtest/gtest.h>

#include <string>

#include "platform/linux/text/utf8.h"

using namespace platform::linux_impl;

namespace {

const std::string kBad = "\xEF\xBF\xBD";   // U+FFFD

bool wellFormed(const std::string& text)
{
    return repairUtf8(text) == text;
}

}  // namespace

TEST(Utf8Repair, KeepsWellFormedText)
{
    const char* const texts[] = {"", "plain ascii", "日本語タイトル端末",
                                 "\xC2\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(repairUtf8(text), text);
    }
}

TEST(Utf8Repair, ReplacesEachBadSequence)
{
    struct Case { const char* name; std::string in, out; } cases[] = {
        {"strayContinuation", "a\x80" "b", "a" + kBad + "b"},
        {"latin1Byte", "caf\xE9", "caf" + kBad},
        {"overlongSlash", "\xC0\xAF", kBad + kBad},
        {"overlongThreeByte", "\xE0\x80\xAF", kBad + kBad + kBad},
        {"surrogate", "\xED\xA0\x80", kBad + kBad + kBad},
        {"pastMaximum", "\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},
        {"invalidLeads", "\xF5\xFF\xFE", kBad + kBad + kBad},
        {"cutThreeByteMidText", "\xE6\x97" "x", kBad + "x"},
        {"cutAtEnd", "ok\xE6\x97", "ok" + kBad},
        {"cutFourByte", "\xF0\x9F\x98", kBad},
        {"leadThenLead", "\xE6\xE6\x97\xA5", kBad + "\xE6\x97\xA5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(repairUtf8(c.in), c.out);
    }
}

TEST(Utf8Cut, ShortTextIsUnchanged)
{
    EXPECT_EQ(cutUtf8("abc", 3), "abc");
    EXPECT_EQ(cutUtf8("", 0), "");
}

TEST(Utf8Cut, CutsAsciiAtTheLimit)
{
    EXPECT_EQ(cutUtf8("abcdef", 4), "abcd");
}

TEST(Utf8Cut, NeverSplitsACharacter)
{
    const std::string ni = "日";   // three bytes
    EXPECT_EQ(cutUtf8("a" + ni + ni, 2), "a");
    EXPECT_EQ(cutUtf8("a" + ni + ni, 3), "a");
    EXPECT_EQ(cutUtf8("a" + ni + ni, 4), "a" + ni);
    EXPECT_EQ(cutUtf8("a" + ni + ni, 6), "a" + ni);
    EXPECT_EQ(cutUtf8("\xF0\x9F\x98\x80", 3), "");
}

TEST(Utf8Cut, LongJapaneseTitleStaysWithin1023Bytes)
{
    std::string title;
    for (int i = 0; i < 400; ++i)
        title += "端";
    const std::string cut = cutUtf8(title, 1023);
    EXPECT_EQ(cut.size(), 1023u);   // 341 whole characters
    EXPECT_TRUE(wellFormed(cut));
    const std::string shifted = cutUtf8("x" + title, 1023);
    EXPECT_EQ(shifted.size(), 1021u);
    EXPECT_TRUE(wellFormed(shifted));
}

TEST(Utf8Cut, HundredKilobyteTextIsCut)
{
    std::string title(100 * 1024, 'a');
    title[1022] = '\xE3';   // a character starting at the last byte allowed
    title[1023] = '\x81';
    title[1024] = '\x82';
    const std::string cut = cutUtf8(repairUtf8(title), 1023);
    EXPECT_EQ(cut.size(), 1022u);
    EXPECT_TRUE(wellFormed(cut));
}

TEST(Latin1, ConvertsHighBytes)
{
    EXPECT_EQ(latin1ToUtf8("caf\xE9 \xA9\xFF"), "café ©ÿ");
    EXPECT_EQ(latin1ToUtf8("plain"), "plain");
}

TEST(Utf8Tail, DropsOnlyAnIncompleteLastCharacter)
{
    struct Case { std::string in, out; } cases[] = {
        {"ab", "ab"},
        {"a\xE6", "a"},
        {"a\xE6\x97", "a"},
        {"a\xE6\x97\xA5", "a\xE6\x97\xA5"},
        {"a\xF0\x9F\x98", "a"},
        {"a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80"},
        {"a\xC3", "a"},
        {"\x80\x80\x80\x80", "\x80\x80\x80\x80"},   // not a cut character; repair handles it
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(dropIncompleteTail(c.in)), c.out);
}
