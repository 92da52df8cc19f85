#pragma once
// What the commands of quindle-cli share: output, messages, argument parsing, the package.
// One file per command; main.cpp picks the command.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/AppContext.h"

namespace quindle::cli {

constexpr int kOk = 0, kNotFound = 1, kError = 2;

extern const char* const kUsage;

// Bad input: the message, then exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void WriteAll(int fd, const std::string& s);
// "quindle-cli: " + text on stderr.
void Message(const std::string& text);
// Results on stdout.
void Out(const std::string& line);

// The arguments after the command: options (with their values) and the rest, in order.
struct CommandArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::optional<std::string>>> options;

    bool Flag(const std::string& name) const {
        return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
    }
    std::optional<std::string> Value(const std::string& name) const {
        std::optional<std::string> v;
        for (const auto& o : options)
            if (o.first == name) v = o.second;
        return v;
    }
};

// Splits argv after the command. `withValue` names the options that take a value
// ("--title T" or "--title=T"); `flags` those that do not; "--" ends the options.
CommandArgs ParseCommandArgs(const std::string& command, const std::vector<std::string>& args,
                             const std::vector<std::string>& flags, const std::vector<std::string>& withValue);
void ExpectPositional(const std::string& command, const CommandArgs& a, size_t n, const char* what);
// A volume serial given on the command line (decimal, 0 to 4294967295).
uint32_t SerialArgument(const std::string& command, const std::string& text);

// The program's rule for its package folder, or the folder the user names.
void SetUpPackage(AppContext& ctx, const std::optional<std::string>& package);

// The commands; `args` are the arguments after the command's name.
int List(AppContext& ctx, const std::vector<std::string>& args);
int Find(AppContext& ctx, const std::vector<std::string>& args);
int Add(AppContext& ctx, const std::vector<std::string>& args);
int Remove(AppContext& ctx, const std::vector<std::string>& args);
int Drives(AppContext& ctx);
int Files(AppContext& ctx, const std::vector<std::string>& args);
int Show(AppContext& ctx, const std::vector<std::string>& args);
int Locate(AppContext& ctx, const std::vector<std::string>& args);
int Diff(AppContext& ctx, const std::vector<std::string>& args);
int Dupes(AppContext& ctx, const std::vector<std::string>& args);
int Unique(AppContext& ctx, const std::vector<std::string>& args);

} // namespace quindle::cli
