// Binary interface of the two rendering libraries: the renderer (libpelix_windows.so), which turns
// label JSON into image data, and the canvas library (libQXCanvasImageKelo.so), which holds the
// label being drawn and writes it out as label JSON. The bridge's table, its loader and the
// stand-in libraries are all driven by the export lists below.
#pragma once

#include <cstdint>

extern "C" {

// Returned by generateDataFromPrintJson; owned by the renderer until handed back to vFree.
struct RenderedImage {
    unsigned char* data;
    int32_t size;
    int32_t width;
    int32_t height;
};

}  // extern "C"

// Text style flags, passed as a pointer to the first of four one-byte booleans:
// [0] bold, [1] italic, [2] underline, [3] strike-through.
struct TextStyleFlags {
    bool flags[4] = {false, false, false, false};
};
static_assert(sizeof(TextStyleFlags) == 4);

// Dash pattern of lines and shape outlines, passed as a pointer to the first of two floats:
// [0] dash length, [1] gap length (label units; 0 and 0 draw a solid line).
struct DashPattern {
    float values[2] = {0.0f, 0.0f};
};
static_assert(sizeof(DashPattern) == 8);

// Renderer exports, in the loader's order: X(name, result, (parameters)). Only initFontsFilePath,
// generateDataFromPrintJson and vFree are called; the others must exist for the load to succeed
// and have signatures of our choosing.
#define KV_PELIX_EXPORTS(X)                                                                      \
    X(native_add, int32_t, (int32_t a, int32_t b))                                               \
    X(initFontsFilePath, int32_t, (const char* fontFolder))                                      \
    X(generateImageFromElementJson, RenderedImage*, (const char* elementJson, float scale))      \
    X(generateImageFromPrintJson, RenderedImage*, (const char* printJson, float scale))          \
    X(generateDataFromPrintJson, RenderedImage*,                                                 \
      (const char* labelJson, int32_t mode, float printerScale, float outputScale,               \
       const float* margin, void* zeroBlock, int32_t orientation, const int32_t* colour))        \
    X(checkBarcodeContent, int32_t, (int32_t codeType, const char* content))                     \
    X(barcodeContentFormat, int32_t, (int32_t codeType, const char* content))                    \
    X(mmToPixel, float, (float millimetres, float scale))                                        \
    X(pixelToMm, float, (float pixels, float scale))                                             \
    X(getDisplayRatio, float, ())                                                                \
    X(mmToInch, float, (float millimetres))                                                      \
    X(inchToMm, float, (float inches))                                                           \
    X(release, void, ())                                                                         \
    X(vFree, void, (RenderedImage * image))

// Canvas exports, in the loader's order; all are required.
#define KV_QX_EXPORTS(X)                                                                         \
    X(InitDrawingBoard, int32_t,                                                                 \
      (float width, float height, int32_t rotate, const char* const* fontFiles, int32_t count))  \
    X(DrawLableText, int32_t,                                                                    \
      (float x, float y, float width, float height, const char* value, const char* fontFamily,   \
       float fontSize, int32_t rotate, int32_t textAlignHorizonral, int32_t textAlignVertical,   \
       int32_t lineMode, float letterSpacing, float lineSpacing, const bool* fontStyle,          \
       int32_t lineBreakMode))                                                                   \
    X(DrawLableBarCode, int32_t,                                                                 \
      (float x, float y, float width, float height, int32_t codeType, const char* value,         \
       float fontSize, int32_t rotate, float textHeight, int32_t textPosition))                  \
    X(DrawLableQrCode, int32_t,                                                                  \
      (float x, float y, float width, float height, const char* value, int32_t codeType,         \
       int32_t rotate))                                                                          \
    X(DrawLableLine, int32_t,                                                                    \
      (float x, float y, float width, float height, int32_t rotate, int32_t lineType,            \
       const float* dashPattern))                                                                \
    X(DrawLableGraph, int32_t,                                                                   \
      (float x, float y, float width, float height, int32_t graphType, int32_t rotate,           \
       float cornerRadius, float lineWidth, int32_t lineType, const float* dashPattern))         \
    X(DrawLableImage, int32_t,                                                                   \
      (const char* imageData, float x, float y, float width, float height, int32_t rotate,       \
       int32_t mode, float imageProcessingValue))                                                \
    X(GenerateLableJson, char*, ())                                                              \
    X(freeImageData, void, (void* data))                                                         \
    X(freeData, void, (char* labelJson))

// The one canvas export that may be missing.
#define KV_QX_OPTIONAL_EXPORTS(X)                                                                \
    X(DrawLableQrCodeWithImage, int32_t,                                                         \
      (float x, float y, float width, float height, const char* value, int32_t codeType,         \
       int32_t rotate, int32_t correctLevel, const char* logoBase64, int32_t logoPosition,       \
       float logoScale))

// The stand-ins declare their exports with this, inside extern "C".
#define KV_DECLARE_THIRD_EXPORT(name, result, params) result name params;

// File names of the libraries on this platform.
inline constexpr const char* kPelixFileName = "libpelix_windows.so";
inline constexpr const char* kQxCanvasFileName = "libQXCanvasImageKelo.so";
