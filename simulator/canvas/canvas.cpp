// (Being built: the canvas stand-in.)
#include "sdk/thirdLibrary.h"

#define KV_SIM_EXPORT __attribute__((visibility("default")))

extern "C" {
KV_SIM_EXPORT int32_t InitDrawingBoard(float, float, int32_t, const char* const*, int32_t) { return 0; }
KV_SIM_EXPORT int32_t DrawLableText(float, float, float, float, const char*, const char*, float, int32_t, int32_t,
                                    int32_t, int32_t, float, float, const bool*, int32_t) { return 0; }
KV_SIM_EXPORT int32_t DrawLableBarCode(float, float, float, float, int32_t, const char*, float, int32_t, float,
                                       int32_t) { return 0; }
KV_SIM_EXPORT int32_t DrawLableQrCode(float, float, float, float, const char*, int32_t, int32_t) { return 0; }
KV_SIM_EXPORT int32_t DrawLableLine(float, float, float, float, int32_t, int32_t, const float*) { return 0; }
KV_SIM_EXPORT int32_t DrawLableGraph(float, float, float, float, int32_t, int32_t, float, float, int32_t,
                                     const float*) { return 0; }
KV_SIM_EXPORT int32_t DrawLableImage(const char*, float, float, float, float, int32_t, int32_t, float) { return 0; }
KV_SIM_EXPORT char* GenerateLableJson() { return nullptr; }
KV_SIM_EXPORT void freeImageData(void*) {}
KV_SIM_EXPORT void freeData(char*) {}
KV_SIM_EXPORT int32_t DrawLableQrCodeWithImage(float, float, float, float, const char*, int32_t, int32_t, int32_t,
                                               const char*, int32_t, float) { return 0; }
}
