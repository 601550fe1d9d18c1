// Named cluster profiles in ~/.config/clusterctl/config.toml ($XDG_CONFIG_HOME first), so a
// cron job says `--profile nightly` instead of repeating URL, user, CA and password file:
//
//   [nightly]
//   url = "https://cluster.example:8000"
//   user = "backup"
//   cacert = "/etc/ssl/cluster-ca.pem"
//   password-file = "/etc/clusterctl/backup.password"
//
// Relative file names are taken from the config file's folder. The command line and the
// environment win over a profile.
#pragma once

#include <string>
#include <vector>

namespace clusterctl {

struct Profile {
    std::string url;
    std::string user;
    std::string caFile;
    std::string passwordFile;
};

std::string ConfigFilePath();

// The profile `name`; with an empty name the profile "default" when the file has one, else
// nothing. Throws UsageError for an unknown profile or key or an unreadable file.
Profile LoadProfile(const std::string& name);

}  // namespace clusterctl
