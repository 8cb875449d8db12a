// Any text as a drawing request to the bridge over the real canvas and renderer stand-ins, then a
// preview of what was drawn. Each input starts on a fresh board, so the label does not grow
// from one input to the next.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzzSupport.h"

namespace {

kvPrinterSdkThirdApi* bridge = nullptr;

const char* const kBoard =
    R"({"apiName":"InitDrawingBoard","parameter":{"width":40,"height":30,"rotate":0,"path":""}})";
const char* const kPreview = R"({"apiName":"generateImagePreviewImage","displayScale":2})";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::quietLogging();
    bridge = kvfuzz::realBridge().release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bridge->callDrawApi(kBoard);
    const std::string request(reinterpret_cast<const char*>(data), size);
    try {
        bridge->callDrawApi(request);
    } catch (const Json::LogicError&) {
        // An array root, an "apiName" or "parameter" of the wrong kind: the service catches this
        // and answers the request itself. Any other exception is a finding.
    }
    const std::string preview = bridge->callDrawApi(kPreview);
    kvfuzz::check(!preview.empty() && preview.back() == '\n', "the preview is answered", request);
    return 0;
}
