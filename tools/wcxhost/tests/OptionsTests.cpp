// wcxhost's command line: what each form runs, and the forms that are refused.
#include <gtest/gtest.h>

#include "Options.h"

using namespace wcxhost;

namespace {

struct Accepted {
    std::vector<std::string> arguments;
    std::string command, plugin, archive, destination;
    bool ansi, hasPassword;
    std::string password;
    ExistingTarget existing;
    bool showDialogs;
};

TEST(WcxhostOptions, ReadsCommandsPathsAndOptionsInAnyOrder) {
    const Accepted cases[] = {
        {{"list", "p.wcx", "a.tar"}, "list", "p.wcx", "a.tar", ".", false, false, "", ExistingTarget::Keep, false},
        {{"extract", "p.wcx", "a.tar", "out"}, "extract", "p.wcx", "a.tar", "out", false, false, "",
         ExistingTarget::Keep, false},
        {{"--ansi", "test", "p", "a"}, "test", "p", "a", ".", true, false, "", ExistingTarget::Keep, false},
        {{"probe", "p", "a", "--password", "s3cret word"}, "probe", "p", "a", ".", false, true, "s3cret word",
         ExistingTarget::Keep, false},
        {{"--password=", "list", "p", "a"}, "list", "p", "a", ".", false, true, "", ExistingTarget::Keep, false},
        {{"--password", "--ansi", "list", "p", "a"}, "list", "p", "a", ".", false, true, "--ansi",
         ExistingTarget::Keep, false},
        {{"extract", "--overwrite", "p", "a", "d"}, "extract", "p", "a", "d", false, false, "",
         ExistingTarget::Overwrite, false},
        {{"extract", "p", "a", "--skip-existing"}, "extract", "p", "a", ".", false, false, "", ExistingTarget::Skip,
         false},
        {{"--show-dialogs", "list", "p", "a"}, "list", "p", "a", ".", false, false, "", ExistingTarget::Keep, true},
        {{"list", "p", "--", "-a.tar"}, "list", "p", "-a.tar", ".", false, false, "", ExistingTarget::Keep, false},
        {{"list", "p", "-"}, "list", "p", "-", ".", false, false, "", ExistingTarget::Keep, false},
    };
    for (const Accepted& c : cases) {
        Options options;
        std::string problem;
        ASSERT_EQ(ParseArguments(c.arguments, options, problem), Parsed::Run) << c.arguments[0] << ": " << problem;
        EXPECT_EQ(options.command, c.command);
        EXPECT_EQ(options.plugin, c.plugin);
        EXPECT_EQ(options.archive, c.archive);
        EXPECT_EQ(options.destination, c.destination);
        EXPECT_EQ(options.ansi, c.ansi);
        EXPECT_EQ(options.hasPassword, c.hasPassword);
        EXPECT_EQ(options.password, c.password);
        EXPECT_EQ(options.existing, c.existing);
        EXPECT_EQ(options.showDialogs, c.showDialogs);
    }
}

TEST(WcxhostOptions, RefusesWhatCannotRunAndSaysWhy) {
    const struct {
        std::vector<std::string> arguments;
        Parsed parsed;
        std::string problem;
    } cases[] = {
        {{}, Parsed::Usage, ""},
        {{"--help"}, Parsed::Help, ""},
        {{"list", "p", "a", "-h"}, Parsed::Help, ""},
        {{"--version", "list"}, Parsed::Version, ""},
        {{"unpack", "p", "a"}, Parsed::Usage, "unknown command unpack"},
        {{"list", "p"}, Parsed::Usage, "wrong number of arguments"},
        {{"list", "p", "a", "d"}, Parsed::Usage, "wrong number of arguments"},
        {{"extract", "p", "a", "d", "e"}, Parsed::Usage, "wrong number of arguments"},
        {{"list", "p", "a", "--verbose"}, Parsed::Usage, "unknown option --verbose"},
        {{"list", "p", "a", "-x"}, Parsed::Usage, "unknown option -x"},
        {{"list", "p", "a", "--password"}, Parsed::Usage, "--password needs a text"},
        {{"extract", "p", "a", "--overwrite", "--skip-existing"}, Parsed::Usage,
         "--overwrite and --skip-existing exclude each other"},
        {{"list", "p", "a", "--overwrite"}, Parsed::Usage, "--overwrite applies to extract only"},
        {{"test", "p", "a", "--skip-existing"}, Parsed::Usage, "--skip-existing applies to extract only"},
    };
    for (const auto& c : cases) {
        Options options;
        std::string problem = "stale";
        EXPECT_EQ(ParseArguments(c.arguments, options, problem), c.parsed) << c.problem;
        if (c.parsed == Parsed::Usage) {
            EXPECT_EQ(problem, c.problem);
        }
    }
}

}  // namespace
