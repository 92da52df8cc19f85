#pragma once
// quindle-cli's command line, declared once with CLI11: the commands, their options and
// what each option's value is. The parser, --help and the shell completion all read
// these declarations.
#include <CLI/CLI.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace quindle::cli {

// What the shell may offer for an option's value or a positional argument.
struct ValueCompletion {
    enum Kind { Nothing, Words, Folder, Serial, Drive } kind = Nothing;
    std::vector<std::string> words; // for Words
};

// What a command needs before it runs.
enum class Needs { Nothing, DriveTable, Package };

struct Command {
    CLI::App* app = nullptr;
    Needs needs = Needs::Package;
    std::function<int(AppContext&)> run;
};

// The declarations and the values they fill in. Not copyable: the options point into it.
class CommandLine {
public:
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    CLI::App& App() { return app_; }
    const CLI::App& App() const { return app_; }
    const std::vector<Command>& Commands() const { return commands_; }
    // The completion of an option or positional; Nothing for those not named.
    ValueCompletion CompletionOf(const CLI::Option* o) const;
    const std::optional<std::string>& Package() const { return package_; }

private:
    CLI::App app_{"", "quindle-cli"};
    std::vector<Command> commands_;
    std::map<const CLI::Option*, ValueCompletion> completions_;
    std::optional<std::string> package_;
    // The values of the commands' options, filled in by the parse.
    ListOptions list_;
    FindOptions find_;
    AddOptions add_;
    DiskOptions disk_;
    LocateOptions locate_;
    DupesOptions dupes_;

    friend class Declarer;
};

// The bash completion script for these declarations: a function _quindle_cli and the
// `complete` line that binds it to quindle-cli.
std::string BashCompletion(const CommandLine& line);

} // namespace quindle::cli
