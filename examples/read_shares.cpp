// List the SMB shares and NFS exports, then read the first of each by its id.
#include <Cluster/ClusterShares.h>

#include "ExampleLogin.h"

int main() {
    const auto connection = LogIn();
    if (!connection) return 1;
    Cluster::CShares shares(connection, boost::make_shared<Cluster::CParser>());

    std::list<Cluster::CSMBShareEntry> smb;
    CZuError error = shares.GetSMBShares(smb);
    if (error.IsError()) return Report(error);
    for (const auto& share : smb) {
        std::printf("smb %lu\t%s\t%s\n", share.id, share.shareName.c_str(), share.fsPath.c_str());
    }
    std::list<Cluster::CNFSExportEntry> nfs;
    error = shares.GetNFSExports(nfs);
    if (error.IsError()) return Report(error);
    for (const auto& nfsExport : nfs) {
        std::printf("nfs %lu\t%s\t%s\n", nfsExport.id, nfsExport.exportPath.c_str(),
                    nfsExport.fsPath.c_str());
    }
    if (!smb.empty()) {
        Cluster::CSMBShareEntry share;
        error = shares.GetSMBShare(smb.front().id, share);
        if (error.IsError()) return Report(error);
        std::printf("first share: %s (%s)\n", share.shareName.c_str(), share.description.c_str());
    }
    return 0;
}
