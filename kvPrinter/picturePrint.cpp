// Picture print: a base64 picture printed as one label page; the answer waits for the copies.
#include <glog/logging.h>

#include <cstdint>
#include <utility>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"
#include "platform/platform.h"

namespace {

const char* const kPicturePrint = "picturePrint";
constexpr uint64_t kQuietPeriodMs = 30000;
constexpr unsigned kPollMs = 100;

}  // namespace

std::string cKvPrinterService::picturePrintApi(Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "picturePrintApi begin";
    // The copy count starts again as the page goes to the printer (commitRenderedPage).
    printErrorCode.store(0);
    printJobEnded.store(false);

    const Json::Value& parameter = std::as_const(root)["parameter"];
    int printQuantity = 1;  // when absent or null
    if (!readTruncatedNumber(parameter, "printQuantity", printQuantity)) return jobValueErrorResult(kPicturePrint);
    const Json::Value& printData = parameter.isObject() ? parameter["printData"] : Json::Value::nullSingleton();
    if (!printData.isNull() && !printData.isString()) return jobValueErrorResult(kPicturePrint);
    // The picture (megabytes, maybe) is taken out of the request and read where it lies; once the
    // canvas library holds its own copy, it is let go before the label is rendered.
    Json::Value picture;
    if (printData.isString()) picture.swap(root["parameter"]["printData"]);
    const char* text = "";
    const char* textEnd = text;
    if (picture.isString()) picture.getString(&text, &textEnd);

    const float scale = static_cast<float>(callSdk(printerSdk.getMultiple).multiple);
    int width = 0, height = 0;
    const bool drawn = thirdApi->drawImageLabel(text, static_cast<size_t>(textEnd - text), width, height);
    picture = Json::Value();
    SdkStatus status = 0;
    {
        // Given back to the renderer before the wait.
        const OwnedRenderedImage image(drawn ? thirdApi->renderImageLabel(scale) : nullptr, {thirdApi.get()});
        // A picture that yields no page is refused before the SDK is asked.
        if (!image || image->data == nullptr || image->size <= 0) return jobValueErrorResult(kPicturePrint);
        status = commitRenderedPage(*image, printQuantity, "", 0, true);
    }
    if (status != 0) return makeResult(kPicturePrint, -1, lookupMessage(apiResultMsgMap, status), status);

    // Wait for the page's own copies; a print error, or the end of the job or of the printer's
    // connection, ends the wait at once, and so does a quiet printer. The copies of the pages
    // committed before it are progress all the same.
    uint64_t lastChange = platform::tickCount64();
    uint32_t progressSeen = printProgressCount.load();
    while (platform::tickCount64() - lastChange <= kQuietPeriodMs) {
        // A count below 1 asks for no copies, as 0 does.
        if (printQuantity < 1 || printedCopyCount.load() == printQuantity) break;
        if (printErrorCode.load() != 0 || printJobEnded.load()) {
            LOG(ERROR) << "[ERROR]:" << "updatePrintCount异常";
            return std::string();
        }
        if (const uint32_t progress = printProgressCount.load(); progress != progressSeen) {
            progressSeen = progress;
            lastChange = platform::tickCount64();
        }
        platform::sleepMilliseconds(kPollMs);
    }
    return makeResult(kPicturePrint, 0, "commitJob ok!", 0);
}
