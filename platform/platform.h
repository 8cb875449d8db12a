// The platform layer: the only code of the service that calls the dynamic loader, /proc, errno
// and the clock directly. Everything else asks these functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text conversions (UTF-8 made whole) belong to this layer too.
#include "platform/utf8.h"

namespace platform {

// ---- run-time libraries --------------------------------------------------------------------

// Loads a library by its bare file name; the program's own folder is searched first, then the
// system's usual search order. Null when it cannot be loaded.
void* loadLibrary(const std::string& fileName);
// Loads a library from a full path. Null when it cannot be loaded.
void* loadLibraryFromPath(const std::string& path);
// The address of an export, or null.
void* findSymbol(void* module, const char* name);
// Releases a library; true on success.
bool freeLibrary(void* module);
// The handle of a library that is already loaded under that bare file name (or path), or null.
// The handle is not counted: do not release it.
void* loadedModule(const std::string& fileName);
// Full file name of a loaded library; empty when unknown.
std::string moduleFileName(void* module);
// Full file name of the running program.
std::string programFileName();
// Folder of the running program (no trailing separator).
std::string programFolder();

// ---- files and errors ----------------------------------------------------------------------

bool fileExists(const std::string& path);
// Creates one folder level; true on success.
bool makeDirectory(const std::string& path);
// The error number of the last failed system call on this thread.
unsigned long lastErrorCode();
// The machine's common application-data folder: $PROGRAMDATA, else /var/lib. Empty when unknown.
std::string commonAppDataFolder();
// Reads a whole regular file of at most maxBytes bytes into data: exactly the bytes it reads up to
// the file's end, whatever size the file states. False, without waiting, for anything else: a
// missing or unreadable file, a read error, a folder, a FIFO, a device, a file larger than
// maxBytes.
bool readRegularFile(const std::string& path, std::vector<unsigned char>& data, uint64_t maxBytes);
// Raises the soft limit of open descriptors to the hard limit; false when it could not.
bool raiseDescriptorLimit();

// ---- sockets -------------------------------------------------------------------------------

// Looks at a connected socket that is not being read, without reading a byte of it: 0 while its
// peer is there, the socket's error (errno value) when it failed (a reset), -1 when the peer has
// closed its end. A descriptor below 0 (closed) is reported as 0: there is nothing to look at.
int peerGone(int fd);

// ---- time ----------------------------------------------------------------------------------

// Milliseconds of a steady clock.
uint64_t tickCount64();
void sleepMilliseconds(unsigned milliseconds);

// ---- memory --------------------------------------------------------------------------------

// Has every thread allocate from one heap, so that what one thread frees serves the others and
// releaseFreeMemory reaches all of it. Called before any thread is started.
void useOneHeap();
// Hands the memory that the allocator holds free back to the system (after a large request,
// whose buffers it would otherwise keep for good).
void releaseFreeMemory();

}  // namespace platform
