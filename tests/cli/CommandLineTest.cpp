// quindle-cli's command line as a user meets it: every command's help, the global option
// on either side of the command, one check and one style of message for each kind of
// value, the grep-like exit status, and the bash completion sourced into a real bash.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/TempDrive.h"

using quindle::test::CliResult;
using quindle::test::RunCli;
using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Drives E and F mapped in the user's settings; a file of 1023, 1024 and 1025 bytes on
// both (copies), and one of 3 bytes on E only.
struct Rig {
    TempDrive e{'E', 5u}, f{'F', 6u};
    TempDir package;
    Rig() {
        quindle::test::MapDrives({&e, &f});
        for (const TempDrive* d : {&e, &f})
            for (const size_t n : {1023, 1024, 1025}) d->MakeFile("k" + std::to_string(n) + ".bin", std::string(n, 'x'));
        e.MakeFile("only-e.txt", "abc");
    }
    ~Rig() { quindle::test::MapDrives({}); }
    CliResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--package", package.path()});
        return RunCli(args);
    }
};

// Every command with its arguments and options, as the manual page lists them.
struct CommandSpec {
    std::string name, arguments;
    std::vector<std::string> options;
};
const CommandSpec kCommands[] = {
    {"list", "", {"--json"}},
    {"find", " WORD", {"--names", "--all"}},
    {"add", " DRIVE", {"--title", "--description", "--additional", "--replace", "--archives", "--checksums", "--no-checksums"}},
    {"remove", " SERIAL", {}},
    {"drives", "", {}},
    {"files", " SERIAL", {"--json", "--no-hidden"}},
    {"show", " SERIAL", {"--json"}},
    {"diff", " SERIAL", {"--json", "--no-hidden"}},
    {"unique", " SERIAL", {"--json", "--no-hidden", "--content"}},
    {"verify", " SERIAL", {"--json"}},
    {"locate", " TERM...",
     {"--kind", "--min-size", "--max-size", "--after", "--before", "--disk", "--sort", "--reverse", "--json", "--no-hidden"}},
    {"dupes", "", {"--min-size", "--json", "--no-hidden", "--content"}},
    {"completion", " SHELL", {}},
};

// The words the completion offers for `words`, the last being the one the cursor is in:
// the script that `quindle-cli completion bash` writes, sourced into bash, its function
// called as bash's programmable completion calls it.
std::vector<std::string> Complete(const std::string& script, const std::vector<std::string>& words) {
    std::vector<std::string> args{"--norc", "--noprofile", "-c",
                                  "source \"$1\" || exit 3; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(( $# - 1 ));"
                                  " _quindle_cli || exit 4; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                  "bash", script};
    args.insert(args.end(), words.begin(), words.end());
    const CliResult r = quindle::test::RunProgram("/bin/bash", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> offered;
    for (const std::string& w : Lines(r.out))
        if (!w.empty()) offered.push_back(w);
    std::sort(offered.begin(), offered.end());
    return offered;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(CliCommandLine, EveryCommandHasHelpNamingItsArgumentsAndOptions) {
    const CliResult top = RunCli({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_EQ(top.err, "");
    EXPECT_EQ(top.out.rfind("quindle-cli: ", 0), 0u) << top.out;
    EXPECT_NE(top.out.find("Usage: quindle-cli [OPTIONS] [COMMAND]\n"), std::string::npos) << top.out;
    EXPECT_EQ(RunCli({"-h"}).out, top.out);
    for (const CommandSpec& c : kCommands) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(top.out.find("\n  " + c.name + c.arguments + " "), std::string::npos) << top.out;
        // Help wins over missing arguments, and comes the same from -h, before the command too.
        const CliResult r = RunCli({c.name, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find("Usage: quindle-cli " + c.name + " [OPTIONS]" + c.arguments + "\n"), std::string::npos)
            << r.out;
        std::vector<std::string> named{"-h,--help", "--package DIR"};
        named.insert(named.end(), c.options.begin(), c.options.end());
        for (const std::string& o : named) EXPECT_NE(r.out.find("\n  " + o + " "), std::string::npos) << o << "\n" << r.out;
        EXPECT_NE(r.out.find("\nExit status: 0"), std::string::npos) << r.out;
        EXPECT_EQ(RunCli({c.name, "-h"}).out, r.out);
        EXPECT_EQ(RunCli({"--help", c.name}).out, r.out);
    }
    // The choices of --kind and --sort, and the form of sizes and dates.
    const CliResult locate = RunCli({"locate", "--help"});
    for (const char* has : {"--kind folder|file|link|other ", "--sort title|name|size|date ", "--min-size SIZE ",
                            "(K, M, G: powers of 1024)", "--after DATE ", "(YYYY-MM-DD, local time)"})
        EXPECT_NE(locate.out.find(has), std::string::npos) << has;
    EXPECT_NE(RunCli({"dupes", "--help"}).out.find("--min-size SIZE "), std::string::npos);
}

TEST(CliCommandLine, ThePackageOptionGoesOnEitherSideOfTheCommandAndTheOldFormsStay) {
    Rig rig;
    const std::string p = rig.package.path();
    // After the command, with "=" and with an empty value that is not the next argument.
    ASSERT_EQ(RunCli({"add", "E:", "--title=Disk E", "--description=", "--package", p}).status, 0);
    ASSERT_EQ(RunCli({"add", "f", "--package=" + p, "--title", "Disk F"}).status, 0);
    EXPECT_NE(rig.package.Read("5.dat").find("\r\nTitle=Disk E\r\nDescription=\r\n"), std::string::npos)
        << rig.package.Read("5.dat");
    const std::string list = RunCli({"--package", p, "list"}).out;
    ASSERT_EQ(Lines(list).size(), 2u) << list;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "--package", p}, {"list", "--package=" + p}, {"--package=" + p, "list"}}) {
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, list) << args[0];
    }
    // The last of a repeated single option counts, as before; a missing package folder is an error.
    EXPECT_EQ(RunCli({"list", "--package", p + "/none", "--package", p}).out, list);
    EXPECT_EQ(RunCli({"list", "--package", p, "--package", p + "/none"}).status, 2);
    EXPECT_EQ(RunCli({"--package", p + "/none", "list", "--package", p}).out, list);
    EXPECT_EQ(RunCli({"drives", "--package", p}).status, 0);

    // "--" ends the options also after other arguments; brackets and "++" are plain terms;
    // --disk repeats.
    rig.e.MakeFile("-x-[1].txt", "y");
    rig.e.MakeFile("++", "y");
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Disk E", "--replace"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"locate", "--json", "x", "--", "-x-"}, 0, "{\"serial\":\"5\",\"title\":\"Disk E\",\"path\":\"-x-[1].txt\""},
        {{"locate", "--json", "--", "\"[1]\""}, 0, "\"path\":\"-x-[1].txt\""},
        {{"locate", "--json", "--", "[1]"}, 1, ""},
        {{"locate", "--json", "++"}, 0, "\"path\":\"++\""},
        {{"locate", "--disk", "6", "--disk=5", "k1024"}, 0, "5\tDisk E\tfile\t1024\t"},
        {{"find", "--", "-x-"}, 0, "1\t5\tDisk E\n"},
    };
    for (const Case& c : cases) {
        const CliResult r = rig.Cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args.back() << "\n" << r.out;
    }
    EXPECT_EQ(Lines(rig.Cli({"locate", "--disk", "6", "--disk", "5", "k1024"}).out).size(), 2u);
}

TEST(CliCommandLine, BadValuesExitWithTwoAndOneStyleOfMessage) {
    Rig rig;
    struct Case {
        std::vector<std::string> args;
        std::string message; // after "quindle-cli: "
    };
    const Case cases[] = {
        {{"dupes", "--min-size", "5MB"}, "dupes: --min-size: \"5MB\" is not a size (a number of bytes, or with K, M or G)"},
        {{"locate", "--min-size", "1.5K", "a"}, "locate: --min-size: \"1.5K\" is not a size (a number of bytes, or with K, M or G)"},
        {{"locate", "--max-size=-1", "a"}, "locate: --max-size: \"-1\" is not a size (a number of bytes, or with K, M or G)"},
        {{"locate", "--max-size", "16777216T", "a"}, "locate: --max-size: \"16777216T\" is not a size (a number of bytes, or with K, M or G)"},
        {{"locate", "--max-size", "17179869184G", "a"}, "locate: --max-size: \"17179869184G\" is not a size (a number of bytes, or with K, M or G)"},
        {{"locate", "--after", "2020-13-01", "a"}, "locate: --after: \"2020-13-01\" is not a date (YYYY-MM-DD)"},
        {{"locate", "--before", "1/5/2020", "a"}, "locate: --before: \"1/5/2020\" is not a date (YYYY-MM-DD)"},
        {{"locate", "--kind", "dir", "a"}, "locate: --kind: \"dir\" is not one of folder, file, link, other"},
        {{"locate", "--sort=speed", "a"}, "locate: --sort: \"speed\" is not one of title, name, size, date"},
        {{"locate", "--disk", "5x", "a"}, "locate: --disk: \"5x\" is not a volume serial (a number from 0 to 4294967295)"},
        {{"locate", "--disk", "7", "a"}, "locate: no disk 7 in the package"},
        {{"locate"}, "locate: missing TERM"},
        {{"locate", "--json"}, "locate: missing TERM"},
        {{"remove", "x"}, "remove: \"x\" is not a volume serial (a number from 0 to 4294967295)"},
        {{"files", "4294967296"}, "files: \"4294967296\" is not a volume serial (a number from 0 to 4294967295)"},
        {{"show", "-1"}, "show: \"-1\" is not a volume serial (a number from 0 to 4294967295)"},
        {{"diff", ""}, "diff: \"\" is not a volume serial (a number from 0 to 4294967295)"},
        {{"unique"}, "unique: missing SERIAL"},
        {{"unique", "5", "6"}, "unique: unexpected argument \"6\""},
        {{"add", "EE", "--title", "t"}, "add: \"EE\" is not a drive (give a letter such as E: or e)"},
        {{"add", "E:", "--title"}, "add: option --title needs a value"},
        {{"add", "E:"}, "add: a title is needed (--title T)"},
        {{"add", "E:", "--title", "a[b"}, "add: the title, description and additional information cannot hold the character \"[\""},
        {{"list", "--json=yes"}, "list: option --json takes no value"},
        {{"list", "--jsn"}, "list: unknown option --jsn"},
        {{"list", "--", "--json"}, "list: unexpected argument \"--json\""},
        {{"find", "--all"}, "find: missing WORD"},
        {{"find", ""}, "find: the word is empty"},
        {{"completion", "zsh"}, "completion: \"zsh\" is not one of bash"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{}, "no command given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const CliResult r = rig.Cli(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        const std::string command = c.message.find(": ") < c.message.find(' ') ? c.message.substr(0, c.message.find(':')) : "";
        EXPECT_EQ(r.err, "quindle-cli: " + c.message + "\nTry 'quindle-cli " + command + (command.empty() ? "" : " ") +
                             "--help'.\n");
    }
    // The package is untouched by all that.
    EXPECT_EQ(rig.package.Read("5.dat"), "");
}

TEST(CliCommandLine, SizesTakeKMGAsPowersOf1024AndEmptyListsExitWithOne) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> names; // of the groups (dupes) or the files (locate, unique), in order
    };
    const Case cases[] = {
        {{"dupes"}, 0, {"k1025.bin", "k1024.bin", "k1023.bin"}},
        {{"dupes", "--min-size", "1K"}, 0, {"k1025.bin", "k1024.bin"}},
        {{"dupes", "--min-size=1k"}, 0, {"k1025.bin", "k1024.bin"}},
        {{"dupes", "--min-size", "1025"}, 0, {"k1025.bin"}},
        {{"dupes", "--min-size", "1M"}, 1, {}},
        {{"dupes", "--min-size", "0G", "--min-size", "1026"}, 1, {}},
        {{"locate", "--disk", "5", "--min-size", "1K", "--max-size", "1k", "k"}, 0, {"k1024.bin"}},
        {{"locate", "--disk", "5", "--max-size", "1G", "--min-size", "1025", "."}, 0, {"k1025.bin"}},
        {{"locate", "--disk", "5", "--min-size", "1M", "."}, 1, {}},
        {{"unique", "5"}, 0, {"only-e.txt"}},
        {{"unique", "6"}, 1, {}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const auto& a : c.args) trace += a + " ";
        SCOPED_TRACE(trace);
        const CliResult r = rig.Cli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        std::vector<std::string> names;
        for (const std::string& line : Lines(r.out)) {
            if (c.args[0] == "dupes" && line[0] == '\t') continue; // the copies of a group
            names.push_back(line.substr(line.find_last_of("\t\\") + 1));
        }
        EXPECT_EQ(names, c.names) << r.out;
    }
}

TEST(CliCompletion, BashOffersCommandsOptionsChoicesFoldersSerialsAndDrives) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    const CliResult script = RunCli({"completion", "bash"});
    ASSERT_EQ(script.status, 0) << script.err;
    EXPECT_EQ(script.out.find("#!"), std::string::npos); // sourced, not run
    TempDir files;
    const std::string path = files.MakeFile("quindle-cli.bash", script.out);
    // Folders with a blank for --package, beside a file that is not offered.
    files.MakeDir("pkg one");
    files.MakeDir("pkg two");
    files.MakeFile("pkg file", "x");

    // What each command's options are offered as, and that the binding is made.
    const CliResult bound = quindle::test::RunProgram(
        "/bin/bash", {"--norc", "-c", "source \"$1\" && complete -p quindle-cli", "bash", path});
    EXPECT_EQ(bound.out, "complete -F _quindle_cli quindle-cli\n");
    std::vector<std::string> commands;
    for (const CommandSpec& c : kCommands) {
        commands.push_back(c.name);
        std::vector<std::string> options{"--help", "--package"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(Complete(path, {"quindle-cli", c.name, "--"}), Sorted(options)) << c.name;
    }

    const std::string cli = QUINDLE_CLI, p = rig.package.path(), dir = files.path();
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> offered;
    };
    const Case cases[] = {
        {{"quindle-cli", ""}, commands},
        {{"quindle-cli", "d"}, {"diff", "drives", "dupes"}},
        {{"quindle-cli", "-"}, {"--help", "--package", "-h"}},
        {{"quindle-cli", "--package", dir + "/pkg"}, {dir + "/pkg one", dir + "/pkg two"}},
        {{"quindle-cli", "locate", "--kind", ""}, {"file", "folder", "link", "other"}},
        {{"quindle-cli", "locate", "--kind", "=", "fi"}, {"file"}},  // bash splits at "="
        {{"quindle-cli", "locate", "--kind", "="}, {"file", "folder", "link", "other"}},
        {{"quindle-cli", "locate", "--kind=fo"}, {"--kind=folder"}}, // "=" not a word break
        {{"quindle-cli", "locate", "--sort", "s"}, {"size"}},
        {{"quindle-cli", "locate", "--min-size", ""}, {}},          // a size: nothing to guess
        {{"quindle-cli", "locate", "--min-size", "1K", "--re"}, {"--reverse"}},
        {{"quindle-cli", "locate", "term", "--", "--re"}, {}},     // after "--", no options
        {{"quindle-cli", "add", "--title", "--re"}, {}},            // the title's value
        {{"quindle-cli", "add", "--title", "T", "--re"}, {"--replace"}},
        {{"quindle-cli", "find", ""}, {}},                          // a word: nothing to guess
        {{"quindle-cli", "list", ""}, {"--help", "--json", "--package", "-h"}},
        {{"quindle-cli", "completion", ""}, {"bash"}},
        // Serials and drives from the quindle-cli being completed, on the package named.
        {{cli, "--package", p, "files", ""}, {"5", "6"}},
        {{cli, "unique", "--package", "=", p, "6"}, {"6"}},
        {{cli, "locate", "--package=" + p, "--disk", ""}, {"5", "6"}},
        {{cli, "remove", "5", ""}, {"--help", "--package", "-h"}}, // one serial only
        {{"/no/such/quindle-cli", "--package", p, "files", ""}, {}},
        {{cli, "add", "F"}, {"F"}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const auto& w : c.words) trace += w + " ";
        SCOPED_TRACE(trace);
        EXPECT_EQ(Complete(path, c.words), Sorted(c.offered));
    }
    // Every letter of the drive table, E and F among them.
    const std::vector<std::string> drives = Complete(path, {cli, "add", ""});
    for (const char* letter : {"E", "F"})
        EXPECT_TRUE(std::find(drives.begin(), drives.end(), letter) != drives.end()) << letter;
    for (const std::string& d : drives) EXPECT_TRUE(d.size() == 1 && d[0] >= 'A' && d[0] <= 'Z') << d;
}
