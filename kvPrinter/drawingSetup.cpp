// The drawing set-up: "initSdk" turns drawing mode on, hands the printer's scale to the drawing
// bridge and registers the fonts folder; "initImageProcessing" turns drawing mode off and
// registers its folders.
#include <glog/logging.h>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvImageGallery/libraryFolders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/urlDecode.h"

namespace {

// A key as text: absent or null is empty, numbers and booleans in their text form. An array or
// an object throws, and the dispatcher answers the request as unusable.
std::string textOf(const Json::Value& value) {
    return value.isNull() ? std::string() : value.asString();
}

const char* orNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace

std::string cKvPrinterService::initSdkApi(const Json::Value& root) {
    std::string folder = textOf(root["parameter"]["fontDir"]);

    std::string defaultFolder;
    if (folder.empty()) {
        defaultFolder = rendererFontFolder();
        folder = defaultFolder;
    }
    LOG(INFO) << "[INFO]:" << "font path:" << defaultFolder;
    urlDecode(folder, folder);

    sdkInited = true;
    // The scale is taken whatever the SDK reports with it (no printer: its default).
    const SdkMultipleResult multiple = callSdk(printerSdk.getMultiple);
    bool fontsRegistered = false;
    if (thirdApi) {
        thirdApi->setScaleValue(static_cast<float>(multiple.multiple));
        fontsRegistered = thirdApi->initFonts(orNull(folder), orNull(folder));
    }
    if (!fontsRegistered) return makeResult(getCurrentApiName(), -1, "font path not exist", -1);
    return makeResult(getCurrentApiName(), 0, "initSdkApi ok!", 0);
}

std::string cKvPrinterService::initImageProcessingApi(const Json::Value& root) {
    sdkInited = false;
    const Json::Value& parameter = root["parameter"];
    std::string fontFamilyPath = textOf(parameter["fontFamilyPath"]);
    std::string defaultFamilyPath = textOf(parameter["defaultFamilyPath"]);
    urlDecode(fontFamilyPath, fontFamilyPath);
    urlDecode(defaultFamilyPath, defaultFamilyPath);

    const bool fontsRegistered =
        thirdApi && thirdApi->initFonts(orNull(fontFamilyPath), orNull(defaultFamilyPath));
    if (!fontsRegistered) return makeResult(getCurrentApiName(), -1, "font path not exist", -1);
    return makeResult(getCurrentApiName(), 0, "initImageProcessing ok!", 0);
}
