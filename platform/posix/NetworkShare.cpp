#include "platform/NetworkShare.h"

#include <fstream>
#include <sstream>
#include <sys/vfs.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

struct RemoteMagic
{
    unsigned long magic;
    const char* name;
};

// f_type values of statfs for file systems served by another machine (linux/magic.h
// and the file systems' own sources).
constexpr RemoteMagic kRemote[] = {
    {0x6969, "nfs"},       {0x517B, "smb"},      {0xFF534D42, "cifs"},   {0xFE534D42, "smb2"},
    {0x01021997, "9p"},    {0x5346414F, "afs"},  {0x6B414653, "afs"},    {0x73757245, "coda"},
    {0x564C, "ncp"},       {0x00C36400, "ceph"}, {0x0BD00BD0, "lustre"}, {0x01161970, "gfs2"},
    {0x7461636F, "ocfs2"}, {0x47504653, "gpfs"}, {0x013111A8, "ibrix"},  {0xAAD7AAEA, "panfs"},
};
constexpr unsigned long kFuseMagic = 0x65735546;

// FUSE serves local and remote file systems alike; its subtype in the mount table tells.
std::string FuseSubtype(const fs::path& path)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string line, best, bestType;
    const std::string target = path.string();
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        const bool inside =
            target == mountPoint || mountPoint == "/" || target.rfind(mountPoint + "/", 0) == 0;
        if (inside && mountPoint.size() >= best.size()) {
            best = mountPoint;
            bestType = type;
        }
    }
    return bestType;
}

} // namespace

std::string NetworkShareKind(const CPath& pathGiven)
{
    const std::filesystem::path& path = pathGiven.Native();
    std::error_code ec;
    fs::path probe = fs::absolute(path, ec);
    if (ec) probe = path;
    while (!probe.empty() && !fs::exists(probe, ec) && probe != probe.parent_path())
        probe = probe.parent_path();
    probe = fs::weakly_canonical(probe, ec);
    struct statfs info = {};
    if (statfs(probe.c_str(), &info) != 0) return {};
    const auto magic = static_cast<unsigned long>(static_cast<unsigned int>(info.f_type));
    for (const RemoteMagic& remote : kRemote)
        if (remote.magic == magic) return remote.name;
    if (magic == kFuseMagic) {
        const std::string type = FuseSubtype(probe);
        for (const char* remote : {"sshfs", "rclone", "s3fs", "gcsfuse", "glusterfs", "davfs", "smbnetfs",
                                   "curlftpfs", "cephfs", "afp"})
            if (type.find(remote) != std::string::npos) return type;
    }
    return {};
}

} // namespace platform
