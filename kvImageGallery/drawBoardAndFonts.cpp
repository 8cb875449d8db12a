// The drawing board with its job information, the fonts, the line-break mode and the scale.
#include <glog/logging.h>

#include "kvImageGallery/drawHelpers.h"
#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvImageGallery/libraryFolders.h"
#include "kvPrinter/urlDecode.h"

namespace {

const char* const kNoTable = "please init sdk first!";

}  // namespace

std::string kvPrinterSdkThirdApi::InitDrawingBoard(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "InitDrawingBoard begin";
    if (!libraryApi) return makeResult("InitDrawingBoard", -1, kNoTable, -1);

    // A line-break mode set before the board does not outlive it.
    lineBreakMode = 1;

    const Json::Value& parameter = root["parameter"];
    std::string path;
    double width = 0.0, height = 0.0;
    int rotate = 0;
    getJsonString(parameter["path"], path);
    getJsonDouble(parameter["width"], width);
    getJsonDouble(parameter["height"], height);
    getJsonInt(parameter["rotate"], rotate);

    // After any "setFont" its font file stands for the board's, even when it is empty.
    const std::string& fontFile = useCustomFont ? fontLibrary : path;
    const char* fontFiles[1] = {fontFile.c_str()};
    libraryApi->InitDrawingBoard(kvDraw::toFloat(width), kvDraw::toFloat(height), rotate, fontFiles, 1);

    int verticalShift = 0, horizontalShift = 0;
    getJsonInt(parameter["verticalShift"], verticalShift);
    getJsonInt(parameter["HorizontalShift"], horizontalShift);

    Json::Value info(Json::objectValue);
    info["width"] = width;
    info["height"] = height;
    info["orientation"] = rotate;
    Json::Value margin(Json::arrayValue);
    for (int i = 0; i < 4; ++i) margin.append(0);
    info["margin"] = margin;
    info["printQuantity"] = 1;
    info["horizontalOffset"] = horizontalShift;
    info["verticalOffset"] = verticalShift;
    info["epc"] = "";
    Json::Value job(Json::objectValue);
    job["printerImageProcessingInfo"] = info;
    printImageInfoJson = job;

    std::string answer = makeResult("InitDrawingBoard", 0, "init draw board success!", 0);
    LOG(INFO) << "[INFO]:" << "InitDrawingBoard end";
    return answer;
}

bool kvPrinterSdkThirdApi::initFonts(const char* fontPath, const char* customPath) {
    // Without the renderer there is nothing to register the folders with.
    if (!libraryApi) return false;
    if (customPath == nullptr) {
        const std::string programFolder = programFontFolder();
        if (!programFolder.empty()) libraryApi->initFontsFilePath(programFolder.c_str());
    }
    libraryApi->initFontsFilePath(fontPath);
    return true;
}

void kvPrinterSdkThirdApi::setScaleValue(float value) {
    scaleValue = value;
}

std::string kvPrinterSdkThirdApi::setFont(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "setFont begin";

    const Json::Value& parameter = root["parameter"];
    std::string fontPath, library, family;
    getJsonString(parameter["fontPath"], fontPath);
    getJsonString(parameter["fontLibrary"], library);
    getJsonString(parameter["fontFamily"], family);

    std::string folder = fontPath.empty() ? rendererFontFolder() : fontPath;
    urlDecode(folder, folder);
    const char* p = folder.empty() ? nullptr : folder.c_str();
    std::string answer = initFonts(p, p) ? makeResult("setFont", 0, "set font ok!", 0)
                                         : makeResult("setFont", -1, "font path not exist!", -1);

    useCustomFont = true;
    fontLibrary = library;
    fontFamily = family;
    return answer;
}

std::string kvPrinterSdkThirdApi::setLineBreakMode(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "kvPrinterSdkThirdApi::setLineBreakMode";
    if (!libraryApi) return makeResult("setLineBreakMode", -1, kNoTable, -1);

    int value = 0;
    getJsonInt(root["parameter"]["lineBreakMode"], value);
    lineBreakMode = value;
    return makeResult("setLineBreakMode", 0, "setLineBreakMode success!", 0);
}
