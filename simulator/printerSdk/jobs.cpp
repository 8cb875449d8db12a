// Print jobs and the firmware upgrade. A committed page is copied at once and its copies are
// printed one at a time on the SDK's event thread, every "pageMs", each raising event 8 (and
// event 10 when its job is complete); the scenario's "printError" raises event 9 instead of the
// copy it names. The firmware upgrade reports its progress through event 15 on the same thread.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::ExportCall;
using kvsim::PrintEngine;
using kvsim::PrintJob;
using kvsim::QueuedPage;
using kvsim::traceArgs;
using kvsim::World;

namespace {

// The printer's resolution along the paper: the ribbon used is the printed height at this pace.
constexpr double kDotsPerMm = 8.0;
constexpr int kFirmwareStepMs = 50;

int32_t intOf(const Json::Value& object, const char* key) {
    const Json::Value& value = object[key];
    return value.isInt() ? value.asInt() : 0;
}

// Events 1 and 10 carry no payload; the callback gets a zeroed block all the same.
void raiseWithoutPayload(int32_t eventType) {
    unsigned char nothing[sizeof(PrintProgressInfo)] = {};
    World::instance().raise(eventType, nothing);
}

bool finishIfComplete(PrintJob& job) {
    if (job.finished) return false;
    const bool complete = job.started ? (job.count > 0 && job.printedPages >= job.count) ||
                                            (job.ended && job.printedPages >= job.committedPages)
                                      : job.printedPages >= job.committedPages;
    job.finished = complete;
    return complete;
}

// A finished job is kept while it is still open or has pages left to print.
void forgetFinishedJobs(PrintEngine& engine) {
    for (auto it = engine.jobs.begin(); it != engine.jobs.end();) {
        const PrintJob& job = it->second;
        const bool done = job.finished && job.printedPages >= job.committedPages && it->first != engine.openJob;
        it = done ? engine.jobs.erase(it) : std::next(it);
    }
}

// One printed copy as written to KVSIM_OUTPUT: a PBM bitmap when the bytes are packed 1-bit rows
// of the page's size, else the raw bytes. The running number first, so names sort in print order.
void writeCopy(const std::string& folder, const QueuedPage& page, int32_t runningNumber) {
    if (folder.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const std::vector<unsigned char>& bytes = *page.image;
    const uint64_t rowBytes = page.width > 0 ? (static_cast<uint64_t>(page.width) + 7) / 8 : 0;
    const bool bitmap = page.width > 0 && page.height > 0 && bytes.size() == rowBytes * page.height;
    char name[96];
    std::snprintf(name, sizeof name, "%06d-page-%04d-copy-%02d.%s", runningNumber, page.pageNumber,
                  page.copiesPrinted, bitmap ? "pbm" : "bin");
    std::ofstream file(folder + "/" + name, std::ios::binary);
    if (bitmap) file << "P4\n" << page.width << " " << page.height << "\n";
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void printTick(uint64_t generation);

void scheduleTick(uint64_t generation, int delayMs) {
    World::instance().schedule(delayMs, [generation] { printTick(generation); });
}

// Prints the next waiting copy, or raises the scenario's print error in its place.
void printTick(uint64_t generation) {
    World& world = World::instance();
    enum class Outcome { nothing, printed, error } outcome = Outcome::nothing;
    QueuedPage printed;
    int32_t runningNumber = 0;
    PrintProgressInfo progress{};
    PrintErrorInfo error{};
    bool jobFinished = false;
    bool scheduleNext = false;
    uint64_t nextGeneration = 0;
    int pageMs = 0;
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        PrintEngine& engine = world.printing;
        if (generation != engine.generation) return;  // cancelled or closed since it was scheduled
        engine.tickPending = false;
        if (engine.paused || engine.pages.empty()) return;

        QueuedPage& page = engine.pages.front();
        const int32_t copyNumber = engine.copiesPrinted + 1;
        if (!engine.printErrorRaised && world.printError.isObject() && intOf(world.printError, "atCopy") == copyNumber) {
            engine.printErrorRaised = true;
            outcome = Outcome::error;
            error = {intOf(world.printError, "errorCode"), intOf(world.printError, "printState"), 0};
            if (error.printState == 1) {
                engine.paused = true;  // resumePrint prints this copy
            } else {
                kvsim::stopPrinting(engine, false);
            }
        } else {
            outcome = Outcome::printed;
            engine.copiesPrinted = copyNumber;
            runningNumber = copyNumber;
            ++page.copiesPrinted;
            PrintJob& job = engine.jobs[page.jobId];  // kept until its pages are printed
            job.ribbonMm += page.height / kDotsPerMm;
            progress.page = page.pageNumber;
            progress.copies = page.copiesPrinted;
            progress.ribbonLengthUsed = job.ribbonMm;
            progress.waitTime = 0;
            kvsim::copyField(progress.epc, sizeof progress.epc, page.epc);
            printed = page;
            if (page.copiesPrinted >= page.copies) {
                ++job.printedPages;
                engine.pages.pop_front();
            }
            jobFinished = finishIfComplete(job);
            forgetFinishedJobs(engine);
        }
        if (!engine.pages.empty() && !engine.paused) {
            engine.tickPending = true;
            scheduleNext = true;
            nextGeneration = engine.generation;
        }
        pageMs = world.pageMs;
        folder = world.outputFolder;
    }

    // The file first, so that a client told of the copy finds it.
    if (outcome == Outcome::printed) {
        writeCopy(folder, printed, runningNumber);
        world.raise(8, &progress);
        if (jobFinished) raiseWithoutPayload(10);
    } else if (outcome == Outcome::error) {
        world.raise(9, &error);
    }
    if (scheduleNext) scheduleTick(nextGeneration, pageMs);
}

// Event 10 of a job that endJob completed: raised unless the printing was stopped meanwhile.
void raiseJobFinished(uint64_t generation) {
    World& world = World::instance();
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        if (generation != world.printing.generation) return;
    }
    raiseWithoutPayload(10);
}

// Starts printing the waiting copies unless a tick is already on its way. Call with the lock held;
// returns whether the caller must schedule a tick (after releasing it) for that generation.
bool claimTick(World& world, uint64_t& generation) {
    PrintEngine& engine = world.printing;
    if (engine.paused || engine.tickPending || engine.pages.empty()) return false;
    engine.tickPending = true;
    generation = engine.generation;
    return true;
}

// ---- firmware ----

uint32_t crc32Of(const std::vector<unsigned char>& data) {
    return static_cast<uint32_t>(crc32_z(crc32_z(0, nullptr, 0), data.data(), data.size()));
}

bool sameHexText(const std::string& given, uint32_t crc) {
    char expected[9];
    std::snprintf(expected, sizeof expected, "%08x", crc);
    if (given.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        if (std::tolower(static_cast<unsigned char>(given[i])) != expected[i]) return false;
    }
    return true;
}

// Progress 0, 10, ..., 100; with a CRC that does not match, the printer refuses the image once it
// has received it all: the last step reports the progress reached with error 52 instead of 100.
void firmwareStep(uint64_t generation, int32_t progress, bool intact) {
    World& world = World::instance();
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        if (generation != world.printing.firmwareGeneration) return;
    }
    if (progress >= 100 && !intact) {
        FirmwareProgressInfo refused{progress - 10, 52, 0};
        world.raise(15, &refused);
        return;
    }
    FirmwareProgressInfo info{progress, 0, 0};
    world.raise(15, &info);
    if (progress < 100) {
        world.schedule(kFirmwareStepMs, [=] { firmwareStep(generation, progress + 10, intact); });
    }
}

}  // namespace

void kvsim::stopPrinting(PrintEngine& engine, bool firmwareToo) {
    engine.pages.clear();
    engine.jobs.clear();
    engine.openJob = 0;
    engine.paused = false;
    engine.tickPending = false;
    ++engine.generation;
    if (firmwareToo) ++engine.firmwareGeneration;
}

SdkStatus startJob(JobStartInfo job) {
    ExportCall call("startJob", traceArgs(kvsim::toJson(job)));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    bool previousFinished = false;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        PrintEngine& engine = world.printing;
        // A job still open is ended by the next one.
        if (engine.openJob != 0) {
            PrintJob& previous = engine.jobs[engine.openJob];
            previous.ended = true;
            previousFinished = finishIfComplete(previous);
        }
        const int id = engine.nextJobId++;
        PrintJob& opened = engine.jobs[id];
        opened.started = true;
        opened.count = job.count;
        engine.openJob = id;
        forgetFinishedJobs(engine);
        generation = engine.generation;
    }
    if (previousFinished) world.schedule(0, [generation] { raiseJobFinished(generation); });
    return 0;
}

SdkStatus commitJob(PrintJobInfo page) {
    ExportCall call("commitJob", traceArgs(kvsim::toJson(page)));
    if (const int status = call.printerStatus()) return status;
    if (page.imageSize < 0 || (page.imageSize > 0 && page.imageData == nullptr)) return -1;
    // The page's bytes are the caller's and valid only during this call.
    auto image = std::make_shared<const std::vector<unsigned char>>(page.imageData, page.imageData + page.imageSize);

    World& world = World::instance();
    bool schedule = false;
    uint64_t generation = 0;
    int pageMs = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        PrintEngine& engine = world.printing;
        int jobId = engine.openJob;
        if (jobId == 0) jobId = engine.nextJobId++;  // a page outside a job is a job of its own
        PrintJob& job = engine.jobs[jobId];
        QueuedPage queued;
        queued.jobId = jobId;
        queued.pageNumber = ++job.committedPages;
        queued.copies = std::max<int32_t>(1, page.printQuantity);
        queued.width = page.width;
        queued.height = page.height;
        queued.image = std::move(image);
        queued.epc = kvsim::fieldText(page.epc, sizeof page.epc);
        engine.pages.push_back(std::move(queued));
        schedule = claimTick(world, generation);
        pageMs = world.pageMs;
    }
    if (schedule) scheduleTick(generation, pageMs);
    return 0;
}

SdkStatus endJob() {
    ExportCall call("endJob", traceArgs());
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    bool finished = false;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        PrintEngine& engine = world.printing;
        if (engine.openJob != 0) {
            PrintJob& job = engine.jobs[engine.openJob];
            job.ended = true;
            finished = finishIfComplete(job);
            engine.openJob = 0;
            forgetFinishedJobs(engine);
        }
        generation = engine.generation;
    }
    // Every page already printed: the job is complete now.
    if (finished) world.schedule(0, [generation] { raiseJobFinished(generation); });
    return 0;
}

SdkStatus pausePrint() {
    ExportCall call("pausePrint", traceArgs());
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.printing.paused = true;  // the copy being printed is finished; the next one waits
    return 0;
}

SdkStatus resumePrint() {
    ExportCall call("resumePrint", traceArgs());
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    bool schedule = false;
    uint64_t generation = 0;
    int pageMs = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        world.printing.paused = false;
        schedule = claimTick(world, generation);
        pageMs = world.pageMs;
    }
    if (schedule) scheduleTick(generation, pageMs);
    return 0;
}

SdkStatus cancelJob() {
    ExportCall call("cancelJob", traceArgs());
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    kvsim::stopPrinting(world.printing, false);
    return 0;
}

// The printer keeps the density a job asks for unless the scenario names another.
int32_t resetPrintDensity(int32_t density) {
    ExportCall call("resetPrintDensity", traceArgs(density));
    const Json::Value value = World::instance().injectedValue("resetPrintDensity");
    return value.isInt() ? value.asInt() : density;
}

SdkStatus upgradeFirmware(FirmwareUpgradeInfo firmware) {
    ExportCall call("upgradeFirmware", traceArgs(kvsim::toJson(firmware)));
    if (const int status = call.printerStatus()) return status;
    if (firmware.fileSize < 0 || (firmware.fileSize > 0 && firmware.fileData == nullptr)) return -1;
    // Read during the call: the caller may free its buffer as soon as this returns.
    const std::vector<unsigned char> data(firmware.fileData, firmware.fileData + firmware.fileSize);
    const std::string crc = kvsim::fieldText(firmware.crc, sizeof firmware.crc);
    const bool intact = crc.empty() || sameHexText(crc, crc32Of(data));

    World& world = World::instance();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        generation = ++world.printing.firmwareGeneration;  // a new upgrade replaces one under way
    }
    world.schedule(0, [generation, intact] { firmwareStep(generation, 0, intact); });
    return 0;
}
