// Figures of the main road with the real libraries: the preview of a typical 50 x 30 mm label at
// 8 and 12 dots a millimetre, the commit of that label drawn (render plus hand-over to the SDK),
// and a picture print of a 2,000 x 1,200 pixel PNG sent as base64. Each is measured in process,
// through the printer service object and its drawing bridge, and over WebSocket against the
// running service. It prints figures and asserts nothing.
//
// Then, over WebSocket, the figures of large requests: a 100 x 150 mm preview at 8 dots/mm, a
// picture print of a request just under the 16 MiB message limit, the service's peak resident
// size and its resident size 3 s after five such prints; and, on a service of its own, the
// preview and the commit of a label whose text of about 16 MiB is drawn in a 50 x 30 mm box, with
// the peak resident size they add to the idle service. With KV_BASELINE_BIN naming the folder
// of another build's service (for example /work/baseline/build/bin), the same measurement runs
// against that build too, in the same run, and the times are printed as ratios.
//
// Over WebSocket every round trip includes the worker's 10 ms pass, and the picture print's
// answer waits for the printed copy with a 100 ms poll; the in-process figures have neither.
// Port 37989 is shared:  flock /tmp/kv-port-37989.lock build/bench/e2eBench [--large]
#include <json/json.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kvImageGallery/base64.h"
#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/kvPrinterService.h"
#include "platform/platform.h"
#include "tests/integration/e2eSession.h"
#include "tests/integration/labelRequests.h"
#include "tests/support/serviceProcess.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPreviewRounds = 200;
constexpr int kCommitRounds = 200;
constexpr int kPictureRounds = 10;
constexpr int kLargePrints = 5;
constexpr int kLargePreviewRounds = 50;
constexpr int kLargePasses = 2;
constexpr int kHugeTextRounds = 2;
// The largest message the service reads is 16 MiB; the picture print's request stays below it.
constexpr size_t kMessageLimit = 16u << 20;
const char* const kScenario = R"({"pageMs":1})";

// ---- pictures ----

std::string pngBase64(int width, int height, int channels, const std::function<unsigned char(int, int, int)>& value) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) pixels[(static_cast<size_t>(y) * width + x) * channels + c] = value(x, y, c);
        }
    }
    std::vector<unsigned char> file;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<unsigned char>*>(context);
            out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
        },
        &file, width, height, channels, pixels.data(), width * channels);
    return base64Encode(file.data(), static_cast<unsigned int>(file.size()));
}

// The label's small picture: a grey ring.
std::string labelPicture() {
    return pngBase64(64, 48, 1, [](int x, int y, int) {
        const int dx = x - 32, dy = y - 24, r = dx * dx + dy * dy;
        return static_cast<unsigned char>(r > 200 && r < 500 ? 0 : 200);
    });
}

// A photograph-like colour picture of 2,000 x 1,200 pixels: gradients, rings and a little noise,
// so that it neither compresses to nothing nor is pure noise.
std::string largePicture() {
    unsigned seed = 12345;
    return pngBase64(2000, 1200, 3, [&](int x, int y, int c) {
        seed = seed * 1103515245u + 12345u;
        const int dx = x - 1000, dy = y - 600;
        const int ring = ((dx * dx + dy * dy) / 4000) % 2 == 0 ? 60 : 0;
        return static_cast<unsigned char>(((c == 0 ? x / 8 : c == 1 ? y / 5 : (x + y) / 13) + ring + (seed >> 28)) & 0xFF);
    });
}

// Noise in every channel, so that the PNG file is about as large as its pixels: a request of
// about 16 MiB needs some four million pixels.
std::string noisePicture(int width, int height) {
    unsigned seed = 4711;
    return pngBase64(width, height, 3, [&](int, int, int) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<unsigned char>(seed >> 23);
    });
}

std::string largePictureRequest() {
    const int width = 2400;
    int height = 1700;
    for (;;) {
        const std::string picture = noisePicture(width, height);
        std::string request = e2e::request("picturePrint", e2e::object({{"printData", picture}}));
        if (request.size() <= kMessageLimit - 4096 || height < 100) return request;
        height -= static_cast<int>(height * (request.size() - (kMessageLimit - 65536)) / request.size()) + 1;
    }
}

// ---- figures ----

struct Figures {
    std::vector<double> ms;
    void add(Clock::time_point start) { ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count()); }
    std::string text() {
        if (ms.empty()) return "no figures";
        std::sort(ms.begin(), ms.end());
        double total = 0;
        for (double t : ms) total += t;
        char line[160];
        std::snprintf(line, sizeof line, "median %7.2f ms  mean %7.2f ms  p95 %7.2f ms  min %7.2f ms  (%zu rounds)",
                      ms[ms.size() / 2], total / ms.size(), ms[ms.size() * 95 / 100], ms.front(), ms.size());
        return line;
    }
};

long selfPeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A figure of /proc/<pid>/status in kB ("VmRSS", "VmHWM"), or -1.
long statusKb(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

std::string previewRequest(double scale) {
    return e2e::request("generateImagePreviewImage", Json::Value(), e2e::object({{"displayScale", scale}}));
}

std::string commitRequest() {
    return e2e::request("commitJob", e2e::object({{"printerImageProcessingInfo", e2e::object({{"printQuantity", 1}})}}));
}

std::vector<std::string> drawingRequests() {
    std::vector<std::string> requests = {e2e::request("initSdk"), e2e::request("InitDrawingBoard", e2e::boardParameter())};
    for (const auto& [apiName, parameter] : e2e::labelElementRequests(labelPicture())) {
        requests.push_back(e2e::request(apiName, parameter));
    }
    return requests;
}

const std::vector<std::string> kPrinterRequests = {
    e2e::request("connetUsbPrinter", e2e::object({{"printerName", "KV-USB-01"}, {"port", 1}})),
    e2e::request("startJob", e2e::object({{"count", 0}})),
};

// ---- in process: the printer service object with the real SDK stand-in and libraries ----

void inProcess(const std::string& workDir, const std::string& picture) {
    // The service logs to standard error without its marker file; keep that out of the figures.
    const std::string logFile = workDir + "/in-process-log.txt";
    if (std::freopen(logFile.c_str(), "w", stderr) == nullptr) std::printf("(log not redirected)\n");
    std::ofstream(workDir + "/scenario.json") << kScenario;
    setenv("KVSIM_SCENARIO", (workDir + "/scenario.json").c_str(), 1);
    unsetenv("KVSIM_TRACE");
    unsetenv("KVSIM_OUTPUT");

    cKvPrinterService service;
    if (!service.thirdApi || !service.thirdApi->libraryApi) {
        std::printf("in process: the printer SDK or the rendering libraries did not load\n");
        return;
    }

    // The picture first, so that the peak it causes is not hidden by earlier work.
    {
        const long peakBefore = selfPeakKb();
        Figures figures;
        int width = 0, height = 0, pageBytes = 0;
        for (int i = 0; i < kPictureRounds; ++i) {
            const Clock::time_point start = Clock::now();
            width = height = 0;
            RenderedImage* page = service.thirdApi->imageToLabel(picture, 8.0f, width, height);
            figures.add(start);
            pageBytes = page != nullptr ? page->size : 0;
            service.thirdApi->releaseImage(page);
        }
        std::printf("in process  picture to page (base64 decode, size, render) of %zu base64 bytes, %d x %d mm label, "
                    "%d page bytes: %s\n",
                    picture.size(), width, height, pageBytes, figures.text().c_str());
        std::printf("in process  peak resident size added by the picture: %ld kB\n", selfPeakKb() - peakBefore);
        // What the service does after a large request: the time it takes and what it gives back.
        const long residentBefore = statusKb(getpid(), "VmRSS");
        const Clock::time_point start = Clock::now();
        platform::releaseFreeMemory();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("in process  freed memory given back after the pictures: %.2f ms, resident size %ld kB -> %ld kB\n",
                    ms, residentBefore, statusKb(getpid(), "VmRSS"));
    }

    for (const std::string& request : drawingRequests()) service.answerRequest(request);
    for (const double scale : {8.0, 12.0}) {
        const std::string request = previewRequest(scale);
        for (int i = 0; i < 10; ++i) service.answerRequest(request);  // caches warmed
        Figures figures;
        size_t answerBytes = 0;
        const size_t heapBefore = mallinfo2().uordblks;
        for (int i = 0; i < kPreviewRounds; ++i) {
            const Clock::time_point start = Clock::now();
            answerBytes = service.answerRequest(request).value_or("").size();
            figures.add(start);
        }
        const long long growth = static_cast<long long>(mallinfo2().uordblks) - static_cast<long long>(heapBefore);
        std::printf("in process  preview at %4.1f dots/mm (answer %zu bytes, heap growth %.1f B a preview): %s\n", scale,
                    answerBytes, static_cast<double>(growth) / kPreviewRounds, figures.text().c_str());
    }

    for (const std::string& request : kPrinterRequests) service.answerRequest(request);
    {
        const std::string request = commitRequest();
        Figures figures;
        std::string answer;
        for (int i = 0; i < kCommitRounds; ++i) {
            const Clock::time_point start = Clock::now();
            answer = service.answerRequest(request).value_or("");
            figures.add(start);
        }
        std::printf("in process  commit of the drawn label at 8 dots/mm (render, copy, SDK hand-over): %s\n",
                    figures.text().c_str());
        if (answer.find("commitJobApi Success!") == std::string::npos) std::printf("  last answer: %s", answer.c_str());
    }
    service.answerRequest(e2e::request("endJob"));
}

// ---- over WebSocket: the running service ----

// Sends a request and waits for its answer; empty when none came.
std::string answerText(e2e::Session& session, const std::string& apiName, const std::string& text) {
    if (!session.send(text)) return std::string();
    const std::optional<e2e::Message> answer = session.waitFor(e2e::answerTo(apiName));
    return answer ? answer->text : std::string();
}

// A service in a fresh folder, with neither the trace nor the printed copies: the figures are of
// the service alone. An empty binary is this build's.
kvtest::ServiceOptions benchService(const std::string& folder, const std::string& binary = "") {
    kvtest::ServiceOptions options;
    options.workDir = kvtest::freshWorkDir(folder);
    options.binary = binary;
    options.scenario = kScenario;
    options.environment["KVSIM_TRACE"] = "";
    options.environment["KVSIM_OUTPUT"] = "";
    return options;
}

void overWebSocket(const std::string& picture) {
    kvtest::ServiceProcess service(benchService("bench.e2e"));
    kvtest::WsTestClient client;
    if (!service.start() || !client.connect()) {
        std::printf("over WebSocket: the service did not start; its standard error:\n%s\n", service.stderrText().c_str());
        return;
    }
    e2e::Session session(client);
    const auto roundTrip = [&](const std::string& text) {
        return answerText(session, e2e::parseJson(text)["apiName"].asString(), text);
    };

    // The picture first, on a fresh service, for its peak.
    {
        const long peakBefore = statusKb(service.pid(), "VmHWM");
        Figures figures;
        std::string answer;
        roundTrip(kPrinterRequests[0]);
        const std::string request = e2e::request("picturePrint", e2e::object({{"printData", picture}}));
        for (int i = 0; i < kPictureRounds; ++i) {
            const Clock::time_point start = Clock::now();
            answer = roundTrip(request);
            figures.add(start);
        }
        std::printf("WebSocket   picture print of %zu base64 bytes, answered after its copy (100 ms poll): %s\n",
                    request.size(), figures.text().c_str());
        std::printf("WebSocket   peak resident size of the service: %ld kB before the picture prints, %ld kB after\n",
                    peakBefore, statusKb(service.pid(), "VmHWM"));
        if (answer.find("commitJob ok!") == std::string::npos) std::printf("  last answer: %s\n", answer.c_str());
    }

    for (const std::string& request : drawingRequests()) roundTrip(request);
    for (const double scale : {8.0, 12.0}) {
        const std::string request = previewRequest(scale);
        for (int i = 0; i < 10; ++i) roundTrip(request);
        Figures figures;
        const long rssBefore = statusKb(service.pid(), "VmRSS");
        for (int i = 0; i < kPreviewRounds; ++i) {
            const Clock::time_point start = Clock::now();
            roundTrip(request);
            figures.add(start);
        }
        std::printf("WebSocket   preview at %4.1f dots/mm (service resident size %ld kB -> %ld kB): %s\n", scale,
                    rssBefore, statusKb(service.pid(), "VmRSS"), figures.text().c_str());
    }

    roundTrip(kPrinterRequests[1]);
    {
        const std::string request = commitRequest();
        Figures figures;
        for (int i = 0; i < kCommitRounds; ++i) {
            const Clock::time_point start = Clock::now();
            roundTrip(request);
            figures.add(start);
        }
        std::printf("WebSocket   commit of the drawn label at 8 dots/mm: %s\n", figures.text().c_str());
    }
    roundTrip(e2e::request("endJob"));
    service.stop();
}

// ---- large requests, beside another build ----

// The typical label's elements on a 100 x 150 mm board, their boxes stretched with the board.
std::vector<std::string> largeLabelRequests() {
    const double width = 100.0, height = 150.0;
    Json::Value board = e2e::boardParameter();
    board["width"] = width;
    board["height"] = height;
    std::vector<std::string> requests = {e2e::request("initSdk"), e2e::request("InitDrawingBoard", board)};
    const double sx = width / e2e::kLabelWidthMm, sy = height / e2e::kLabelHeightMm;
    for (auto [apiName, parameter] : e2e::labelElementRequests(labelPicture())) {
        for (const char* key : {"x", "width"}) parameter[key] = parameter[key].asDouble() * sx;
        for (const char* key : {"y", "height"}) parameter[key] = parameter[key].asDouble() * sy;
        if (parameter.isMember("fontSize")) parameter["fontSize"] = parameter["fontSize"].asDouble() * sx;
        requests.push_back(e2e::request(apiName, parameter));
    }
    return requests;
}

struct LargeFigures {
    bool measured = false;
    Figures preview, picture;
    double pictureCpuMs = 0.0;  // of the service, all threads, per print
    long idleKb = -1, peakKb = -1, afterKb = -1;
    Figures hugeTextPreview, hugeTextCommit;
    long hugeTextIdleKb = -1, hugeTextPeakKb = -1;
};

// A text of words as large as the message limit lets a "DrawLableText" request be, in a 50 x 30 mm
// box of the 50 x 30 mm board.
std::string hugeTextRequest() {
    Json::Value text = e2e::object({{"x", 0}, {"y", 0}, {"width", 50}, {"height", 30}, {"fontSize", 10}});
    std::string words;
    for (int i = 0; words.size() < kMessageLimit; ++i) words += "word" + std::to_string(i % 1000) + " ";
    text["value"] = words;
    words.resize(words.size() - (e2e::request("DrawLableText", text).size() - (kMessageLimit - 4096)));
    text["value"] = words;
    return e2e::request("DrawLableText", text);
}

// A fresh service: the label with the huge text, then its previews and commits, one of each a
// round (each render lays the text out again, as every later client's would).
void measureHugeText(LargeFigures& figures, const std::string& binary, const std::string& name,
                     const std::string& textRequest) {
    kvtest::ServiceProcess service(benchService("bench.e2e-huge-text-" + name, binary));
    kvtest::WsTestClient client;
    if (!service.start() || !client.connect()) {
        std::printf("%s: the service %s did not start; its standard error:\n%s\n", name.c_str(), binary.c_str(),
                    service.stderrText().c_str());
        return;
    }
    e2e::Session session(client);
    figures.hugeTextIdleKb = statusKb(service.pid(), "VmRSS");
    for (const std::string& request : {e2e::request("initSdk"), e2e::request("InitDrawingBoard", e2e::boardParameter()),
                                       textRequest, kPrinterRequests[0], kPrinterRequests[1]}) {
        answerText(session, e2e::parseJson(request)["apiName"].asString(), request);
    }
    const std::string preview = previewRequest(8.0);
    const std::string commit = commitRequest();
    for (int i = 0; i < kHugeTextRounds; ++i) {
        Clock::time_point start = Clock::now();
        const std::string previewAnswer = answerText(session, "generateImagePreviewImage", preview);
        figures.hugeTextPreview.add(start);
        start = Clock::now();
        const std::string commitAnswer = answerText(session, "commitJob", commit);
        figures.hugeTextCommit.add(start);
        if (previewAnswer.find("ImageData") == std::string::npos || commitAnswer.find("commitJob") == std::string::npos) {
            std::printf("%s: huge text answered: %.200s / %.200s\n", name.c_str(), previewAnswer.c_str(),
                        commitAnswer.c_str());
        }
    }
    figures.hugeTextPeakKb = statusKb(service.pid(), "VmHWM");
    answerText(session, "endJob", e2e::request("endJob"));
    service.stop();
}

// CPU time of a process so far (user and system, every thread), in milliseconds; -1 unknown.
double cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos) return -1.0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0.0;
    // After the name: state is field 3, utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) ticks += std::atof(field.c_str());
    }
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// One fresh service: five picture prints, its peak resident size, its resident size 3 s later,
// then previews of the 100 x 150 mm label.
LargeFigures measureLarge(const std::string& binary, const std::string& name, const std::string& pictureRequest) {
    LargeFigures figures;
    kvtest::ServiceProcess service(benchService("bench.e2e-large-" + name, binary));
    kvtest::WsTestClient client;
    if (!service.start() || !client.connect()) {
        std::printf("%s: the service %s did not start; its standard error:\n%s\n", name.c_str(), binary.c_str(),
                    service.stderrText().c_str());
        return figures;
    }
    e2e::Session session(client);
    figures.idleKb = statusKb(service.pid(), "VmRSS");
    answerText(session, "connetUsbPrinter", kPrinterRequests[0]);
    const double cpuBefore = cpuMs(service.pid());
    for (int i = 0; i < kLargePrints; ++i) {
        const Clock::time_point start = Clock::now();
        const std::string answer = answerText(session, "picturePrint", pictureRequest);
        figures.picture.add(start);
        if (answer.find("commitJob ok!") == std::string::npos) {
            std::printf("%s: picture print answered: %s\n", name.c_str(), answer.c_str());
        }
    }
    figures.pictureCpuMs = (cpuMs(service.pid()) - cpuBefore) / kLargePrints;
    figures.peakKb = statusKb(service.pid(), "VmHWM");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    figures.afterKb = statusKb(service.pid(), "VmRSS");

    for (const std::string& request : largeLabelRequests()) {
        answerText(session, e2e::parseJson(request)["apiName"].asString(), request);
    }
    const std::string preview = previewRequest(8.0);
    for (int i = 0; i < 5; ++i) answerText(session, "generateImagePreviewImage", preview);
    for (int i = 0; i < kLargePreviewRounds; ++i) {
        const Clock::time_point start = Clock::now();
        answerText(session, "generateImagePreviewImage", preview);
        figures.preview.add(start);
    }
    service.stop();
    figures.measured = true;
    return figures;
}

double median(Figures& figures) {
    if (figures.ms.empty()) return 0.0;
    std::sort(figures.ms.begin(), figures.ms.end());
    return figures.ms[figures.ms.size() / 2];
}

// Times of a second pass join those of the first; the memory figures are the first pass's.
void addPass(LargeFigures& into, const LargeFigures& pass) {
    if (!into.measured) {
        into = pass;
        return;
    }
    into.preview.ms.insert(into.preview.ms.end(), pass.preview.ms.begin(), pass.preview.ms.end());
    into.picture.ms.insert(into.picture.ms.end(), pass.picture.ms.begin(), pass.picture.ms.end());
    into.pictureCpuMs = (into.pictureCpuMs + pass.pictureCpuMs) / 2;
    for (auto [to, from] : {std::pair{&into.hugeTextPreview, &pass.hugeTextPreview},
                            std::pair{&into.hugeTextCommit, &pass.hugeTextCommit}}) {
        to->ms.insert(to->ms.end(), from->ms.begin(), from->ms.end());
    }
}

void largeRequests() {
    const std::string pictureRequest = largePictureRequest();
    const char* baselineFolder = std::getenv("KV_BASELINE_BIN");
    const bool withBaseline = baselineFolder != nullptr && baselineFolder[0] != '\0';
    LargeFigures current, baseline;
    // The two builds take turns, so that a busy moment of the machine does not fall on one only.
    const std::string textRequest = hugeTextRequest();
    for (int pass = 0; pass < kLargePasses; ++pass) {
        LargeFigures now = measureLarge(kvtest::serviceBinary(), "current", pictureRequest);
        measureHugeText(now, kvtest::serviceBinary(), "current", textRequest);
        addPass(current, now);
        if (withBaseline) {
            const std::string binary = std::string(baselineFolder) + "/kvPrinter";
            LargeFigures before = measureLarge(binary, "baseline", pictureRequest);
            measureHugeText(before, binary, "baseline", textRequest);
            addPass(baseline, before);
        }
    }

    std::printf("\nlarge requests over WebSocket (medians; %d picture prints of a %zu-byte request, %d previews)%s\n",
                kLargePrints * kLargePasses, pictureRequest.size(), kLargePreviewRounds * kLargePasses,
                withBaseline ? (std::string(", baseline ") + baselineFolder).c_str() : "");
    std::printf("  %-44s %12s %12s %10s\n", "", "current", withBaseline ? "baseline" : "", withBaseline ? "ratio" : "");
    const auto timeRow = [&](const char* what, double x, double y) {
        if (withBaseline && baseline.measured && y > 0) {
            std::printf("  %-44s %9.2f ms %9.2f ms %10.2f\n", what, x, y, x / y);
        } else {
            std::printf("  %-44s %9.2f ms\n", what, x);
        }
    };
    const auto memoryRow = [&](const char* what, long a, long b) {
        if (withBaseline && baseline.measured) {
            std::printf("  %-44s %8.1f MiB %8.1f MiB %10.2f\n", what, a / 1024.0, b / 1024.0,
                        b > 0 ? static_cast<double>(a) / b : 0.0);
        } else {
            std::printf("  %-44s %8.1f MiB\n", what, a / 1024.0);
        }
    };
    timeRow("preview of 100 x 150 mm at 8 dots/mm", median(current.preview), median(baseline.preview));
    timeRow("picture print of about 16 MiB", median(current.picture), median(baseline.picture));
    timeRow("  service CPU time per picture print (mean)", current.pictureCpuMs, baseline.pictureCpuMs);
    memoryRow("resident size idle, before the prints", current.idleKb, baseline.idleKb);
    memoryRow("peak resident size", current.peakKb, baseline.peakKb);
    memoryRow("resident size 3 s after five picture prints", current.afterKb, baseline.afterKb);
    std::printf("  text of %zu bytes in a 50 x 30 mm box (%d previews and commits):\n", textRequest.size(),
                kHugeTextRounds * kLargePasses);
    timeRow("  preview at 8 dots/mm", median(current.hugeTextPreview), median(baseline.hugeTextPreview));
    timeRow("  commit at 8 dots/mm", median(current.hugeTextCommit), median(baseline.hugeTextCommit));
    memoryRow("  resident size idle, before the label", current.hugeTextIdleKb, baseline.hugeTextIdleKb);
    memoryRow("  peak resident size over idle", current.hugeTextPeakKb - current.hugeTextIdleKb,
              baseline.hugeTextPeakKb - baseline.hugeTextIdleKb);
}

}  // namespace

// With --large only the figures of large requests are measured.
int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--large") {
        largeRequests();
        return 0;
    }
    const std::string workDir = kvtest::freshWorkDir("bench.e2e-in-process");
    const std::string picture = largePicture();
    std::printf("end to end: a 50 x 30 mm label (text, Code 128, QR code, line, rectangle, picture) and a "
                "2000 x 1200 pixel PNG picture\n");
    overWebSocket(picture);
    largeRequests();
    inProcess(workDir, picture);
    return 0;
}
