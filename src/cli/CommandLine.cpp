// quindle-cli's commands and options, declared in one place; the parse, --help, the
// one style of parse errors and the exit status.
#include "cli/CommandLine.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "catalogue/Catalogue.h"
#include "platform/CodePage.h"
#include "platform/Drives.h"
#include "settings/UserSettings.h"

namespace quindle::cli {

namespace {

// A value that is not what its option takes; the text says why ("\"x\" is not a size ...").
struct BadValue : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Arguments as this program takes them, whatever CLI11 would make of them: CLI11 reads an
// argument in brackets ("[1080p]") as a list of values, "++" as the end of a command, and
// gives the arguments after "--" back to the level above once a command has its
// arguments. So before the parse, every argument after "--" (which goes), in brackets,
// "++" or beginning with the guard byte gets the guard byte in front, which no option
// begins with; each value loses it again.
constexpr char kGuard = '\x1f';

std::string Guarded(const std::string& a) { return kGuard + a; }

bool NeedsGuard(const std::string& a) {
    const bool bracketed = a.size() >= 2 && a.front() == '[' && a.back() == ']';
    return bracketed || a == "++" || (!a.empty() && a.front() == kGuard);
}

std::string Unguarded(std::string a) {
    if (!a.empty() && a.front() == kGuard) a.erase(0, 1);
    return a;
}

// ---- the values: one parser for each kind of value, whichever option takes it ------------

uint32_t SerialValue(const std::string& text) {
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto serial = digits ? ParseDecimalSerial(text) : std::nullopt;
    if (!serial) throw BadValue(Quoted(text) + " is not a volume serial (a number from 0 to 4294967295)");
    return *serial;
}

// "E:", "e", "E:\" or "E:/".
char DriveValue(const std::string& s) {
    const bool shape = s.size() == 1 || (s.size() == 2 && s[1] == ':') ||
                       (s.size() == 3 && s[1] == ':' && (s[2] == '\\' || s[2] == '/'));
    const char c = s.empty() ? 0 : s[0];
    if (!shape || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        throw BadValue(Quoted(s) + " is not a drive (give a letter such as E: or e)");
    return static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
}

// The size rule of Find files: bytes, or K, M, G as powers of 1024.
uint64_t SizeValue(const std::string& text) {
    const auto v = ParseSizeText(text);
    if (!v) throw BadValue(Quoted(text) + " is not a size (a number of bytes, or with K, M or G)");
    return *v;
}

// The date rule of Find files: YYYY-MM-DD, the start of that day in local time.
int64_t DateValue(const std::string& text) {
    const auto v = ParseLocalDate(text);
    if (!v) throw BadValue(Quoted(text) + " is not a date (YYYY-MM-DD)");
    return *v;
}

template <class T>
struct Choice {
    std::string name;
    T value;
};

template <class T>
std::vector<std::string> ChoiceNames(const std::vector<Choice<T>>& choices) {
    std::vector<std::string> names;
    for (const auto& c : choices) names.push_back(c.name);
    return names;
}

std::string Joined(const std::vector<std::string>& words, const std::string& between) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
    return out;
}

template <class T>
T ChoiceValue(const std::vector<Choice<T>>& choices, const std::string& text) {
    for (const auto& c : choices)
        if (c.name == text) return c.value;
    throw BadValue(Quoted(text) + " is not one of " + Joined(ChoiceNames(choices), ", "));
}

// Entry kinds by the names the catalogue's text gives them.
std::vector<Choice<EntryKind>> KindChoices() {
    std::vector<Choice<EntryKind>> kinds;
    for (uint8_t k = 0; k < kEntryKindCount; ++k)
        kinds.push_back({EntryKindName(static_cast<EntryKind>(k)), static_cast<EntryKind>(k)});
    return kinds;
}

const std::vector<Choice<FileOrder>> kOrders = {
    {"title", FileOrder::TitlePath}, {"name", FileOrder::Name}, {"size", FileOrder::Size}, {"date", FileOrder::Date}};

// Hidden entries are in the catalogue and every list; one option leaves them out.
const char* const kNoHiddenHelp = "leave out entries that are hidden or lie in a hidden folder";

const std::vector<Choice<std::string>> kShells = {{"bash", "bash"}};

// The archive room's own names, so the command line and the settings say the same.
const std::vector<Choice<ArchiveMode>> kArchiveModes = {
    {ArchiveModeName(ArchiveMode::None), ArchiveMode::None},
    {ArchiveModeName(ArchiveMode::Indexed), ArchiveMode::Indexed},
    {ArchiveModeName(ArchiveMode::All), ArchiveMode::All}};

const char* const kFooter =
    "Fields are separated by tabs; messages go to stderr. Exit status, as grep's: 0 something\n"
    "listed or done, 1 nothing listed (find, locate, dupes, unique) or a walk not complete (add),\n"
    "2 an error; diff and verify: 0 nothing changed, 1 something did.\n"
    "Options may come before or after the command; 'quindle-cli COMMAND --help' tells more.";

// CLI11's help, with each command listed with its arguments ("files SERIAL") and the
// arguments without CLI11's marks ("REQUIRED", "...").
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_subcommand(const CLI::App* sub) const override {
        std::string name = sub->get_name();
        for (const CLI::Option* o : sub->get_options([](const CLI::Option* o) { return o->get_positional(); }))
            name += " " + make_option_usage(o);
        std::stringstream out;
        CLI::detail::format_help(out, name, sub->get_description(), column_width_);
        return out.str();
    }
    std::string make_option_opts(const CLI::Option* o) const override {
        return o->get_positional() ? std::string() : CLI::Formatter::make_option_opts(o);
    }
};

} // namespace

// Adds the commands and options to a CommandLine; its member functions are the only ways
// an option is declared, so that every value is checked by its kind's one parser.
class Declarer {
public:
    explicit Declarer(CommandLine& l) : l_(l) {}

    // `status`: what its exit status says.
    CLI::App* Command(const std::string& name, const std::string& help, const std::string& status, Needs needs,
                      std::function<int(AppContext&)> run) {
        CLI::App* c = l_.app_.add_subcommand(name, help);
        c->group("Commands");
        c->footer("Exit status: " + status + ".");
        // Unknown options and arguments are told in this program's words, not CLI11's.
        c->allow_extras();
        Package(c);
        l_.commands_.push_back({c, needs, std::move(run)});
        return c;
    }

    // The global option, accepted before and after the command.
    void Package(CLI::App* c) {
        // The Declarer is gone when the parse runs: the callback holds the CommandLine.
        std::optional<std::string>& package = l_.package_;
        Value(c, "--package", "DIR", "use the package folder DIR instead of the program's",
              {ValueCompletion::Folder, {}}, [&package](const std::string& s) { package = s; });
    }

    void Flag(CLI::App* c, const std::string& name, bool& target, const std::string& help) {
        c->add_flag(name, target, help)->disable_flag_override();
    }

    // A pair of flags that set `target` on and off; neither given leaves it empty.
    void Switch(CLI::App* c, const std::string& on, const std::string& off, std::optional<bool>& target,
                const std::string& helpOn, const std::string& helpOff) {
        c->add_flag_callback(on, [&target] { target = true; }, helpOn);
        c->add_flag_callback(off, [&target] { target = false; }, helpOff);
    }

    // An option (name with "--") or a positional argument (name in capitals) whose text
    // `store` checks and keeps; the last of a repeated option wins unless `repeatable`,
    // and a repeatable positional argument takes every argument left.
    CLI::Option* Value(CLI::App* c, const std::string& name, const std::string& type, const std::string& help,
                       ValueCompletion completion, std::function<void(const std::string&)> store,
                       bool repeatable = false) {
        const bool positional = name[0] != '-';
        CLI::Option* o = c->add_option(
            name,
            [name, positional, store](const CLI::results_t& texts) {
                for (const std::string& text : texts) {
                    try {
                        store(Unguarded(text));
                    } catch (const BadValue& e) {
                        throw CLI::ValidationError(positional ? e.what() : name + ": " + e.what());
                    }
                }
                return true;
            },
            help);
        o->type_name(positional ? "" : type);
        o->multi_option_policy(repeatable ? CLI::MultiOptionPolicy::TakeAll : CLI::MultiOptionPolicy::TakeLast);
        if (positional) o->required();
        if (positional && repeatable) o->expected(CLI::detail::expected_max_vector_size);
        if (completion.kind != ValueCompletion::Nothing) l_.completions_[o] = std::move(completion);
        return o;
    }

    void Text(CLI::App* c, const std::string& name, const std::string& type, std::string& target,
              const std::string& help) {
        Value(c, name, type, help, {}, [&target](const std::string& s) { target = s; });
    }

    void Serial(CLI::App* c, uint32_t& target, const std::string& help) {
        Value(c, "SERIAL", "", help, {ValueCompletion::Serial, {}},
              [&target](const std::string& s) { target = SerialValue(s); });
    }

    template <class T>
    void Choose(CLI::App* c, const std::string& name, const std::vector<Choice<T>>& choices,
                const std::string& help, std::function<void(T)> store, bool repeatable = false) {
        const std::vector<std::string> names = ChoiceNames(choices);
        Value(c, name, Joined(names, "|"), help, {ValueCompletion::Words, names},
              [choices, store](const std::string& s) { store(ChoiceValue(choices, s)); }, repeatable);
    }

    void Size(CLI::App* c, const std::string& name, const std::string& help, std::function<void(uint64_t)> store) {
        Value(c, name, "SIZE", help + " (K, M, G: powers of 1024)", {},
              [store](const std::string& s) { store(SizeValue(s)); });
    }

    void Date(CLI::App* c, const std::string& name, const std::string& help, std::function<void(int64_t)> store) {
        Value(c, name, "DATE", help + " (YYYY-MM-DD, local time)", {},
              [store](const std::string& s) { store(DateValue(s)); });
    }

private:
    CommandLine& l_;
};

CommandLine::CommandLine() {
    app_.description("quindle-cli: list, search and memorize the disks of a Quindle package");
    app_.footer(kFooter);
    app_.set_help_flag("-h,--help", "show this help");
    app_.require_subcommand(0, 1); // a second command's name is an argument of the first
    app_.allow_extras();
    auto help = std::make_shared<HelpFormatter>();
    help->label("SUBCOMMAND", "COMMAND");
    help->label("Positionals", "Arguments");
    help->column_width(32);
    app_.formatter(help);

    Declarer d(*this);
    d.Package(&app_);

    CLI::App* c = d.Command("list", "one line per disk: serial, title, date, description",
                            "0 listed (an empty package too), 2 a record that cannot be read", Needs::Package,
                            [this](AppContext& ctx) { return List(ctx, list_); });
    d.Flag(c, "--json", list_.json, "JSON Lines with every figure of each disk");

    c = d.Command("find", "one line per disk whose record holds WORD: count, serial, title",
                  "0 some disk holds WORD, 1 none does, 2 an error", Needs::Package,
                  [this](AppContext& ctx) { return Find(ctx, find_); });
    d.Text(c, "WORD", "", find_.word, "the word, counted as the search report counts it (case ignored)");
    d.Flag(c, "--names", find_.names, "under each disk, the folder and name of each match");
    d.Flag(c, "--all", find_.all, "list the disks with a count of 0 too");

    c = d.Command("add", "memorize drive DRIVE into the package",
                  "0 memorized, 1 the walk was not complete (the record keeps its part), 2 an error (the "
                  "package keeps what it had)",
                  Needs::Package,
                  [this](AppContext& ctx) { return Add(ctx, add_); });
    d.Value(c, "DRIVE", "", "the drive's letter: E: or e (see quindle-cli drives)", {ValueCompletion::Drive, {}},
            [this](const std::string& s) { add_.drive = DriveValue(s); });
    d.Text(c, "--title", "T", add_.title, "the disk's title (needed)");
    d.Text(c, "--description", "D", add_.description, "the disk's description");
    d.Text(c, "--additional", "A", add_.additional, "additional information on the disk");
    d.Flag(c, "--replace", add_.replace, "memorize a disk that is in the package already");
    d.Choose<ArchiveMode>(c, "--archives", kArchiveModes,
                          "which archives have their members listed in the catalogue: none, indexed (zip, 7z, "
                          "rar, cab, ISO images, plain tar; compressed tarballs up to 64 MiB; the default) or "
                          "all (a disk memorized again keeps its choice unless given)",
                          [this](ArchiveMode m) { add_.archives = m; });
    d.Switch(c, "--checksums", "--no-checksums", add_.checksums,
             "store the checksum (XXH3-128) of every regular file's content: reads every byte (a disk memorized "
             "again keeps its choice unless given)",
             "store no checksums, for a disk memorized with them before");

    c = d.Command("remove", "take the disk with that volume serial out of the package", "0 removed, 2 an error",
                  Needs::Package,
                  [this](AppContext& ctx) { return Remove(ctx, disk_); });
    d.Serial(c, disk_.serial, "the disk's volume serial (unsigned decimal)");

    d.Command("drives", "the drive table: letter, kind, serial, label, folder", "0", Needs::DriveTable,
              [](AppContext& ctx) { return Drives(ctx); });

    // Commands on one disk of the package, by its serial.
    const struct {
        const char *name, *help, *status, *json;
        int (*run)(AppContext&, const DiskOptions&);
    } diskCommands[] = {
        {"files", "every entry of the disk's catalogue: kind, size, date, path",
         "0 listed, 2 the disk has no valid catalogue or another error",
         "JSON Lines: \"path\", \"kind\", \"size\", \"mtime\"", Files},
        {"show", "the disk's information and figures", "0 shown, 2 the disk has no valid catalogue or another error",
         "one JSON object", Show},
        {"diff", "what changed on the disk in its drive since it was memorized",
         "0 nothing changed, 1 something did, 2 the disk is in no drive, has no valid catalogue, or another error",
         "JSON Lines: \"change\", \"path\", \"kind\", \"size\", \"mtime\" (\"old_size\", \"old_mtime\")", Diff},
        {"unique", "files of the disk with no copy on any other disk", "0 some listed, 1 none, 2 an error",
         "JSON Lines as files --json writes them", Unique},
        {"verify", "read the disk in its drive again and compare it with its catalogue; writes nothing",
         "0 all the same, 1 something differs, 2 the disk is in no drive, has no valid catalogue, or another error",
         "JSON Lines: \"status\", \"path\", \"kind\", \"size\", \"mtime\" (\"silent\", \"old_size\", "
         "\"old_mtime\", \"error\")",
         Verify},
    };
    for (const auto& k : diskCommands) {
        const auto run = k.run;
        c = d.Command(k.name, k.help, k.status, Needs::Package,
                      [this, run](AppContext& ctx) { return run(ctx, disk_); });
        d.Serial(c, disk_.serial, "the disk's volume serial (unsigned decimal)");
        d.Flag(c, "--json", disk_.json, k.json);
        // The commands that list entries; verify reads every file the catalogue holds.
        if (run == Files || run == Diff || run == Unique) d.Flag(c, "--no-hidden", disk_.noHidden, kNoHiddenHelp);
        if (run == Unique)
            d.Flag(c, "--content", disk_.content,
                   "copies by size and checksum, whatever their names (disks without checksums are left out)");
    }

    c = d.Command("locate", "files of every disk matching all TERMs: serial, title, kind, size, date, path",
                  "0 some file matched, 1 none did, 2 an error", Needs::Package,
                  [this](AppContext& ctx) { return Locate(ctx, locate_); });
    d.Value(c, "TERM", "",
            "a name (or, with / or \\, a path) holding TERM; *, ? and [...] make a glob; \"text\" is plain", {},
            [this](const std::string& s) { locate_.terms.push_back(s); }, true);
    QueryFilters& f = locate_.filters;
    d.Choose<EntryKind>(c, "--kind", KindChoices(), "only entries of that kind (repeatable)",
                        [&f](EntryKind k) { f.kinds.push_back(k); }, true);
    d.Size(c, "--min-size", "only entries of at least SIZE bytes", [&f](uint64_t v) { f.minSize = v; });
    d.Size(c, "--max-size", "only entries of at most SIZE bytes", [&f](uint64_t v) { f.maxSize = v; });
    d.Date(c, "--after", "only entries modified on DATE or later", [&f](int64_t v) { f.after = v; });
    d.Date(c, "--before", "only entries modified before DATE", [&f](int64_t v) { f.before = v; });
    d.Value(c, "--disk", "SERIAL", "only the disk with that volume serial (repeatable)", {ValueCompletion::Serial, {}},
            [&f](const std::string& s) { f.disks.push_back(std::to_string(SerialValue(s))); }, true);
    d.Choose<FileOrder>(c, "--sort", kOrders, "the order: by disk title and path (the default), name, size or date",
                        [this](FileOrder o) { locate_.order = o; });
    d.Flag(c, "--reverse", locate_.reverse, "in reverse order");
    d.Flag(c, "--json", locate_.json, "JSON Lines: \"serial\", \"title\", \"path\", \"kind\", \"size\", \"mtime\"");
    d.Flag(c, "--no-hidden", locate_.noHidden, kNoHiddenHelp);

    c = d.Command("dupes", "files of the same name and size in two or more places",
                  "0 some copies listed, 1 none, 2 an error", Needs::Package,
                  [this](AppContext& ctx) { return Dupes(ctx, dupes_); });
    d.Size(c, "--min-size", "leave out files under SIZE bytes (default 1)",
           [this](uint64_t v) { dupes_.minSize = v; });
    d.Flag(c, "--json", dupes_.json,
           "JSON Lines: \"name\" (\"xxh128\" with --content), \"size\", \"copies\" [{\"serial\", \"path\"}]");
    d.Flag(c, "--no-hidden", dupes_.noHidden, kNoHiddenHelp);
    d.Flag(c, "--content", dupes_.content,
           "files of the same size and checksum, whatever their names (disks without checksums are left out)");

    c = d.Command("completion", "print the completion script of a shell (bash)", "0", Needs::Nothing,
                  [this](AppContext&) {
                      Out(BashCompletion(*this));
                      return kOk;
                  });
    d.Choose<std::string>(c, "SHELL", kShells, "the shell: " + Joined(ChoiceNames(kShells), ", "),
                          [](std::string) {}); // bash, the one there is
}

ValueCompletion CommandLine::CompletionOf(const CLI::Option* o) const {
    const auto it = completions_.find(o);
    return it == completions_.end() ? ValueCompletion{} : it->second;
}

namespace {

// The arguments as CLI11 is to see them: "--title=" is the option with an empty value, as
// "--title ''" is (CLI11 would take the next argument for it); arguments guarded.
std::vector<std::string> Prepared(const CLI::App& app, const std::vector<std::string>& args) {
    std::set<std::string> valued;
    const auto collect = [&](const CLI::App* a) {
        for (const CLI::Option* o : a->get_options())
            if (!o->get_positional() && o->get_expected_max() > 0)
                for (const std::string& n : o->get_lnames()) valued.insert("--" + n + "=");
    };
    collect(&app);
    for (const CLI::App* sub : app.get_subcommands({})) collect(sub);
    std::vector<std::string> out;
    bool optionsDone = false;
    for (const std::string& a : args) {
        if (optionsDone || NeedsGuard(a)) {
            out.push_back(Guarded(a));
        } else if (a == "--") {
            optionsDone = true;
        } else if (valued.count(a)) {
            out.push_back(a.substr(0, a.size() - 1));
            out.emplace_back();
        } else {
            out.push_back(a);
        }
    }
    return out;
}

// The option or positional argument that a CLI11 message begins with.
const CLI::Option* NamedIn(const CLI::App* app, const std::string& message) {
    for (const CLI::App* a = app; a; a = a->get_parent())
        for (const CLI::Option* o : a->get_options()) {
            const std::string n = o->get_name();
            if (message.compare(0, n.size(), n) == 0 && message.size() > n.size() &&
                (message[n.size()] == ':' || message[n.size()] == ' '))
                return o;
        }
    return nullptr;
}

// A CLI11 parse error in this program's style: lower case, no period.
std::string InOneStyle(const CLI::ParseError& e, const CLI::App* command) {
    std::string text = e.what();
    const std::string kind = e.get_name();
    if (kind == "RequiredError" || kind == "ArgumentMismatch") {
        // A flag given a value ("--json=x") is named without its dashes.
        const bool flagValue = text.find("flag override") != std::string::npos;
        if (const CLI::Option* o = NamedIn(command, flagValue ? "--" + text : text)) {
            if (o->get_positional()) return "missing " + o->get_name();
            return "option " + o->get_name() + (flagValue ? " takes no value" : " needs a value");
        }
    }
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    while (!text.empty() && (text.back() == '.' || text.back() == '\n')) text.pop_back();
    return text;
}

// What the parse left over: an option no command knows, or an argument too many.
void CheckLeftOver(const CLI::App& app, const CLI::App* command) {
    for (const CLI::App* a : {&app, command}) {
        const std::vector<std::string> rest = a ? a->remaining(false) : std::vector<std::string>();
        if (rest.empty()) continue;
        const std::string& first = rest.front(); // a guarded one is an argument, whatever it looks like
        if (first.size() > 1 && first[0] == '-') throw UsageError("unknown option " + first);
        throw UsageError((a == &app ? "unknown command " : "unexpected argument ") + Quoted(Unguarded(first)));
    }
    if (!command) throw UsageError("no command given");
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    CLI::App& app = line.App();
    const Command* chosen = nullptr;
    const auto chosenName = [&]() -> std::string {
        const auto subs = app.get_subcommands();
        return subs.empty() ? std::string() : subs.front()->get_name();
    };
    try {
        try {
            std::vector<std::string> reversed = Prepared(app, args);
            std::reverse(reversed.begin(), reversed.end()); // CLI11 takes them from the back
            app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            Out(app.help()); // the chosen command's, if any
            return kOk;
        } catch (const CLI::ParseError& e) {
            const auto subs = app.get_subcommands();
            throw UsageError(InOneStyle(e, subs.empty() ? &app : subs.front()));
        }
        for (const Command& c : line.Commands())
            if (c.app->parsed()) chosen = &c;
        CheckLeftOver(app, chosen ? chosen->app : nullptr);

        SetMessageCommand(chosen->app->get_name());
        AppContext ctx;
        if (chosen->needs != Needs::Nothing) LoadDriveTable(ctx);
        if (chosen->needs == Needs::Package) SetUpPackage(ctx, line.Package());
        return chosen->run(ctx);
    } catch (const UsageError& e) {
        const std::string name = chosenName();
        SetMessageCommand(name);
        Message(e.what());
        WriteAll(2, "Try 'quindle-cli " + (name.empty() ? "" : name + " ") + "--help'.\n");
        return kError;
    } catch (const std::exception& e) {
        SetMessageCommand(chosenName());
        Message(e.what());
        return kError;
    }
}

} // namespace quindle::cli
