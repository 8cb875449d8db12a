// Any text as a request to the printer service, over the fake printer SDK and a fake drawing
// library table. An answer is one envelope line (or, for the few operations that answer so, an
// empty text), and whatever the SDK or the libraries handed out has come back afterwards.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/fuzz/fuzzSupport.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/fakeThirdLibrary.h"

namespace {

cKvPrinterService* service = nullptr;

// The fake printer never prints: a picture print would wait its 30 quiet seconds for copies.
// This one reports a print error at once, which ends the wait.
SdkStatus commitJobReportingError(PrintJobInfo page) {
    Json::Value args(Json::arrayValue);
    args.append(page.imageSize);
    FakePrinterSdk::instance().record("commitJob", args);
    PrintErrorInfo error{};
    error.errorCode = 3;
    printerEventCallback(&error, 9);
    return 0;
}

void checkEnvelope(const std::string& answer) {
    Json::Value root;
    Json::Reader reader(Json::Features::strictMode());
    kvfuzz::check(reader.parse(answer, root) && root.isObject(), "the answer is a JSON object", answer);
    kvfuzz::check(root["apiName"].isString(), "the answer names its operation", answer);
    // Null only for the RFID list that the SDK reports empty, as that operation answers it.
    kvfuzz::check(root["resultAck"].isObject() || root["resultAck"].isNull(), "the answer has its resultAck", answer);
    kvfuzz::check(answer.back() == '\n' && answer.find('\n') == answer.size() - 1, "one line", answer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::quietLogging();
    service = new cKvPrinterService(&FakePrinterSdk::load);
    kvfuzz::check(service->thirdApi != nullptr, "the drawing bridge exists beside a loaded SDK");
    service->thirdApi->libraryApi = FakeThirdLibrary::makeTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FakePrinterSdk& sdk = FakePrinterSdk::instance();
    FakeThirdLibrary& library = FakeThirdLibrary::instance();
    sdk.install();
    printerSdk.commitJob = &commitJobReportingError;
    sdk.setResult("getMultiple", SdkMultipleResult{8.0, 0});
    library.reset();
    library.labelJson = R"({"width":40,"height":30,"elements":[]})";
    library.imageBytes = std::string(40, '\x55');

    const std::string request(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> answer = service->answerRequest(request);
    if (answer && !answer->empty()) checkEnvelope(*answer);

    kvfuzz::check(sdk.allGivenBack(), "every SDK hand-out was given back", request);
    kvfuzz::check(library.allGivenBack(), "every label text and rendered record was given back", request);
    return 0;
}
