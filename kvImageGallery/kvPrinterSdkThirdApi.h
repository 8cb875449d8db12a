// The drawing bridge: draws labels in the canvas library and renders them in the renderer.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

#include "kvImageGallery/thirdLibraryApi.h"

// The job information of the last drawing board: replaced by every "InitDrawingBoard", read (and
// partly overwritten) by the page commit. Defined with the other globals.
extern Json::Value printImageInfoJson;

class kvPrinterSdkThirdApi {
public:
    kvPrinterSdkThirdApi();
    ~kvPrinterSdkThirdApi();
    kvPrinterSdkThirdApi(const kvPrinterSdkThirdApi&) = delete;
    kvPrinterSdkThirdApi& operator=(const kvPrinterSdkThirdApi&) = delete;

    // Creates and fills the library table once; keeps it only when loading succeeded.
    void loadLibrary();

    // Answers the drawing operations; an empty text for every other request.
    std::string callDrawApi(std::string request);

    static std::string makeResult(std::string apiName, int result, std::string info, int errorCode);
    static bool getJsonDouble(const Json::Value& value, double& out);
    static bool getJsonInt(const Json::Value& value, int& out);
    static bool getJsonString(const Json::Value& value, std::string& out);

    // Drawing handlers: the whole request text in, the answer text out.
    std::string InitDrawingBoard(std::string request);
    std::string DrawLableText(std::string request);
    std::string DrawLableBarCode(std::string request);
    std::string DrawLableQrCodeWithImage(std::string request);
    std::string DrawLableQrCode(std::string request);
    std::string DrawLableLine(std::string request);
    std::string DrawLableGraph(std::string request);
    std::string DrawLableImage(std::string request);
    std::string generateImagePreviewImage(std::string request);
    std::string setFont(std::string request);
    std::string setLineBreakMode(std::string request);

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
