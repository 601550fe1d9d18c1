#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace clusterctl {
namespace {

// The values commands are called with; each command keeps a copy of them.
struct Arguments {
    std::string name;
    std::string source;
    std::string expiration;
    uint64_t id = 0;
    uint64_t newerId = 0;
    ListOptions list;
    std::string path;
    bool print0 = false;
};

constexpr long kMaxTimeoutSeconds = LONG_MAX / 1000;  // the HTTP client may count milliseconds

// Digits only, and small enough for a 64-bit id.
bool IsWholeNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    std::strtoull(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

// K, M and G are powers of 1024, as `ls -h` shows sizes; -1 for any other suffix.
int SuffixPower(const std::string& suffix) {
    if (suffix.empty()) return 0;
    if (suffix.size() != 1) return -1;
    const size_t found = std::string("KMG").find(
        static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[0]))));
    return found == std::string::npos ? -1 : static_cast<int>(found) + 1;
}

// Whole bytes with an optional suffix, positive and within size_t. `bytes` is set only when
// the text is such a count.
bool ReadByteCount(const std::string& text, size_t& bytes) {
    const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    const std::string number = text.substr(0, digits);
    const int power = SuffixPower(text.substr(digits));
    if (power < 0 || !IsWholeNumber(number)) return false;
    unsigned long long value = std::strtoull(number.c_str(), nullptr, 10);
    for (int i = 0; i < power; ++i) {
        if (value > SIZE_MAX / 1024) return false;
        value *= 1024;
    }
    if (value == 0 || value > SIZE_MAX) return false;
    bytes = static_cast<size_t>(value);
    return true;
}

std::string CheckByteCount(const std::string& text) {
    size_t bytes = 0;
    return ReadByteCount(text, bytes) ? "" : "must be a positive number of bytes, K, M or G";
}

std::string CheckSeconds(const std::string& text) {
    if (IsWholeNumber(text) && text.find_first_not_of('0') != std::string::npos &&
        std::strtoull(text.c_str(), nullptr, 10) <=
            static_cast<unsigned long long>(kMaxTimeoutSeconds)) {
        return "";
    }
    return "must be a positive whole number of seconds";
}

// A source is a path (anything with "/") or a file id.
std::string CheckSource(const std::string& source) {
    if (source.find('/') != std::string::npos || IsWholeNumber(source)) return "";
    return "must be a path containing \"/\" or a file id";
}

std::string CheckId(const std::string& id) {
    if (IsWholeNumber(id) && id.find_first_not_of('0') != std::string::npos) return "";
    return "must be a positive whole number";
}

CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& description) {
    CLI::App* command = parent.add_subcommand(name, description);
    command->fallthrough();  // global options may follow the command
    return command;
}

void AddId(CLI::App* command, const std::string& name, uint64_t& id) {
    command->add_option(name, id)->required()->check(CLI::Validator(CheckId, "ID"));
}

void AddPrint0(CLI::App* command, Arguments& args) {
    command->add_flag("-0,--print0", args.print0,
                      "Write only the full paths, raw, each followed by NUL, as find -print0");
}

// --print0 is a command option and --json a global one, so the parser cannot keep them apart.
std::optional<int> ChoosePathsFormat(const Arguments& args, OutputOptions& output) {
    if (!args.print0) return std::nullopt;
    if (output.format == Format::Json) {
        std::fputs("clusterctl: --print0 and --json exclude each other\n", stderr);
        return 2;
    }
    output.format = Format::Paths;
    return std::nullopt;
}

void AddGlobalOptions(CLI::App& app, Invocation& invocation) {
    ConnectionOptions& connection = invocation.connection;
    app.add_option("--url", connection.url,
                   "Cluster base URL (default: CLUSTER_URL, else an embedded simulated cluster)");
    app.add_option("--user", connection.user, "User name (default: CLUSTER_USER, else admin)");
    app.add_option("--password-file", connection.passwordFile,
                   "Read the password from this file (default: CLUSTER_PASSWORD, else a prompt)")
        ->check(CLI::ExistingFile);
    CLI::Option* caFile = app.add_option("--cacert", connection.caFile,
                                         "Trust the certificate authorities in this PEM file")
                              ->check(CLI::ExistingFile);
    app.add_flag("--insecure", connection.insecure, "Do not check the cluster's certificate")
        ->excludes(caFile);
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
    app.add_flag_callback(
        "--json", [&invocation] { invocation.output.format = Format::Json; },
        "Write JSON instead of text");
    app.add_flag("-h,--human-readable", invocation.output.humanSizes,
                 "Sizes in powers of 1024 (K, M, G, ...)");
    app.add_flag("-v,--verbose", invocation.verbose,
                 "On error, show where it arose; log each request to stderr");
}

void AddSnapshotCommands(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* snapshots =
        AddCommand(app, "snapshots", "List, create, delete and compare snapshots");
    snapshots->require_subcommand(1);

    AddCommand(*snapshots, "list", "List the snapshots")->callback([&invocation] {
        invocation.command = ListSnapshots;
    });

    CLI::App* create = AddCommand(*snapshots, "create", "Take a snapshot of a directory");
    create->add_option("name", args.name, "Snapshot name")->required();
    create->add_option("--source", args.source, "Directory path or file id to snapshot")
        ->required()
        ->check(CLI::Validator(CheckSource, "PATH|ID"));
    create->add_option("--expiration", args.expiration, "Expiration time (default: never)");
    create->callback([&invocation, &args] {
        invocation.command = [args](CommandContext& context) {
            return CreateSnapshot(context, args.name, args.source, args.expiration);
        };
    });

    CLI::App* remove = AddCommand(*snapshots, "delete", "Delete a snapshot");
    AddId(remove, "id", args.id);
    remove->callback([&invocation, &args] {
        invocation.command = [args](CommandContext& context) {
            return DeleteSnapshot(context, args.id);
        };
    });

    CLI::App* diff = AddCommand(*snapshots, "diff", "List the changes between two snapshots");
    AddId(diff, "older", args.id);
    AddId(diff, "newer", args.newerId);
    AddPrint0(diff, args);
    diff->callback([&invocation, &args] {
        invocation.command = [args](CommandContext& context) {
            return DiffSnapshots(context, args.id, args.newerId);
        };
    });
}

void AddFileCommands(CLI::App& app, Invocation& invocation, Arguments& args) {
    CLI::App* ls = AddCommand(app, "ls", "List a directory");
    ls->add_option("path", args.list.path, "Directory path")->required();
    ls->add_option("--snapshot", args.list.snapshotId,
                   "List the directory as this snapshot holds it")
        ->check(CLI::Range(1, INT_MAX));
    ls->add_flag("-R,--recursive", args.list.recursive,
                 "Also list every directory below; a directory loop is reported, "
                 "not entered, and ends the run with status 1");
    ls->add_flag("-l,--long", args.list.longFormat, "Show type, mode, owner, size and time");
    AddPrint0(ls, args);
    ls->callback([&invocation, &args] {
        invocation.command = [args](CommandContext& context) {
            return ListDirectory(context, args.list);
        };
    });

    CLI::App* stat = AddCommand(app, "stat", "Show the attributes of a file or directory");
    stat->add_option("path", args.path, "Path")->required();
    stat->callback([&invocation, &args] {
        invocation.command = [args](CommandContext& context) {
            return StatPath(context, args.path);
        };
    });
}

template <class List, class Show>
void AddShareCommands(CLI::App& app, Invocation& invocation, Arguments& args,
                      const std::string& name, const std::string& what, List list, Show show) {
    CLI::App* group = AddCommand(app, name, "List and show " + what);
    group->require_subcommand(1);
    AddCommand(*group, "list", "List the " + what)->callback([&invocation, list] {
        invocation.command = list;
    });
    CLI::App* showCommand = AddCommand(*group, "show", "Show one of the " + what);
    AddId(showCommand, "id", args.id);
    showCommand->callback([&invocation, &args, show] {
        invocation.command = [args, show](CommandContext& context) {
            return show(context, args.id);
        };
    });
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, Invocation& invocation) {
    Arguments args;
    CLI::App app("Command-line client for the storage cluster's REST API", "clusterctl");
    app.set_help_flag("--help", "Show this help and exit");  // -h is for human-readable sizes
    app.require_subcommand(1);
    AddGlobalOptions(app, invocation);
    AddCommand(app, "login", "Check the credentials")->callback([&invocation] {
        invocation.command = Login;
    });
    AddSnapshotCommands(app, invocation, args);
    AddFileCommands(app, invocation, args);
    AddShareCommands(app, invocation, args, "smb", "SMB shares", ListSmbShares, ShowSmbShare);
    AddShareCommands(app, invocation, args, "nfs", "NFS exports", ListNfsExports, ShowNfsExport);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }
    return ChoosePathsFormat(args, invocation.output);
}

}  // namespace clusterctl
