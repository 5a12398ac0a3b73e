// Where the answers to the plug-in's password requests come from, and when wcxhost gives up.
#include <gtest/gtest.h>

#include <vector>

#include "PasswordSource.h"

using namespace wcxhost;

namespace {

// A console that answers the scripted lines in turn and then reports the end of its input.
struct ScriptedConsole {
    std::vector<std::string> lines;
    std::vector<std::string> prompts;
    PasswordSource::ConsoleReader Reader() {
        return [this](const std::string& prompt, std::string& line) {
            prompts.push_back(prompt);
            if (prompts.size() > lines.size()) return false;
            line = lines[prompts.size() - 1];
            return true;
        };
    }
};

struct Step {
    bool answered;
    std::string text;  // the answer, or a piece of the reason for cancelling
};

TEST(WcxhostPasswordSource, AnswersFromTheOptionTheConsoleOrNotAtAll) {
    const struct {
        const char* what;
        bool hasGiven;
        std::string given;
        bool console;
        std::vector<std::string> typed;
        std::vector<Step> steps;  // requests within one call
    } cases[] = {
        {"option, accepted", true, "secret", false, {}, {{true, "secret"}}},
        {"option, refused once", true, "wrong", true, {"typed"}, {{true, "wrong"}, {false, "refused the password given with --password"}}},
        {"empty option", true, "", false, {}, {{true, ""}}},
        {"no source", false, "", false, {}, {{false, "give it with --password"}}},
        {"console, second try", false, "", true, {"one", "two"}, {{true, "one"}, {true, "two"}}},
        {"console, bounded", false, "", true, {"1", "2", "3", "4"},
         {{true, "1"}, {true, "2"}, {true, "3"}, {false, "refused 3 passwords"}}},
        {"console, input ends", false, "", true, {}, {{false, "no password was typed"}}},
    };
    for (const auto& c : cases) {
        ScriptedConsole console{c.typed, {}};
        PasswordSource source(c.hasGiven, c.given, c.console ? console.Reader() : nullptr);
        source.StartCall("a.tar");
        for (size_t i = 0; i < c.steps.size(); ++i) {
            std::string text = "stale", why = "stale";
            const bool answered = source.Answer(text, why);
            EXPECT_EQ(answered, c.steps[i].answered) << c.what << ", request " << i;
            if (answered) {
                EXPECT_EQ(text, c.steps[i].text) << c.what;
                EXPECT_EQ(why, "") << c.what;
            } else {
                EXPECT_NE(why.find(c.steps[i].text), std::string::npos) << c.what << ": " << why;
                EXPECT_EQ(text, "") << c.what;
            }
        }
    }
}

TEST(WcxhostPasswordSource, EachCallStartsAfreshAndThePromptSaysWhichTry) {
    ScriptedConsole console{{"a", "b", "c", "d"}, {}};
    PasswordSource source(false, "", console.Reader());
    std::string text, why;
    source.StartCall("first.tar");
    EXPECT_TRUE(source.Answer(text, why));
    EXPECT_TRUE(source.Answer(text, why));
    // A new call (the plug-in opens the archive again) may ask the full number of times.
    source.StartCall("second.tar");
    EXPECT_TRUE(source.Answer(text, why));
    EXPECT_EQ(text, "c");
    ASSERT_EQ(console.prompts.size(), 3u);
    EXPECT_EQ(console.prompts[0], "Password for \"first.tar\": ");
    EXPECT_EQ(console.prompts[1], "Wrong password, try again (2 of 3): ");
    EXPECT_EQ(console.prompts[2], "Password for \"second.tar\": ");

    PasswordSource given(true, "p", nullptr);
    for (const char* archive : {"x", "y"}) {
        given.StartCall(archive);
        EXPECT_TRUE(given.Answer(text, why)) << archive;
        EXPECT_EQ(text, "p");
    }
}

}  // namespace
