#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace quorvane::testing {

// The address of a Unix socket at a path; prepared before fork() so a child needs only system calls.
inline sockaddr_un unixSocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

} // namespace quorvane::testing
