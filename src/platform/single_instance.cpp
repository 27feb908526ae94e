#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sealdesk::platform {
namespace {

constexpr const char* kInstanceName = "EA1D558F-39F9-4A52-BD6F-ED37FF8DE17F";

bool is_directory(const char* path) {
    struct stat info {};
    return path && *path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string single_instance_lock_path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (is_directory(runtime)) return std::string(runtime) + "/" + kInstanceName + ".lock";
    const char* temp = std::getenv("TMPDIR");
    std::string folder = is_directory(temp) ? temp : "/tmp";
    return folder + "/" + kInstanceName + "-" + std::to_string(getuid()) + ".lock";
}

bool claim_single_instance() {
    const std::string path = single_instance_lock_path();
    // O_NOFOLLOW: in a shared temporary folder the name could be a link that
    // another user planted.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "instance lock %s: %s\n", path.c_str(), std::strerror(errno));
        return true;
    }
    // A file someone else made under our name must not decide whether we run.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != getuid()) {
        std::fprintf(stderr, "instance lock %s: not a file of this user; running without it\n", path.c_str());
        close(fd);
        return true;
    }
    int result;
    do result = flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool held_elsewhere = errno == EWOULDBLOCK;
        close(fd);
        if (held_elsewhere) return false;
        std::fprintf(stderr, "instance lock %s: %s\n", path.c_str(), std::strerror(errno));
        return true;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return true;
}

}  // namespace sealdesk::platform
