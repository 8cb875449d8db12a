// (Being built: the renderer stand-in.)
#include "sdk/thirdLibrary.h"

#define KV_SIM_EXPORT __attribute__((visibility("default")))

extern "C" {
KV_SIM_EXPORT int32_t native_add(int32_t a, int32_t b) { return a + b; }
KV_SIM_EXPORT int32_t initFontsFilePath(const char*) { return 0; }
KV_SIM_EXPORT RenderedImage* generateImageFromElementJson(const char*, float) { return nullptr; }
KV_SIM_EXPORT RenderedImage* generateImageFromPrintJson(const char*, float) { return nullptr; }
KV_SIM_EXPORT RenderedImage* generateDataFromPrintJson(const char*, int32_t, float, float, const float*, void*,
                                                       int32_t, const int32_t*) { return nullptr; }
KV_SIM_EXPORT int32_t checkBarcodeContent(int32_t, const char*) { return 0; }
KV_SIM_EXPORT int32_t barcodeContentFormat(int32_t, const char*) { return 0; }
KV_SIM_EXPORT float mmToPixel(float mm, float scale) { return mm * scale; }
KV_SIM_EXPORT float pixelToMm(float px, float scale) { return scale == 0 ? 0 : px / scale; }
KV_SIM_EXPORT float getDisplayRatio() { return 1.0f; }
KV_SIM_EXPORT float mmToInch(float mm) { return mm / 25.4f; }
KV_SIM_EXPORT float inchToMm(float inch) { return inch * 25.4f; }
KV_SIM_EXPORT void release() {}
KV_SIM_EXPORT void vFree(RenderedImage*) {}
}
