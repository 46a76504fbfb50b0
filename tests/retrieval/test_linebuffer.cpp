// The hidden text buffers keep a text as one string until a caller asks for the lines as
// strings; both forms must read the same at every step.
#include "app/contract/LineBuffer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using toolkit::LineBuffer;
using Lines = std::vector<std::string>;

namespace {

Lines Copy(const std::vector<std::string_view>& views) {
    return {views.begin(), views.end()};
}

// What the buffer says about itself while it holds one text, and again once listed.
void ExpectReads(LineBuffer b, const Lines& lines, const std::string& text) {
    EXPECT_EQ(b.count(), lines.size());
    EXPECT_EQ(b.text(), text);
    EXPECT_EQ(Copy(b.lineViews()), lines);
    EXPECT_EQ(b.lines(), lines);
    EXPECT_EQ(b.count(), lines.size());
    EXPECT_EQ(b.text(), text);
    EXPECT_EQ(Copy(b.lineViews()), lines);
}

} // namespace

TEST(LineBuffer, TextSetAsAWholeReadsTheSameBeforeAndAfterListing) {
    const struct {
        std::string in;
        Lines lines;
        std::string text;
    } cases[] = {
        {"", {}, ""},
        {"\r\n", {""}, "\r\n"},
        {"a", {"a"}, "a\r\n"},
        {"a\r\n", {"a"}, "a\r\n"},
        {"a\r\n\r\n", {"a", ""}, "a\r\n\r\n"},
        {"a\rb\nc\r\nd\r", {"a\rb\nc", "d\r"}, "a\rb\nc\r\nd\r\r\n"},
        {"\n\r\n\r", {"\n", "\r"}, "\n\r\n\r\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        LineBuffer set;
        set.setText(c.in);
        ExpectReads(set, c.lines, c.text);
        LineBuffer taken;
        taken.append("earlier");
        taken.takeText(c.in);
        ExpectReads(taken, c.lines, c.text);
    }
}

TEST(LineBuffer, AppendedLinesFollowTheTextAndCountOn) {
    LineBuffer b;
    b.setText("a\r");
    EXPECT_EQ(b.count(), 1u); // counted before the appends
    b.append("b");
    b.append("");
    ExpectReads(b, {"a\r", "b", ""}, "a\r\r\nb\r\n\r\n");

    // A line with CR LF inside stays one line, as it does in a list.
    b.append("p\r\nq");
    b.append("r");
    EXPECT_EQ(b.count(), 5u);
    EXPECT_EQ(b.line(3), "p\r\nq");
    EXPECT_EQ(b.text(), "a\r\r\nb\r\n\r\np\r\nq\r\nr\r\n");

    LineBuffer fresh;
    fresh.append("x");
    fresh.append("y");
    ExpectReads(fresh, {"x", "y"}, "x\r\ny\r\n");
}

TEST(LineBuffer, ListHandedOutStaysTheBufferUntilTheTextIsSetAgain) {
    LineBuffer b;
    b.setText("one\r\ntwo");
    std::vector<std::string>& list = b.lines();
    list[1] = "zwei";
    list.push_back("drei");
    b.append("vier");
    EXPECT_EQ(b.count(), 4u);
    EXPECT_EQ(b.text(), "one\r\nzwei\r\ndrei\r\nvier\r\n");
    EXPECT_EQ(Copy(b.lineViews()), (Lines{"one", "zwei", "drei", "vier"}));

    b.setText(b.line(1)); // a text that lies in the buffer itself
    ExpectReads(b, {"zwei"}, "zwei\r\n");
    b.setText(b.text());
    ExpectReads(b, {"zwei"}, "zwei\r\n");

    b.clear();
    ExpectReads(b, {}, "");
    b.lines() = {"neu"};
    ExpectReads(b, {"neu"}, "neu\r\n");
}
