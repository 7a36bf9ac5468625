// The expectations file's reading and the verdicts on a run's answers: a mark lets only
// its own run give another answer, and Wine alone may give Windows' answer as well.
#include "tests/conformance/expectations.h"

#include <gtest/gtest.h>

#include <vector>

namespace conformance {
namespace {

const char* const file = R"(# a comment
[texts]
  wine: *\r\n
  why: Wine's own words
FormatMessageW of 5 = Access is denied.\r\n
FormatMessageW of a code without a text = 0 error 317
  wine: 0 error 317
  why: not a text
[order]
subkeys = 10,9,a2,A_1
  wine: 10,9,A_1,a2
  why: Wine sorts by lower-case names,
    Windows by upper-case ones
  emulation: 10,9,a2,A_1,x
  why: made up for this test
empty answer =
)";

Expectations Parsed(const std::string& text = file) {
    Expectations expectations;
    std::string error;
    EXPECT_TRUE(ParseExpectations(text, expectations, error)) << error;
    return expectations;
}

using Given = std::vector<std::pair<const char*, const char*>>;

bool Conforms(Runner runner, const Given& given, const std::set<std::string>& groups = {"texts", "order"}) {
    Answers answers;
    for (const auto& [question, answer] : given) {
        const std::string text = question;
        const size_t slash = text.find('/');
        answers.Group(text.substr(0, slash));
        answers.Add(text.substr(slash + 1), answer);
    }
    return Compare(Parsed(), answers, runner, groups);
}

TEST(Expectations, MarksBelongToTheirQuestionOrGroupWithTheirReasons) {
    const Expectations expectations = Parsed();
    ASSERT_EQ(expectations.entries.size(), 4u);
    const Expectation& text = expectations.entries[0];
    EXPECT_EQ(text.group, "texts");
    EXPECT_EQ(text.windows, "Access is denied.\\r\\n");
    EXPECT_EQ(text.marks.at("wine").alternative, "*\\r\\n");                         // the group's
    EXPECT_EQ(expectations.entries[1].marks.at("wine").alternative, "0 error 317");  // its own
    const Expectation& order = expectations.entries[2];
    EXPECT_EQ(order.marks.at("wine").why, "Wine sorts by lower-case names, Windows by upper-case ones");
    EXPECT_EQ(order.marks.at("emulation").alternative, "10,9,a2,A_1,x");
    EXPECT_EQ(order.marks.count("wine"), 1u);  // the group [order] has none to add
    EXPECT_EQ(expectations.entries[3].windows, "");
}

TEST(Expectations, MalformedFilesAreRefusedWithTheirLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"[g]\nq = a\n  wine: b\n", "line 3: the last mark has no reason (why:)"},
        {"[g]\nq = a\n  wine: b\nr = c\n", "line 4: the mark before this line has no reason (why:)"},
        {"[g]\nq = a\n  why: alone\n", "line 3: a reason without a mark before it"},
        {"q = a\n", "line 1: a question before the first [group]"},
        {"[g]\nq = a\nq = b\n", "line 3: \"q\" is there twice"},
        {"[g]\nq: a\n", "line 2: a question is \"QUESTION = ANSWER\""},
        {"[g]\nq = a\n  linux: b\n  why: c\n",
         "line 3: an indented line that is neither a mark nor a reason"},
        {"[g]\nq = a\n  wine: b\n  why: c\n  wine: d\n  why: e\n", "line 5: a second wine mark"},
    };
    for (const auto& [text, message] : cases) {
        Expectations expectations;
        std::string error;
        EXPECT_FALSE(ParseExpectations(text, expectations, error)) << text;
        EXPECT_EQ(error, message) << text;
    }
}

TEST(Expectations, EachRunnerIsHeldToItsOwnAnswers) {
    const auto all = [](const char* text, const char* order) {
        return Given{{"texts/FormatMessageW of 5", text},
                     {"texts/FormatMessageW of a code without a text", "0 error 317"},
                     {"order/subkeys", order},
                     {"order/empty answer", ""}};
    };
    const struct {
        const char* name;
        Runner runner;
        const char* text;
        const char* order;
        bool conforms;
    } cases[] = {
        {"Windows' answers, on Windows", Runner::Windows, "Access is denied.\\r\\n", "10,9,a2,A_1", true},
        {"Wine's marked text, on Windows", Runner::Windows, "Access denied.\\r\\n", "10,9,a2,A_1", false},
        {"Wine's marked answers, under Wine", Runner::Wine, "Access denied.\\r\\n", "10,9,A_1,a2", true},
        {"Windows' answers, under Wine", Runner::Wine, "Access is denied.\\r\\n", "10,9,a2,A_1", true},
        {"a text without its line break, under Wine", Runner::Wine, "Access denied.", "10,9,a2,A_1", false},
        {"the emulation's marked answer", Runner::Emulation, "Access is denied.\\r\\n", "10,9,a2,A_1,x",
         true},
        // A mark for the emulation replaces Windows' answer: it is the one it gives.
        {"Windows' answer where the emulation is marked", Runner::Emulation, "Access is denied.\\r\\n",
         "10,9,a2,A_1", false},
        {"Wine's marked answer, from the emulation", Runner::Emulation, "Access denied.\\r\\n",
         "10,9,a2,A_1,x", false},
        {"Wine's mark, from the firmware reader", Runner::FirmwareDirectory, "Access denied.\\r\\n",
         "10,9,a2,A_1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Conforms(c.runner, all(c.text, c.order)), c.conforms) << c.name;
}

TEST(Expectations, EveryQuestionOfTheGroupsAskedIsAnsweredOnce) {
    EXPECT_FALSE(
        Conforms(Runner::Wine, {{"texts/FormatMessageW of 5", "Access is denied.\\r\\n"}}, {"texts"}))
        << "one question of the group unanswered";
    EXPECT_TRUE(Conforms(Runner::Wine,
                         {{"texts/FormatMessageW of 5", "Access is denied.\\r\\n"},
                          {"texts/FormatMessageW of a code without a text", "0 error 317"}},
                         {"texts"}))
        << "a group not asked is not required";
    EXPECT_FALSE(Conforms(Runner::Wine,
                          {{"texts/FormatMessageW of 5", "Access is denied.\\r\\n"},
                           {"texts/FormatMessageW of 5", "Access is denied.\\r\\n"},
                           {"texts/FormatMessageW of a code without a text", "0 error 317"}},
                          {"texts"}))
        << "asked twice";
    EXPECT_FALSE(Conforms(Runner::Wine,
                          {{"texts/FormatMessageW of 5", "Access is denied.\\r\\n"},
                           {"texts/FormatMessageW of a code without a text", "0 error 317"},
                           {"texts/FormatMessageW of 6", "The handle is invalid.\\r\\n"}},
                          {"texts"}))
        << "a question the file does not hold";
}

TEST(Expectations, PatternsStandForAnyTextWhereTheyHoldAStar) {
    const struct {
        const char* text;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"Invalid function.\\r\\n", "*\\r\\n", true},
        {"\\r\\n", "*\\r\\n", true},
        {"Invalid function.", "*\\r\\n", false},
        {"0 error 1 buffer ee", "0 error * buffer ee", true},
        {"0 error 1 buffer ef", "0 error * buffer ee", false},
        {"a*b", "a\\*b", true},
        {"axb", "a\\*b", false},
        {"ab\\\\", "ab\\\\", true},
        {"", "*", true},
        {"abc", "a*c*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesPattern(c.text, c.pattern), c.matches) << c.text << " " << c.pattern;
}

}  // namespace
}  // namespace conformance
