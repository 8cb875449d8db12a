#include "platform/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

void* loadLibrary(const std::string& fileName) {
    // The program's folder comes first, as on the platform the service was made for.
    const std::string besideProgram = programFolder() + "/" + fileName;
    if (fileName.find('/') == std::string::npos && fileExists(besideProgram)) {
        if (void* module = dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
    }
    return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* loadLibraryFromPath(const std::string& path) {
    if (path.empty()) return nullptr;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* module, const char* name) {
    if (module == nullptr) return nullptr;
    return dlsym(module, name);
}

bool freeLibrary(void* module) {
    return module != nullptr && dlclose(module) == 0;
}

void* loadedModule(const std::string& fileName) {
    void* module = dlopen(fileName.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr && fileName.find('/') == std::string::npos) {
        module = dlopen((programFolder() + "/" + fileName).c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
    if (module == nullptr) return nullptr;
    // RTLD_NOLOAD still counts a reference; give it back so the handle behaves like an
    // uncounted module handle (the library stays loaded by whoever loaded it first).
    dlclose(module);
    return module;
}

std::string moduleFileName(void* module) {
    if (module == nullptr) return {};
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved) != nullptr) return resolved;
    return map->l_name;
}

std::string programFileName() {
    char path[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) return {};
    return std::string(path, static_cast<size_t>(length));
}

std::string programFolder() {
    const std::string file = programFileName();
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

bool fileExists(const std::string& path) {
    return !path.empty() && access(path.c_str(), F_OK) == 0;
}

bool makeDirectory(const std::string& path) {
    return !path.empty() && mkdir(path.c_str(), 0755) == 0;
}

unsigned long lastErrorCode() {
    return static_cast<unsigned long>(errno);
}

std::string commonAppDataFolder() {
    const char* programData = std::getenv("PROGRAMDATA");
    if (programData != nullptr && programData[0] != '\0') return programData;
    return "/var/lib";
}

bool readRegularFile(const std::string& path, std::vector<unsigned char>& data, uint64_t maxBytes) {
    data.clear();
    if (path.empty()) return false;
    // Opened without waiting (a FIFO without a writer would block the open) and looked at before a
    // byte is read, so nothing but a plain file is ever read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
              static_cast<uint64_t>(status.st_size) <= maxBytes;
    // The stated size is only where the buffer starts: a file that shrank meanwhile, or one of
    // sysfs (a page stated, a line held), ends sooner, and one of /proc (nothing stated) later. So
    // the file is read to its end, and never past the limit; what comes after the stated size is
    // read in chunks, so that a file which holds what it states costs no larger buffer.
    data.resize(static_cast<size_t>(ok ? status.st_size : 0));
    size_t done = 0;
    unsigned char chunk[4096];
    while (ok) {
        const bool inBuffer = done < data.size();
        unsigned char* into = inBuffer ? data.data() + done : chunk;
        const size_t room = inBuffer ? data.size() - done
                                     : static_cast<size_t>(std::min<uint64_t>(sizeof chunk, maxBytes - done + 1));
        const ssize_t n = ::read(fd, into, room);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) break;  // the end
        if (n < 0 || done + static_cast<size_t>(n) > maxBytes) {  // an error, or more than the limit
            ok = false;
            break;
        }
        if (!inBuffer) data.insert(data.end(), chunk, chunk + n);
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    data.resize(ok ? done : 0);
    return ok;
}

bool raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur == limit.rlim_max) return true;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

int peerGone(int fd) {
    if (fd < 0) return 0;
    // POLLRDHUP: the peer's FIN, which plain POLLIN would not tell from data.
    pollfd polled{fd, POLLRDHUP, 0};
    if (::poll(&polled, 1, 0) <= 0 || (polled.revents & (POLLERR | POLLHUP | POLLRDHUP)) == 0) return 0;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) return error;
    return -1;
}

uint64_t tickCount64() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void useOneHeap() {
    // glibc gives threads heaps of their own, and malloc_trim leaves the free end of those heaps
    // alone: after a large request tens of megabytes would stay with the worker's heap.
    mallopt(M_ARENA_MAX, 1);
}

void releaseFreeMemory() {
    // glibc keeps freed memory in its arenas, and after large blocks it raises its thresholds so
    // that it keeps even more; malloc_trim gives back every free page of every arena.
    malloc_trim(0);
}

}  // namespace platform
