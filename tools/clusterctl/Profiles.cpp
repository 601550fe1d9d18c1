#include "Profiles.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <fstream>
#include <map>

#include "UsageError.h"

namespace clusterctl {
namespace {

constexpr const char* kDefaultProfile = "default";

std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string ResolvedFile(const std::string& file, const std::string& configPath) {
    if (file.empty() || file.front() == '/') return file;
    return Folder(configPath) + "/" + file;
}

using Sections = std::map<std::string, std::map<std::string, std::string>>;

// CLI11 reads the TOML subset the file uses; "++" and "--" items only mark section changes.
Sections ReadSections(const std::string& path, std::istream& input) {
    Sections sections;
    std::vector<CLI::ConfigItem> items;
    try {
        items = CLI::ConfigTOML().from_config(input);
    } catch (const CLI::Error& error) {
        throw UsageError(path + ": " + error.what());
    }
    for (const CLI::ConfigItem& item : items) {
        if (item.name == "++" || item.name == "--") continue;
        if (item.parents.size() != 1) {
            throw UsageError(path + ": " + item.name + " is not inside a [profile] section");
        }
        sections[item.parents.front()][item.name] = item.inputs.empty() ? "" : item.inputs.front();
    }
    return sections;
}

Profile ToProfile(const std::string& name, const std::map<std::string, std::string>& keys,
                  const std::string& path) {
    Profile profile;
    const std::map<std::string, std::string*> fields = {{"url", &profile.url},
                                                        {"user", &profile.user},
                                                        {"cacert", &profile.caFile},
                                                        {"password-file", &profile.passwordFile}};
    for (const auto& [key, value] : keys) {
        const auto field = fields.find(key);
        if (field == fields.end()) {
            throw UsageError(path + ": profile " + name + ": unknown key " + key +
                             " (known: url, user, cacert, password-file)");
        }
        *field->second = value;
    }
    profile.caFile = ResolvedFile(profile.caFile, path);
    profile.passwordFile = ResolvedFile(profile.passwordFile, path);
    return profile;
}

std::string Names(const Sections& sections) {
    std::string names;
    for (const auto& section : sections) names += (names.empty() ? "" : ", ") + section.first;
    return names.empty() ? "none" : names;
}

}  // namespace

std::string ConfigFilePath() {
    const std::string config = FromEnvironment("XDG_CONFIG_HOME");
    if (!config.empty()) return config + "/clusterctl/config.toml";
    const std::string home = FromEnvironment("HOME");
    return home.empty() ? "" : home + "/.config/clusterctl/config.toml";
}

Profile LoadProfile(const std::string& name) {
    const std::string path = ConfigFilePath();
    std::ifstream input(path);
    if (!input) {
        if (name.empty()) return {};
        throw UsageError("profile " + name + ": cannot read " +
                         (path.empty() ? std::string("a config file (HOME is not set)") : path));
    }
    const Sections sections = ReadSections(path, input);
    const std::string wanted = name.empty() ? kDefaultProfile : name;
    const auto section = sections.find(wanted);
    if (section == sections.end()) {
        if (name.empty()) return {};
        throw UsageError("no profile " + name + " in " + path + " (profiles: " + Names(sections) +
                         ")");
    }
    return ToProfile(wanted, section->second, path);
}

}  // namespace clusterctl
