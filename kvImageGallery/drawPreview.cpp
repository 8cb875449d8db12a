// Label JSON, rendering, the preview, and a picture turned into a one-image label.
#include <glog/logging.h>

#include <cstring>

#include "kvImageGallery/base64.h"
#include "kvImageGallery/drawHelpers.h"
#include "kvImageGallery/imageSize.h"
#include "kvImageGallery/kvPrinterSdkThirdApi.h"

namespace {

const char* const kNoTable = "please init sdk first!";

// The render arguments that every caller of this file passes alike.
const float kNoMargin[4] = {0.0f, 0.0f, 0.0f, 0.0f};
const int kInk[4] = {255, 0, 0, 0};

// The picture's label marked "strict" (docs/label-json.md): the picture is the whole label, so a
// picture that cannot be drawn must fail the render instead of giving a blank page.
std::string strictLabel(const char* label) {
    if (label == nullptr) return std::string();
    const size_t length = std::strlen(label);
    if (label[0] != '{') return std::string(label, length);
    std::string strict;
    strict.reserve(length + 16);
    strict += "{\"strict\":true";
    if (label[1] != '}') strict += ',';
    strict.append(label + 1, length - 1);
    return strict;
}

}  // namespace

std::string kvPrinterSdkThirdApi::GenerateLableJson() {
    LOG(INFO) << "[INFO]:" << "GenerateLableJson begin";
    if (!libraryApi) return makeResult("GenerateLableJson", -1, kNoTable, -1);

    char* label = libraryApi->GenerateLableJson();
    // Copy first: the text belongs to the canvas library, which takes it back at once.
    std::string copy = label != nullptr ? std::string(label) : std::string();
    libraryApi->freeData(label);

    LOG(INFO) << "[INFO]:" << "GenerateLableJson end";
    return copy;
}

RenderedImage* kvPrinterSdkThirdApi::generateDataFromPrintJson(const char* labelJson, int mode, float printerScale,
                                                               float outputScale, const float* margin,
                                                               void* zeroBlock, int orientation, const int* colour) {
    if (!libraryApi) return nullptr;
    return libraryApi->generateDataFromPrintJson(labelJson, mode, printerScale, outputScale, margin, zeroBlock,
                                                 orientation, colour);
}

void kvPrinterSdkThirdApi::releaseImage(RenderedImage* image) {
    if (image != nullptr && libraryApi) libraryApi->vFree(image);
}

void RenderedImageRelease::operator()(RenderedImage* image) const {
    bridge->releaseImage(image);
}

std::string kvPrinterSdkThirdApi::generateImagePreviewImage(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "generateImagePreviewImage begin";
    if (!libraryApi) return makeResult("generateImagePreviewImage", -1, kNoTable, -1);

    const std::string label = GenerateLableJson();

    // "displayScale" stands beside "apiName", not inside "parameter".
    double displayScale = 8.0;
    getJsonDouble(root["displayScale"], displayScale);

    unsigned char zeroBlock[8] = {};
    const float outputScale = kvDraw::toFloat(displayScale);
    const OwnedRenderedImage image(
        generateDataFromPrintJson(label.c_str(), 1, scaleValue, outputScale, kNoMargin, zeroBlock, 0, kInk), {this});
    // A record without image data is never read: the client learns that nothing was rendered.
    if (!image || image->data == nullptr || image->size <= 0) {
        return makeResult("generateImagePreviewImage", -1, "generate preview image fail!", -1);
    }

    Json::Value info(Json::objectValue);
    info["ImageData"] = base64Encode(image->data, static_cast<unsigned int>(image->size));
    info["errorCode"] = 0;
    info["errorInfo"] = "";
    return makeResult("generateImagePreviewImage", 0, info.toStyledString(), 0);
}

RenderedImage* kvPrinterSdkThirdApi::imageToLabel(const std::string& image, float printerScale, int& width,
                                                  int& height) {
    if (!drawImageLabel(image.c_str(), image.size(), width, height)) return nullptr;
    return renderImageLabel(printerScale);
}

bool kvPrinterSdkThirdApi::drawImageLabel(const char* image, size_t length, int& width, int& height) {
    if (length == 0) {
        LOG(ERROR) << "[ERROR]:" << "parse jsonData fail";
        return false;
    }
    if (!libraryApi) {
        LOG(ERROR) << "[ERROR]:" << kNoTable;
        return false;
    }

    getImageSizeFromBase64(image, &height, &width);
    // Pixels to label units at the bridge's scale; a scale that is not positive gives no size.
    if (scaleValue > 0.0f) {
        width = kvDraw::truncateToInt(static_cast<double>(width) / scaleValue);
        height = kvDraw::truncateToInt(static_cast<double>(height) / scaleValue);
    } else {
        width = 0;
        height = 0;
    }

    const char* fontFiles[1] = {"ZT001.ttf"};
    libraryApi->InitDrawingBoard(static_cast<float>(width), static_cast<float>(height), 0, fontFiles, 1);
    libraryApi->DrawLableImage(image, 0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height), 0,
                               1, 127.0f);
    return true;
}

RenderedImage* kvPrinterSdkThirdApi::renderImageLabel(float printerScale) {
    if (!libraryApi) return nullptr;
    char* label = libraryApi->GenerateLableJson();
    const std::string labelJson = strictLabel(label);
    libraryApi->freeData(label);

    unsigned char zeroBlock[8] = {};
    return libraryApi->generateDataFromPrintJson(labelJson.c_str(), 0, printerScale, printerScale, kNoMargin,
                                                 zeroBlock, 0, kInk);
}
