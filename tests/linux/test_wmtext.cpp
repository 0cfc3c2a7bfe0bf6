#include <gtest/gtest.h>

#include <string>

#include "platform/linux/text/compoundtext.h"
#include "platform/linux/text/utf8.h"
#include "platform/linux/text/wmtext.h"

using namespace platform::linux_impl;

TEST(WindowTitle, Utf8TitleAsIs)
{
    EXPECT_EQ(titleFromBytes("日本語タイトル端末", TextEncoding::Utf8, false), "日本語タイトル端末");
}

TEST(WindowTitle, Utf8MislabelledAsStringIsTakenAsUtf8)
{
    EXPECT_EQ(titleFromBytes("端末 42", TextEncoding::Latin1, false), "端末 42");
    EXPECT_EQ(titleFromBytes("caf\xC3\xA9", TextEncoding::Latin1, false), "café");
}

TEST(WindowTitle, Latin1TitleConverted)
{
    EXPECT_EQ(titleFromBytes("R\xE9sum\xE9", TextEncoding::Latin1, false), "Résumé");
}

TEST(WindowTitle, InvalidBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(titleFromBytes("a\xFF" "b", TextEncoding::Utf8, false), "a\xEF\xBF\xBD" "b");
}

TEST(WindowTitle, StopsAtFirstNul)
{
    EXPECT_EQ(titleFromBytes(std::string("one\0two", 7), TextEncoding::Utf8, false), "one");
    EXPECT_EQ(titleFromBytes(std::string("\0two", 4), TextEncoding::Latin1, false), "");
}

TEST(WindowTitle, PartlyFetchedTitleLosesTheCutCharacter)
{
    const std::string fetched = std::string(1020, 'a') + "日\xE6\x9C";   // fetch ended mid-character
    const std::string title = titleFromBytes(fetched, TextEncoding::Utf8, true);
    EXPECT_EQ(title, std::string(1020, 'a') + "日");
    EXPECT_LE(title.size(), platform::kMaxTitleBytes);
}

TEST(WindowTitle, CappedAt1023Bytes)
{
    std::string huge;
    while (huge.size() < 100 * 1024)
        huge += "é";
    const std::string latin1(100 * 1024, '\xE9');
    for (const std::string& title : {titleFromBytes(huge, TextEncoding::Utf8, true),
                                     titleFromBytes(latin1, TextEncoding::Latin1, true)}) {
        EXPECT_EQ(title.size(), 1022u);   // 511 two-byte characters
        EXPECT_EQ(repairUtf8(title), title);
    }
}

TEST(ClientMachine, MatchesThisHost)
{
    struct Case { const char* client; const char* host; bool same; } cases[] = {
        {"box", "box", true},
        {"BOX", "box", true},
        {"box.example.org", "box", true},
        {"box", "box.example.org", true},
        {"box.example.org", "box.example.org", true},
        {"box.a.org", "box.b.org", false},
        {"other", "box", false},
        {"boxer", "box", false},
        {"", "box", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.client) + " / " + c.host);
        EXPECT_EQ(sameMachine(c.client, c.host), c.same);
    }
    EXPECT_TRUE(sameMachine(std::string("box\0", 4), "box"));
}

TEST(CompoundTextWithoutXlib, ReadsTheLatin1Part)
{
    using platform::linux_impl::compoundTextTitle;
    EXPECT_EQ(compoundTextTitle(nullptr, 0, "caf\xE9", false), "café");
    EXPECT_EQ(compoundTextTitle(nullptr, 0, std::string("one\0two", 7), false), "one");
}

TEST(CompoundTextWithoutXlib, EscapeCutOffAtTheEndIsDropped)
{
    using platform::linux_impl::compoundTextTitle;
    EXPECT_EQ(compoundTextTitle(nullptr, 0, "title\x1b$)", true), "title");
    EXPECT_EQ(compoundTextTitle(nullptr, 0, "title\x1b", true), "title");
}
