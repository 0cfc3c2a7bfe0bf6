#include <gtest/gtest.h>

#include "platform/linux/wayland/swaytree.h"

using namespace platform::linux_impl;

namespace {

// A get_tree reply in sway 1.7's shape (only the fields read here, plus a few others).
const char* const kTree = R"({
  "id": 1, "type": "root", "name": "root", "focus": [3],
  "nodes": [
    {"id": 2147483647, "type": "output", "name": "__i3", "focus": [2147483646], "nodes": [
      {"id": 2147483646, "type": "workspace", "name": "__i3_scratch", "focus": [12], "nodes": [],
       "floating_nodes": [
         {"id": 12, "type": "floating_con", "name": "scratch", "pid": 120, "shell": "xdg_shell",
          "app_id": "foot", "focus": [], "nodes": [], "floating_nodes": []}]}]},
    {"id": 3, "type": "output", "name": "HEADLESS-1", "focus": [4, 8], "nodes": [
      {"id": 8, "type": "workspace", "name": "2", "focus": [9], "nodes": [
        {"id": 9, "type": "con", "name": "other workspace", "pid": 90, "shell": "xdg_shell",
         "focus": [], "nodes": [], "floating_nodes": []}], "floating_nodes": []},
      {"id": 4, "type": "workspace", "name": "1", "focus": [7, 10], "nodes": [
        {"id": 10, "type": "con", "name": null, "layout": "splitv", "focus": [6, 5], "nodes": [
          {"id": 5, "type": "con", "name": "native foot", "pid": 50, "shell": "xdg_shell",
           "app_id": "foot", "focus": [], "nodes": [], "floating_nodes": []},
          {"id": 6, "type": "con", "name": null, "pid": 60, "shell": "xwayland", "window": 4194316,
           "window_properties": {"class": "XTerm"}, "focus": [], "nodes": [], "floating_nodes": []}],
         "floating_nodes": []},
        {"id": 11, "type": "con", "name": "never focused", "pid": 110, "shell": "xdg_shell",
         "focus": [], "nodes": [], "floating_nodes": []}],
       "floating_nodes": [
        {"id": 7, "type": "floating_con", "name": "ミレボ", "pid": 70, "shell": "xwayland",
         "window": 6291462, "focus": [], "nodes": [], "floating_nodes": []}]}]}]
})";

std::vector<std::int64_t> Ids(const std::vector<SwayView>& views)
{
    std::vector<std::int64_t> ids;
    for (const SwayView& view : views)
        ids.push_back(view.id);
    return ids;
}

SwayWindowEvent Event(const char* change, std::int64_t id, std::uint32_t pid, const char* title = "t")
{
    return SwayWindowEvent{change, SwayView{id, pid, title, false, 0, 0}};
}

}  // namespace

// ---- get_tree ----
TEST(SwayTree, ViewsComeInFocusOrder)
{
    const auto views = parseSwayTree(kTree);
    ASSERT_TRUE(views);
    // Focused workspace first: its floating view, then the split's views by their focus, then the
    // one never focused; then the other workspace; the scratchpad's output is in no focus list.
    EXPECT_EQ(Ids(*views), (std::vector<std::int64_t>{7, 6, 5, 11, 9, 12}));
}

TEST(SwayTree, ViewsCarryWhatTheListNeeds)
{
    const auto views = parseSwayTree(kTree);
    ASSERT_TRUE(views);
    const SwayView& x11 = (*views)[1];
    EXPECT_TRUE(x11.xwayland);
    EXPECT_EQ(x11.window, 4194316u);
    EXPECT_EQ(x11.pid, 60u);
    EXPECT_EQ(x11.title, "");   // sway reads no COMPOUND_TEXT title: null
    const SwayView& native = (*views)[2];
    EXPECT_FALSE(native.xwayland);
    EXPECT_EQ(native.title, "native foot");
    EXPECT_EQ(native.pid, 50u);
    EXPECT_EQ((*views)[0].title, "ミレボ");
}

TEST(SwayTree, TitlesAreCutAtACharacterBoundary)
{
    std::string title;
    for (int i = 0; i < 400; ++i)
        title += "あ";   // 3 bytes each: 1023 bytes hold 341 of them
    const std::string json = R"({"id":1,"focus":[],"nodes":[{"id":2,"pid":5,"shell":"xdg_shell","name":")" +
                             title + R"("}]})";
    const auto views = parseSwayTree(QByteArray::fromStdString(json));
    ASSERT_TRUE(views && views->size() == 1);
    EXPECT_EQ((*views)[0].title.size(), 1023u);
}

TEST(SwayTree, NotATree)
{
    EXPECT_FALSE(parseSwayTree("[1, 2]"));
    EXPECT_FALSE(parseSwayTree("{\"id\": 1,"));
    EXPECT_TRUE(parseSwayTree("{}") && parseSwayTree("{}")->empty());
}

TEST(SwayTree, ImpossiblePidsCountAsUnknown)
{
    const auto views = parseSwayTree(R"({"nodes":[{"id":2,"pid":-1,"shell":"xdg_shell"},
                                                  {"id":3,"pid":1e12,"shell":"xdg_shell"}]})");
    ASSERT_TRUE(views && views->size() == 2);
    EXPECT_EQ((*views)[0].pid, 0u);
    EXPECT_EQ((*views)[1].pid, 0u);
}

TEST(SwayTree, ImpossibleIdsNameNoContainer)
{
    // Found by fuzzing: an id past any whole number was converted all the same.
    const auto views = parseSwayTree(R"({"focus":[3],"nodes":[{"id":6.4e50,"pid":2,"shell":"xdg_shell"},
                                                  {"id":3,"pid":3,"shell":"xdg_shell"}]})");
    ASSERT_TRUE(views && views->size() == 2);
    EXPECT_EQ((*views)[0].id, 3);
    EXPECT_EQ((*views)[1].id, -1);
}

// ---- window events ----
TEST(SwayEvents, Parsed)
{
    const auto event = parseSwayWindowEvent(
        R"({"change":"title","container":{"id":5,"type":"con","name":"~/src","pid":50,"shell":"xdg_shell"}})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->change, "title");
    EXPECT_EQ(event->view.id, 5);
    EXPECT_EQ(event->view.title, "~/src");
    // A split container's focus is about no view.
    EXPECT_FALSE(parseSwayWindowEvent(R"({"change":"focus","container":{"id":10,"type":"con"}})"));
    EXPECT_FALSE(parseSwayWindowEvent("not json"));
}

TEST(SwayEvents, KeepTheListCurrent)
{
    int reads = 0;
    SwayViews views([&reads](std::uint32_t pid) {
        ++reads;
        return pid * 10ull;
    });
    views.reset({SwayView{1, 10, "a", false, 0, 0}, SwayView{2, 20, "b", true, 77, 0}});
    EXPECT_EQ(reads, 1);   // native views only
    views.apply(Event("new", 3, 30, "c"));
    EXPECT_EQ(Ids(views.views()), (std::vector<std::int64_t>{1, 2, 3}));   // not focused yet
    views.apply(Event("focus", 3, 30, "c"));
    EXPECT_EQ(Ids(views.views()), (std::vector<std::int64_t>{3, 1, 2}));
    views.apply(Event("title", 1, 10, "a2"));
    EXPECT_EQ(views.views()[1].title, "a2");
    views.apply(Event("close", 3, 30));
    views.apply(Event("close", 99, 1));   // never seen: nothing to do
    EXPECT_EQ(Ids(views.views()), (std::vector<std::int64_t>{1, 2}));
    views.apply(Event("focus", 4, 40));   // focus before its "new": listed all the same
    EXPECT_EQ(Ids(views.views()), (std::vector<std::int64_t>{4, 1, 2}));
    // Start times are read once per view, when it is first seen.
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(views.views()[1].identity, 100u);
}

TEST(SwayEvents, WindowsForTheMergeAreRebuiltOnlyAfterAChange)
{
    SwayViews views([](std::uint32_t) { return 5ull; });
    views.reset({SwayView{1, 10, "a", false, 0, 0}, SwayView{2, 20, "", true, 77, 0}});
    const auto* first = views.windows().data();
    EXPECT_EQ(views.windows().data(), first);
    ASSERT_EQ(views.windows().size(), 2u);
    EXPECT_EQ(views.windows()[0].identity, 5u);
    EXPECT_TRUE(views.windows()[1].x11);
    EXPECT_EQ(views.windows()[1].x11Id, 77u);
    EXPECT_EQ(views.windows()[1].identity, 0u);
    views.apply(Event("title", 1, 10, "a2"));
    EXPECT_EQ(views.windows()[0].title, "a2");
}
