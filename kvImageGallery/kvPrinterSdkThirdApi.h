// The drawing bridge: draws labels in the canvas library and renders them in the renderer.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

#include "kvImageGallery/thirdLibraryApi.h"

// The job information of the last drawing board: replaced by every "InitDrawingBoard", read (and
// partly overwritten) by the page commit. Defined with the other globals.
extern Json::Value printImageInfoJson;

class kvPrinterSdkThirdApi;

// A rendered image, handed back to the renderer (releaseImage) when its owner goes, on every path.
struct RenderedImageRelease {
    kvPrinterSdkThirdApi* bridge;
    void operator()(RenderedImage* image) const;
};
using OwnedRenderedImage = std::unique_ptr<RenderedImage, RenderedImageRelease>;

class kvPrinterSdkThirdApi {
public:
    kvPrinterSdkThirdApi();
    ~kvPrinterSdkThirdApi();
    kvPrinterSdkThirdApi(const kvPrinterSdkThirdApi&) = delete;
    kvPrinterSdkThirdApi& operator=(const kvPrinterSdkThirdApi&) = delete;

    // Creates and fills the library table once; keeps it only when loading succeeded.
    void loadLibrary();

    // Answers the drawing operations; an empty text for every other request, and for text that
    // the strict reader refuses.
    std::string callDrawApi(std::string request);
    // The same for a request that the strict reader has parsed already (the service's dispatcher
    // hands on what it parsed). A name of its own: a text would convert to a Json::Value.
    std::string answerDrawRequest(const Json::Value& request);

    static std::string makeResult(std::string apiName, int result, std::string info, int errorCode);
    static bool getJsonDouble(const Json::Value& value, double& out);
    static bool getJsonInt(const Json::Value& value, int& out);
    static bool getJsonString(const Json::Value& value, std::string& out);

    // Drawing handlers: the whole parsed request in, the answer text out.
    std::string InitDrawingBoard(const Json::Value& request);
    std::string DrawLableText(const Json::Value& request);
    std::string DrawLableBarCode(const Json::Value& request);
    std::string DrawLableQrCodeWithImage(const Json::Value& request);
    std::string DrawLableQrCode(const Json::Value& request);
    std::string DrawLableLine(const Json::Value& request);
    std::string DrawLableGraph(const Json::Value& request);
    std::string DrawLableImage(const Json::Value& request);
    std::string generateImagePreviewImage(const Json::Value& request);
    std::string setFont(const Json::Value& request);
    std::string setLineBreakMode(const Json::Value& request);

    // Label JSON of the drawn label; empty when the canvas library has none. Without a library
    // table: the refusal envelope instead.
    std::string GenerateLableJson();
    // Renders label JSON; the record belongs to the renderer until releaseImage. Null when there
    // is no library table or the renderer gave nothing.
    RenderedImage* generateDataFromPrintJson(const char* labelJson, int mode, float printerScale,
                                             float outputScale, const float* margin, void* zeroBlock,
                                             int orientation, const int* colour);
    // Hands a rendered record back to the renderer (vFree); null is ignored.
    void releaseImage(RenderedImage* image);
    // Turns a base64 picture into a one-image label and renders it; null for an empty picture.
    RenderedImage* imageToLabel(const std::string& image, float printerScale, int& width, int& height);
    // The same in its two steps, so that a caller can let go of a picture of megabytes once the
    // canvas library holds its own copy. drawImageLabel draws the label of the `length` bytes at
    // `image`, which a zero byte follows (as in a std::string or a text of jsoncpp's); false, with
    // nothing drawn, for an empty picture or without a library table. renderImageLabel renders it.
    bool drawImageLabel(const char* image, size_t length, int& width, int& height);
    RenderedImage* renderImageLabel(float printerScale);

    bool initFonts(const char* fontPath, const char* customPath);
    void setScaleValue(float value);

    // Fields, in order.
    std::unique_ptr<ThirdLibraryApi> libraryApi;
    float scaleValue = 8.0f;
    bool useCustomFont = false;
    std::string fontLibrary;
    std::string fontFamily;
    int32_t lineBreakMode = 1;
};
