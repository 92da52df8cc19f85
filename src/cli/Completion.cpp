// The bash completion script, written from the command line's declarations: the
// commands, each scope's options, which options take a value and what the shell may
// offer for it (choices, folders, the package's serials, the drive letters).
#include <string>
#include <vector>

#include "cli/CommandLine.h"

namespace quindle::cli {

namespace {

// How the script completes one value: "" a flag (no value), "text" a value the shell
// cannot guess, "words A B", "folder", "serial", "drive".
std::string KindWord(const ValueCompletion& c) {
    switch (c.kind) {
    case ValueCompletion::Words: {
        std::string out = "words";
        for (const std::string& w : c.words) out += " " + w;
        return out;
    }
    case ValueCompletion::Folder: return "folder";
    case ValueCompletion::Serial: return "serial";
    case ValueCompletion::Drive: return "drive";
    case ValueCompletion::Nothing: break;
    }
    return "text";
}

// Option names as typed: "--json", "-h".
std::vector<std::string> Spellings(const CLI::Option* o) {
    std::vector<std::string> out;
    for (const std::string& n : o->get_snames()) out.push_back("-" + n);
    for (const std::string& n : o->get_lnames()) out.push_back("--" + n);
    return out;
}

// The script's fixed part: the walk over the words typed so far. It knows nothing of the
// commands; the generated functions before it do.
const char* const kWalk = R"sh(
# Runs the quindle-cli being completed on the package named on the line, if any.
_quindle_cli_run()
{
    local cli=${COMP_WORDS[0]} pkg=${package//[\"\']/}
    [[ $cli == \~/* ]] && cli=$HOME/${cli#\~/}
    [[ $pkg == \~/* ]] && pkg=$HOME/${pkg#\~/}
    type -P -- "$cli" >/dev/null 2>&1 || return 0
    "$cli" ${pkg:+--package "$pkg"} "$@" 2>/dev/null </dev/null
}

# Offers the values of kind $1 that begin with $2, each after the prefix $3.
_quindle_cli_offer()
{
    local kind=$1 cur=$2 prefix=$3 first rest
    case $kind in
    words\ *)
        COMPREPLY=($(compgen -P "$prefix" -W "${kind#words }" -- "$cur")) ;;
    folder)
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -P "$prefix" -d -- "$cur")) ;;
    serial)
        while IFS=$'\t' read -r first rest; do
            [[ $first == "$cur"* ]] && COMPREPLY+=("$prefix$first")
        done < <(_quindle_cli_run list) ;;
    drive)
        while IFS=$'\t' read -r first rest; do
            first=${first%:}
            [[ $first == "$cur"* ]] && COMPREPLY+=("$prefix$first")
        done < <(_quindle_cli_run drives) ;;
    esac
    return 0
}

_quindle_cli()
{
    COMPREPLY=()
    # The words up to the cursor, "--option=value" in one word again where bash split
    # it at "=" (COMP_WORDBREAKS).
    local -a w=()
    local i j=-1 word glue=
    for (( i = 0; i <= COMP_CWORD; i++ )); do
        word=${COMP_WORDS[i]}
        if [[ -n $glue ]]; then
            w[j]+=$word
            glue=
        elif [[ $word == = && $j -ge 1 && ${w[j]} == --?* && ${w[j]} != *=* ]]; then
            w[j]+==
            glue=1
        else
            w[++j]=$word
        fi
    done
    local cur=${w[j]} cmd= n=0 dashdash= package= pending=
    for (( i = 1; i < j; i++ )); do
        word=${w[i]}
        if [[ -n $dashdash || $word != -?* ]]; then
            if [[ -z $cmd && -z $dashdash ]]; then cmd=$word; else (( n++ )); fi
            continue
        fi
        if [[ $word == -- ]]; then
            dashdash=1
            continue
        fi
        case $word in
        --package=*) package=${word#*=} ;;
        --package) package=${w[i+1]} ;;
        esac
        [[ $word == *=* ]] && continue
        _quindle_cli_kind "$cmd:$word"
        if [[ -n $REPLY ]]; then
            # The next word is this option's value.
            if (( i + 1 == j )); then pending=$REPLY; else (( i++ )); fi
        fi
    done

    if [[ -n $pending ]]; then
        _quindle_cli_offer "$pending" "$cur" ""
        return 0
    fi
    if [[ -z $dashdash && $cur == --?*=* ]]; then
        _quindle_cli_kind "$cmd:${cur%%=*}"
        # Where "=" breaks no words, the reply replaces the whole "--option=value".
        local prefix=
        [[ ${COMP_WORDS[COMP_CWORD]} == --?*=* ]] && prefix=${cur%%=*}=
        [[ -n $REPLY ]] && _quindle_cli_offer "$REPLY" "${cur#*=}" "$prefix"
        return 0
    fi
    if [[ -z $cmd ]]; then
        [[ -n $dashdash ]] && return 0
        _quindle_cli_options ""
        [[ $cur == -* ]] || REPLY=$_quindle_cli_commands
        COMPREPLY=($(compgen -W "$REPLY" -- "$cur"))
        return 0
    fi
    _quindle_cli_kind "$cmd:#$(( n + 1 ))"
    if [[ -z $dashdash && ( $cur == -* || -z $REPLY ) ]]; then
        # Options where the command takes no more arguments, or where one is begun.
        _quindle_cli_options "$cmd"
        COMPREPLY=($(compgen -W "$REPLY" -- "$cur"))
        return 0
    fi
    [[ -n $REPLY ]] && _quindle_cli_offer "$REPLY" "$cur" ""
    return 0
}
complete -F _quindle_cli quindle-cli
)sh";

} // namespace

std::string BashCompletion(const CommandLine& line) {
    const CLI::App& app = line.App();
    std::vector<const CLI::App*> scopes{&app};
    for (const Command& c : line.Commands()) scopes.push_back(c.app);

    std::string commands, options, kinds;
    for (const CLI::App* scope : scopes) {
        const bool top = scope == &app;
        const std::string name = top ? "" : scope->get_name();
        if (!top) commands += (commands.empty() ? "" : " ") + name;
        std::string spelled;
        size_t positional = 0;
        for (const CLI::Option* o : scope->get_options()) {
            if (o->get_positional()) {
                // "#N" is the Nth argument after the command; "#*" every one from the last
                // declared on, when that one takes many.
                ++positional;
                const bool many = o->get_expected_max() > 1;
                kinds += "    '" + name + ":#'" + (many ? "*" : std::to_string(positional)) + ") REPLY='" +
                         KindWord(line.CompletionOf(o)) + "' ;;\n";
                continue;
            }
            for (const std::string& s : Spellings(o)) {
                spelled += (spelled.empty() ? "" : " ") + s;
                if (o->get_expected_max() > 0)
                    kinds += "    '" + name + ":" + s + "') REPLY='" + KindWord(line.CompletionOf(o)) + "' ;;\n";
            }
        }
        options += "    '" + name + "') REPLY='" + spelled + "' ;;\n";
    }

    return "# bash completion for quindle-cli" + std::string(47, ' ') + "-*- shell-script -*-\n"
           "# Written by 'quindle-cli completion bash' from the declarations of its commands and options.\n"
           "\n"
           "_quindle_cli_commands='" + commands + "'\n"
           "\n"
           "# The options of a command (\"\": those before the command).\n"
           "_quindle_cli_options()\n"
           "{\n"
           "    REPLY=\n"
           "    case $1 in\n" + options +
           "    esac\n"
           "}\n"
           "\n"
           "# How the value of \"command:--option\" or of argument \"command:#N\" is completed;\n"
           "# empty for a flag.\n"
           "_quindle_cli_kind()\n"
           "{\n"
           "    REPLY=\n"
           "    case $1 in\n" + kinds +
           "    esac\n"
           "}\n" + kWalk;
}

} // namespace quindle::cli
