#include "CommandLine.h"

#include <strings.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "ArgumentChecks.h"
#include "Cluster/ClusterVersion.h"
#include "ExitStatus.h"
#include "FindFilter.h"
#include "Profiles.h"
#include "SnapshotArgument.h"
#include "Suggestions.h"
#include "TerminalText.h"
#include "UsageError.h"

namespace clusterctl {
namespace {

const char* const kFooter = R"(Environment:
  CLUSTER_URL, CLUSTER_USER    the cluster and user when --url and --user are not given
  CLUSTER_PASSWORD             the password (else --password-file, the profile, or a prompt)
  CLUSTER_PROFILE              the profile when --profile is not given
  CLUSTER_SIM_STATE            the simulated cluster's state folder
                               (default: $XDG_STATE_HOME/clusterctl/simulated)
  CLUSTER_SIM_FAULT_RATE, CLUSTER_SIM_TOKEN_TTL, CLUSTER_SIM_SEED, CLUSTER_SIM_LATENCY,
  CLUSTER_SIM_MAX_CONCURRENT   faults of a real cluster for --simulated, as cluster-sim's
                               flags of those names (e.g. CLUSTER_SIM_FAULT_RATE=503:0.05)
  CLUSTER_SIM_SYNTHETIC        a generated tree under /synthetic for --simulated, as
                               cluster-sim's --synthetic (e.g. files=1000000,dirs=10000)
  XDG_CONFIG_HOME              where clusterctl/config.toml with the profiles lies (~/.config)

Exit status:
  0 success, 1 any other failure, 2 usage error, 3 no cluster configured,
  4 authentication rejected, 5 not found, 6 cannot reach the cluster (network or TLS),
  7 incomplete (part of a walk or change feed failed; --resume goes on with it),
  130 interrupted (SIGINT), 143 terminated (SIGTERM).

`clusterctl help COMMAND` shows the options of a command.)";

// The values commands are called with; each command keeps a copy of them.
struct Arguments {
    std::string name;
    std::string source;
    std::string expiration;
    std::string snapshot;
    std::string newerSnapshot;
    uint64_t id = 0;
    ListOptions list;
    std::string listSnapshot;
    std::string path;
    bool print0 = false;
    bool yes = false;
    FindOptions find;
    FindOptionTexts findTexts;
    DiskUsageOptions du;
    ChangesOptions changes;
    std::optional<unsigned> duDepth;
    bool duSummary = false;
};

// What the command line says beyond the invocation itself, settled after parsing.
struct Settings {
    std::string format;
    bool json = false;
    std::string profile;
    std::vector<std::string> helpWords;
    bool helpAsked = false;
};

std::string CheckUrl(const std::string& url) {
    const size_t scheme = url.find("://");
    const std::string name = scheme == std::string::npos ? "" : url.substr(0, scheme);
    if ((strcasecmp(name.c_str(), "https") == 0 || strcasecmp(name.c_str(), "http") == 0) &&
        url.size() > scheme + 3 && url[scheme + 3] != '/') {
        return "";
    }
    return "must be an https:// (or http://) URL with a host, such as https://cluster:8000";
}

CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& description) {
    CLI::App* command = parent.add_subcommand(name, description);
    command->fallthrough();  // global options may follow the command
    return command;
}

void AddId(CLI::App* command, const std::string& name, uint64_t& id, const std::string& what) {
    command->add_option(name, id, what)->required()->check(CLI::Validator(CheckId, "ID"));
}

void AddSnapshot(CLI::App* command, const std::string& name, std::string& snapshot,
                 const std::string& what) {
    command->add_option(name, snapshot, what + ": its name, or its id (digits only)")
        ->required()
        ->check(CLI::Validator(CheckSnapshot, "SNAPSHOT"));
}

void AddPrint0(CLI::App* command, Arguments& args) {
    command->add_flag("-0,--print0", args.print0,
                      "Write only the full paths, raw, each followed by NUL, as find -print0");
}

void AddConnectionOptions(CLI::App& app, Invocation& invocation, Settings& settings) {
    ConnectionOptions& connection = invocation.connection;
    CLI::Option* url = app.add_option("--url", connection.url, "Cluster base URL")
                           ->envname("CLUSTER_URL")
                           ->check(CLI::Validator(CheckUrl, "URL"));
    app.add_option("--user", connection.user, "User name (default: admin)")
        ->envname("CLUSTER_USER");
    app.add_option("--password-file", connection.passwordFile,
                   "Read the password from the first line of this file")
        ->check(CLI::ExistingFile);
    CLI::Option* caFile = app.add_option("--cacert", connection.caFile,
                                         "Trust the certificate authorities in this PEM file")
                              ->check(CLI::ExistingFile);
    app.add_flag("--insecure", connection.insecure, "Do not check the cluster's certificate")
        ->excludes(caFile);
    CLI::Option* profile =
        app.add_option("--profile", settings.profile,
                       "Take url, user, cacert and password-file from this profile of the "
                       "config file (default: the profile named default, if any)")
            ->envname("CLUSTER_PROFILE");
    app.add_flag("--simulated", connection.simulated,
                 "Use a simulated cluster run inside clusterctl, with demo data; its state "
                 "persists between runs in CLUSTER_SIM_STATE")
        ->excludes(url)
        ->excludes(profile);
    app.add_option_function<std::string>(
           "--max-reply",
           [&connection](const std::string& text) {
               ReadByteCount(text, connection.maxReplyBytes);
           },
           "Fail a request whose reply is larger than this, counted after decoding; K, M and G "
           "are powers of 1024 (default: 256M)")
        ->check(CLI::Validator(CheckByteCount, "BYTES"));
    app.add_option_function<std::string>(
           "--timeout",
           [&connection](const std::string& text) {
               connection.totalSeconds = static_cast<long>(std::stol(text));
           },
           "Give up on a request attempt after this many seconds (default: 600)")
        ->check(CLI::Validator(CheckSeconds, "SECONDS"));
    app.add_option_function<std::string>(
           "--retries",
           [&connection](const std::string& text) {
               connection.job.retry.maxAttempts = std::stoi(text) + 1;
           },
           "Send a request again up to this many times when the cluster is unreachable, busy "
           "or the reply breaks off; 0: never (default: 5)")
        ->check(CLI::Validator(CheckRetries, "N"));
    app.add_option_function<std::string>(
           "--rate",
           [&connection](const std::string& text) {
               connection.job.rate.requestsPerSecond = std::stod(text);
           },
           "Send at most this many requests a second (default: no limit)")
        ->check(CLI::Validator(CheckRate, "N"));
}

void AddOutputOptions(CLI::App& app, Invocation& invocation, Settings& settings) {
    OutputOptions& output = invocation.output;
    app.add_option("-o,--output", settings.format,
                   "table (default), json (one document; a listing is one array), jsonl (one "
                   "object per line) or csv (RFC 4180, with a header line)")
        ->check(CLI::IsMember({"table", "json", "jsonl", "csv"}));
    app.add_flag("--json", settings.json, "The same as -o json");
    app.add_flag_callback(
        "--no-headers", [&output] { output.headers = false; },
        "Leave out the heading line of tables and CSV");
    app.add_option("--fields", output.fields,
                   "Show only these fields, in this order (their JSON names, comma-separated)")
        ->delimiter(',');
    app.add_flag("-h,--human-readable", output.humanSizes,
                 "Sizes in powers of 1024 (K, M, G, ...)");
    app.add_flag("-v,--verbose", invocation.verbose,
                 "On error, show the library's message and where it arose; log each request "
                 "to stderr");
}

// Deletion cannot be undone: on a terminal it is confirmed, elsewhere it needs --yes.
void ConfirmOrRefuse(const Arguments& args) {
    if (args.yes || isatty(STDIN_FILENO)) return;
    throw UsageError("snapshots delete: stdin is not a terminal to confirm on; add --yes");
}

void AddSnapshotCommands(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* snapshots =
        AddCommand(app, "snapshots", "List, create, delete and compare snapshots");
    snapshots->require_subcommand(1);

    AddCommand(*snapshots, "list", "List the snapshots")->callback([&invocation] {
        invocation.run = ListSnapshots;
    });

    CLI::App* create = AddCommand(*snapshots, "create", "Take a snapshot of a directory");
    create->add_option("name", args.name, "Name of the new snapshot")->required();
    create->add_option("--source", args.source, "Directory path or file id to snapshot")
        ->required()
        ->check(CLI::Validator(CheckSource, "PATH|ID"));
    create
        ->add_option("--expiration", args.expiration,
                     "When the cluster deletes it, as an RFC 3339 time such as "
                     "2027-01-31T00:00:00Z (default: never)")
        ->check(CLI::Validator(CheckRfc3339, "TIME"));
    create->callback([&invocation, &args] {
        invocation.run = [args](CommandContext& context) {
            return CreateSnapshot(context, args.name, args.source, args.expiration);
        };
    });

    CLI::App* remove = AddCommand(*snapshots, "delete", "Delete a snapshot");
    AddSnapshot(remove, "snapshot", args.snapshot, "The snapshot to delete");
    remove->add_flag("-y,--yes", args.yes, "Do not ask for confirmation (needed off a terminal)");
    remove->callback([&invocation, &args] {
        ConfirmOrRefuse(args);
        invocation.run = [args](CommandContext& context) {
            std::vector<uint64_t> ids;
            CZuError error = ResolveSnapshots(context.session, {args.snapshot}, ids);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            if (!args.yes) ConfirmDeletion(ids.front(), args.snapshot);
            return DeleteSnapshot(context, ids.front());
        };
    });

    CLI::App* diff = AddCommand(*snapshots, "diff", "List the changes between two snapshots");
    AddSnapshot(diff, "older", args.snapshot, "The older snapshot");
    AddSnapshot(diff, "newer", args.newerSnapshot, "The newer snapshot");
    AddPrint0(diff, args);
    diff->callback([&invocation, &args] {
        invocation.run = [args](CommandContext& context) {
            std::vector<uint64_t> ids;
            CZuError error =
                ResolveSnapshots(context.session, {args.snapshot, args.newerSnapshot}, ids);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            return DiffSnapshots(context, ids[0], ids[1]);
        };
    });
}

// The options every walk of a whole tree takes.
void AddWalkOptions(CLI::App* command, WalkCommandOptions& walk) {
    command
        ->add_option("--parallel", walk.parallel,
                     "Read this many directories at once, each over its own connection "
                     "(default: 16)")
        ->check(CLI::Range(1, 256));
    CLI::Option* checkpoint =
        command->add_option("--checkpoint", walk.checkpoint,
                            "Save where the walk stands in this file every few seconds and "
                            "when interrupted or terminated, so --resume can go on from there");
    command
        ->add_option("--checkpoint-every", walk.checkpointSeconds,
                     "Seconds between checkpoints (default: 10)")
        ->check(CLI::Range(0.05, 86400.0))
        ->needs(checkpoint);
    command
        ->add_flag("--resume", walk.resume,
                   "Go on with the walk saved in --checkpoint, if there is one; the output file "
                   "goes back to where that checkpoint left it")
        ->needs(checkpoint);
    command->add_option("--output-file", walk.outputFile,
                        "Write the results to this file, committed together with each "
                        "checkpoint, so a resumed walk writes every entry exactly once");
    command->add_option("--summary", walk.summaryFile,
                        "Write the walk's account as JSON to this file: counts, and the "
                        "directories that failed, vanished or looped");
}

// The criteria as given, for a checkpoint to tell walks apart.
std::string CriteriaWords(const FindOptionTexts& texts) {
    std::string words;
    const std::pair<const char*, const std::optional<std::string>*> options[] = {
        {"--name", &texts.name},
        {"--type", &texts.type},
        {"--newer", &texts.newer},
        {"--size", &texts.size},
        {"--maxdepth", &texts.maxDepth}};
    for (const auto& [name, text] : options) {
        if (*text) words += std::string(" ") + name + " " + **text;
    }
    return words;
}

// `--snapshot` of a listing: its name or id, resolved once the session is open.
CZuError ResolveListSnapshot(CommandContext& context, const std::string& snapshot,
                             ListOptions& list) {
    if (snapshot.empty()) return CZuError::Success();
    std::vector<uint64_t> ids;
    CZuError error = ResolveSnapshots(context.session, {snapshot}, ids);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    // The cluster's listing takes the snapshot as an int.
    if (ids.front() > INT_MAX) throw UsageError("--snapshot: the id is too large");
    list.snapshotId = static_cast<int>(ids.front());
    return CZuError::Success();
}

void AddListSnapshot(CLI::App* command, Arguments& args) {
    command
        ->add_option("--snapshot", args.listSnapshot,
                     "Read the tree as this snapshot holds it: its name or id")
        ->check(CLI::Validator(CheckSnapshot, "SNAPSHOT"));
}

void AddFindCommand(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* find = AddCommand(app, "find", "Find entries in a whole tree, read in parallel");
    find->add_option("path", args.find.list.path, "Absolute path of the directory to search")
        ->required();
    AddListSnapshot(find, args);
    find->add_option("--name", args.findTexts.name,
                     "Only entries whose name (the last part of the path) matches this glob");
    find->add_option("--type", args.findTexts.type, "Only files (f) or only directories (d)");
    find->add_option("--newer", args.findTexts.newer,
                     "Only entries modified after this time: 2026-01-31, "
                     "2026-01-31T12:00:00Z, or an age such as 90m, 12h, 7d, 2w");
    find->add_option("--size", args.findTexts.size,
                     "Only files larger (+N) or smaller (-N) than N bytes, or of exactly N; "
                     "k, M, G and T are powers of 1024 (write --size=-N for smaller)");
    find->add_option("--maxdepth", args.findTexts.maxDepth,
                     "Descend at most this many levels (1: the directory's own entries)");
    AddPrint0(find, args);
    AddWalkOptions(find, args.find.list.walk);
    find->callback([&invocation, &args] {
        // Read before anything is sent, so a mistyped value costs nothing.
        const FindCriteria criteria = ParseFindCriteria(args.findTexts, std::time(nullptr));
        FindOptions find = args.find;
        if (criteria.maxDepth) find.maxDepth = *criteria.maxDepth;
        find.criteria = CriteriaWords(args.findTexts);
        invocation.run = [find, criteria, snapshot = args.listSnapshot](CommandContext& context) {
            FindOptions resolved = find;
            CZuError error = ResolveListSnapshot(context, snapshot, resolved.list);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            const std::string root = resolved.list.path;
            resolved.keep = [criteria, root](const Cluster::CDirectoryEntry& entry) {
                return Matches(criteria, entry, EntryDepth(root, entry.path));
            };
            return FindEntries(context, resolved);
        };
    });
}

void AddDuCommand(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* du = AddCommand(app, "du", "Bytes and entries below each directory of a tree");
    du->add_option("path", args.du.list.path, "Absolute path of the directory")->required();
    AddListSnapshot(du, args);
    CLI::Option* summary =
        du->add_flag("-s,--summarize", args.duSummary, "Only the directory's own total");
    du->add_option("--depth", args.duDepth,
                   "Rows only for directories at most this deep (0: the directory itself; "
                   "default: every directory)")
        ->excludes(summary);
    AddWalkOptions(du, args.du.list.walk);
    du->callback([&invocation, &args] {
        DiskUsageOptions du = args.du;
        if (args.duSummary) du.depth = 0;
        if (args.duDepth) du.depth = *args.duDepth;
        invocation.run = [du, snapshot = args.listSnapshot](CommandContext& context) {
            DiskUsageOptions resolved = du;
            CZuError error = ResolveListSnapshot(context, snapshot, resolved.list);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            return DiskUsage(context, resolved);
        };
    });
}

void AddChangesCommand(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* changes = AddCommand(
        app, "changes",
        "The changes between two snapshots with the newer one's attributes, read in parallel; "
        "an incremental backup's file list");
    ChangesOptions& options = args.changes;
    AddSnapshot(changes, "older", options.older, "The older snapshot");
    AddSnapshot(changes, "newer", options.newer, "The newer snapshot");
    changes->add_flag("--paths-only", options.pathsOnly,
                      "Write only the paths, one a line (or NUL-terminated with -0), as rsync "
                      "--files-from reads them; no attributes are read");
    AddPrint0(changes, args);
    changes->add_flag("--relative", options.relative,
                      "Paths relative to the snapshot's source directory, as rsync takes them "
                      "from the source's copy");
    changes->add_option("--deleted-to", options.deletedTo,
                        "Write the deletions to this file, in the same form, instead of with "
                        "the rest; committed with each checkpoint like --output-file");
    AddWalkOptions(changes, options.walk);
    changes->callback([&invocation, &args] {
        invocation.run = [options = args.changes](CommandContext& context) {
            return ListChanges(context, options);
        };
    });
}

void AddFileCommands(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* ls = AddCommand(app, "ls", "List a directory");
    ls->add_option("path", args.list.path, "Absolute path of the directory")->required();
    AddListSnapshot(ls, args);
    ls->add_flag("-R,--recursive", args.list.recursive,
                 "Also list every directory below, in parallel and in no set order; a "
                 "directory loop is reported, not entered, and ends the run with status 1");
    ls->add_flag("-l,--long", args.list.longFormat, "Show type, mode, owner, size and time");
    AddPrint0(ls, args);
    AddWalkOptions(ls, args.list.walk);
    ls->callback([&invocation, &args] {
        const WalkCommandOptions& walk = args.list.walk;
        if (!args.list.recursive &&
            (walk.parallel != WalkCommandOptions().parallel || !walk.checkpoint.empty() ||
             !walk.outputFile.empty() || !walk.summaryFile.empty()))
            throw UsageError("ls: the walk options need -R");
        invocation.run = [args](CommandContext& context) {
            ListOptions list = args.list;
            CZuError error = ResolveListSnapshot(context, args.listSnapshot, list);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            return ListDirectory(context, list);
        };
    });

    CLI::App* stat = AddCommand(app, "stat", "Show the attributes of a file or directory");
    stat->add_option("path", args.path, "Absolute path of the file or directory")->required();
    stat->callback([&invocation, &args] {
        invocation.run = [args](CommandContext& context) { return StatPath(context, args.path); };
    });
}

template <class List, class Show>
void AddShareCommands(CLI::App& app, Invocation& invocation, Arguments& args,
                      const std::string& name, const std::string& what, List list, Show show) {
    CLI::App* group = AddCommand(app, name, "List and show " + what);
    group->require_subcommand(1);
    AddCommand(*group, "list", "List the " + what)->callback([&invocation, list] {
        invocation.run = list;
    });
    CLI::App* showCommand = AddCommand(*group, "show", "Show one of the " + what);
    AddId(showCommand, "id", args.id, "Its id, as the list shows it");
    showCommand->callback([&invocation, &args, show] {
        invocation.run = [args, show](CommandContext& context) { return show(context, args.id); };
    });
}

void AddHelpCommand(CLI::App& app, Settings& settings) {
    CLI::App* help = AddCommand(app, "help", "Show this help, or a command's: help COMMAND");
    help->add_option("command", settings.helpWords, "The command, such as: snapshots diff");
    help->callback([&settings] { settings.helpAsked = true; });
}

std::vector<std::string> CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
    return names;
}

int ReportUsage(const std::string& text) {
    std::fprintf(stderr, "clusterctl: %s\n", EscapeForTerminal(text).c_str());
    return kExitUsage;
}

int UnknownCommand(const CLI::App& where, const std::string& typed) {
    const std::string closest = ClosestName(typed, CommandNames(where));
    std::string text = "unknown command '" + typed + "'";
    if (!closest.empty()) text += "; did you mean '" + closest + "'?";
    const std::string path = where.get_parent() == nullptr ? "" : " " + where.get_name();
    return ReportUsage(text + " (clusterctl help" + path + " lists the commands)");
}

const CLI::App* FindCommand(const CLI::App& parent, const std::string& name) {
    for (const CLI::App* command : parent.get_subcommands({})) {
        if (command->get_name() == name) return command;
    }
    return nullptr;
}

bool TakesValue(const CLI::App& app, const std::string& word) {
    if (word.find('=') != std::string::npos) return false;
    for (const CLI::App* level = &app; level != nullptr; level = level->get_parent()) {
        const CLI::Option* option = level->get_option_no_throw(word);
        if (option != nullptr) return option->get_type_size() != 0;
    }
    return false;
}

// The first word that stands where a command must and names none, with the command above it.
// CLI11 would only say "A subcommand is required".
std::optional<std::pair<const CLI::App*, std::string>> FindUnknownCommand(const CLI::App& app,
                                                                          int argc, char** argv) {
    const CLI::App* level = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") break;
        if (word.size() > 1 && word[0] == '-') {
            if (TakesValue(*level, word)) ++i;
            continue;
        }
        const CLI::App* next = FindCommand(*level, word);
        if (next != nullptr) {
            level = next;
        } else if (level->get_require_subcommand_min() > 0) {
            return std::make_pair(level, word);
        } else {
            break;
        }
    }
    return std::nullopt;
}

// Through the formatter: App::help would show the help of the command chosen on this command
// line, which is `help` itself.
int ShowHelp(const CLI::App& app, const std::vector<std::string>& words) {
    const CLI::App* level = &app;
    std::string name = app.get_name();  // the words of the usage line
    for (const std::string& word : words) {
        const CLI::App* next = FindCommand(*level, word);
        if (next == nullptr) return UnknownCommand(*level, word);
        name += " " + word;
        level = next;
    }
    std::cout << level->get_formatter()->make_help(level, name, CLI::AppFormatMode::Normal);
    return kExitSuccess;
}

// The words of the commands chosen and their positional values: "snapshots diff a b".
std::string CommandWords(const CLI::App& app) {
    std::string words;
    for (const CLI::App* level = &app; level != nullptr;) {
        const std::vector<const CLI::App*> chosen = level->get_subcommands({});
        level = nullptr;
        for (const CLI::App* command : chosen) {
            if (!command->parsed()) continue;
            words += (words.empty() ? "" : " ") + command->get_name();
            for (const CLI::Option* option : command->get_options()) {
                if (!option->get_positional()) continue;
                for (const std::string& value : option->results()) words += " " + value;
            }
            level = command;
            break;
        }
    }
    return words;
}

void ChooseFormat(const Arguments& args, const Settings& settings, OutputOptions& output) {
    if (settings.json && !settings.format.empty() && settings.format != "json") {
        throw UsageError("--json and -o " + settings.format + " exclude each other");
    }
    const std::string name = settings.json ? "json" : settings.format;
    if (args.print0) {
        if (!name.empty() && name != "table") {
            throw UsageError("--print0 and -o " + name + " exclude each other");
        }
        output.format = Format::Paths;
        return;
    }
    if (name == "json") output.format = Format::Json;
    if (name == "jsonl") output.format = Format::JsonLines;
    if (name == "csv") output.format = Format::Csv;
}

// The command line and the environment win; the profile fills what they left open.
void ApplyProfile(const Settings& settings, ConnectionOptions& connection) {
    if (connection.simulated) return;
    const Profile profile = LoadProfile(settings.profile);
    const std::string name = settings.profile.empty() ? "default" : settings.profile;
    if (connection.url.empty() && !profile.url.empty()) {
        if (!CheckUrl(profile.url).empty()) {
            throw UsageError("profile " + name + ": url " + CheckUrl(profile.url));
        }
        connection.url = profile.url;
    }
    if (connection.user.empty()) connection.user = profile.user;
    if (connection.caFile.empty() && !connection.insecure) {
        if (!profile.caFile.empty() && access(profile.caFile.c_str(), R_OK) != 0) {
            throw UsageError("profile " + name + ": cannot read cacert " + profile.caFile);
        }
        connection.caFile = profile.caFile;
    }
    if (connection.passwordFile.empty() && std::getenv("CLUSTER_PASSWORD") == nullptr) {
        connection.passwordFile = profile.passwordFile;
    }
}

std::optional<int> Settle(const CLI::App& app, const Arguments& args, const Settings& settings,
                          Invocation& invocation) {
    if (settings.helpAsked) return ShowHelp(app, settings.helpWords);
    ChooseFormat(args, settings, invocation.output);
    if (app.got_subcommand("changes")) CheckChangesForm(args.changes, invocation.output);
    ApplyProfile(settings, invocation.connection);
    invocation.command = CommandWords(app);
    if (!invocation.connection.simulated && invocation.connection.url.empty()) {
        std::fputs(
            "clusterctl: no cluster configured: set CLUSTER_URL or --url (or try --simulated)\n",
            stderr);
        return kExitNoCluster;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, Invocation& invocation) {
    Arguments args;
    Settings settings;
    CLI::App app("Command-line client for the storage cluster's REST API", "clusterctl");
    app.set_help_flag("--help", "Show this help and exit");  // -h is for human-readable sizes
    app.set_version_flag("--version", std::string("clusterctl ") + CLUSTER_CLIENT_VERSION,
                         "Show the version and exit");
    app.footer(kFooter);
    app.require_subcommand(1);
    AddConnectionOptions(app, invocation, settings);
    AddOutputOptions(app, invocation, settings);
    AddCommand(app, "login", "Check the credentials")->callback([&invocation] {
        invocation.run = Login;
    });
    AddSnapshotCommands(app, invocation, args);
    AddFileCommands(app, invocation, args);
    AddFindCommand(app, invocation, args);
    AddDuCommand(app, invocation, args);
    AddChangesCommand(app, invocation, args);
    AddShareCommands(app, invocation, args, "smb", "SMB shares", ListSmbShares, ShowSmbShare);
    AddShareCommands(app, invocation, args, "nfs", "NFS exports", ListNfsExports, ShowNfsExport);
    AddHelpCommand(app, settings);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() != 0) {
            if (const auto unknown = FindUnknownCommand(app, argc, argv)) {
                return UnknownCommand(*unknown->first, unknown->second);
            }
        }
        if (error.get_exit_code() == 0) return app.exit(error);
        return ReportUsage(std::string(error.what()) + " (clusterctl --help shows the usage)");
    } catch (const UsageError& error) {
        return ReportUsage(error.what());
    }
    try {
        return Settle(app, args, settings, invocation);
    } catch (const UsageError& error) {
        return ReportUsage(error.what());
    }
}

}  // namespace clusterctl
