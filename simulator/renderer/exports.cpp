// The exports of the renderer stand-in (libpelix_windows.so). Each one traces its call, takes the
// renderer's lock, and catches whatever the drawing throws: nothing may cross the C boundary.
#include "sdk/thirdLibrary.h"
#include "simulator/common/trace.h"
#include "simulator/renderer/render.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_set>

#define KV_SIM_EXPORT __attribute__((visibility("default")))

extern "C" {
#define KV_SIM_DECLARE(name, result, params) KV_SIM_EXPORT result name params;
KV_PELIX_EXPORTS(KV_SIM_DECLARE)
#undef KV_SIM_DECLARE
}

namespace {

// Label texts longer than this appear in the trace by their length only; a drawn label of a few
// elements is shorter, so that a test can read what reached the renderer.
constexpr size_t kMaxTracedText = 1024;

std::mutex& renderMutex() {
    static std::mutex mutex;
    return mutex;
}

void traceCall(const char* function, const Json::Value& args) {
    static kvsim::TraceWriter writer("renderer");
    static std::once_flag opened;
    std::call_once(opened, [] { writer.openFromEnvironment(); });
    writer.write(function, args);
}

Json::Value traceText(const char* text) {
    if (text == nullptr) return Json::Value(Json::nullValue);
    const size_t length = std::strlen(text);
    if (length <= kMaxTracedText) return Json::Value(text);
    Json::Value shortened(Json::objectValue);
    shortened["length"] = Json::UInt64(length);
    return shortened;
}

template <typename T>
Json::Value traceList(const T* values, int count) {
    if (values == nullptr) return Json::Value(Json::nullValue);
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < count; ++i) list.append(values[i]);
    return list;
}

// The records handed out and not yet given back: vFree releases only these, once.
class Records {
public:
    RenderedImage* add(kvrender::RenderedPage page) {
        if (page.data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return nullptr;
        auto* record = new (std::nothrow) RenderedImage{};
        if (record == nullptr) return nullptr;
        record->data = new (std::nothrow) unsigned char[page.data.empty() ? 1 : page.data.size()];
        if (record->data == nullptr) {
            delete record;
            return nullptr;
        }
        std::memcpy(record->data, page.data.data(), page.data.size());
        record->size = static_cast<int32_t>(page.data.size());
        record->width = page.width;
        record->height = page.height;
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            live_.insert(record);
        } catch (...) {
            release(record);
            return nullptr;
        }
        return record;
    }

    bool take(RenderedImage* record) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (live_.erase(record) == 0) return false;
        }
        release(record);
        return true;
    }

private:
    static void release(RenderedImage* record) {
        delete[] record->data;
        delete record;
    }

    std::mutex mutex_;
    std::unordered_set<RenderedImage*> live_;
};

Records& records() {
    static Records instance;
    return instance;
}

RenderedImage* render(const char* labelJson, const kvrender::RenderOptions& options) {
    if (labelJson == nullptr) return nullptr;
    try {
        std::optional<kvrender::RenderedPage> page;
        {
            std::lock_guard<std::mutex> lock(renderMutex());
            page = kvrender::renderLabel(std::string_view(labelJson), options);
        }
        if (!page) return nullptr;
        return records().add(std::move(*page));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

int32_t native_add(int32_t a, int32_t b) {
    Json::Value args(Json::arrayValue);
    args.append(a);
    args.append(b);
    traceCall("native_add", args);
    // Wraps like the machine's addition instead of overflowing.
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t initFontsFilePath(const char* fontFolder) {
    Json::Value args(Json::arrayValue);
    args.append(fontFolder != nullptr ? Json::Value(fontFolder) : Json::Value(Json::nullValue));
    traceCall("initFontsFilePath", args);
    try {
        std::lock_guard<std::mutex> lock(renderMutex());
        return kvrender::addFontFolder(fontFolder) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

RenderedImage* generateImageFromElementJson(const char* elementJson, float scale) {
    Json::Value args(Json::arrayValue);
    args.append(traceText(elementJson));
    args.append(scale);
    traceCall("generateImageFromElementJson", args);
    if (elementJson == nullptr) return nullptr;
    try {
        // One element on a label of its own box's size.
        const std::optional<Json::Value> object = kvrender::parseObject(elementJson);
        if (!object) return nullptr;
        kvrender::Label label;
        kvrender::Element element = kvrender::readElement(*object);
        label.width = element.box.width;
        label.height = element.box.height;
        element.box.x = 0.0;
        element.box.y = 0.0;
        label.elements.push_back(std::move(element));
        kvrender::RenderOptions options;
        options.scale = scale;
        std::optional<kvrender::RenderedPage> page;
        {
            std::lock_guard<std::mutex> lock(renderMutex());
            page = kvrender::renderLabel(label, options);
        }
        if (!page) return nullptr;
        return records().add(std::move(*page));
    } catch (...) {
        return nullptr;
    }
}

RenderedImage* generateImageFromPrintJson(const char* printJson, float scale) {
    Json::Value args(Json::arrayValue);
    args.append(traceText(printJson));
    args.append(scale);
    traceCall("generateImageFromPrintJson", args);
    kvrender::RenderOptions options;
    options.scale = scale;
    return render(printJson, options);
}

RenderedImage* generateDataFromPrintJson(const char* labelJson, int32_t mode, float printerScale,
                                         float outputScale, const float* margin, void* zeroBlock,
                                         int32_t orientation, const int32_t* colour) {
    Json::Value args(Json::arrayValue);
    args.append(traceText(labelJson));
    args.append(mode);
    args.append(printerScale);
    args.append(outputScale);
    args.append(traceList(margin, 4));
    args.append(zeroBlock != nullptr);
    args.append(orientation);
    args.append(traceList(colour, 4));
    traceCall("generateDataFromPrintJson", args);

    kvrender::RenderOptions options;
    options.mode = mode;
    options.scale = outputScale;
    if (margin != nullptr) {
        for (int i = 0; i < 4; ++i) options.margin[i] = margin[i];
    }
    options.orientation = orientation;
    if (colour != nullptr) {
        for (int i = 0; i < 4; ++i) options.colour[i] = colour[i];
    }
    return render(labelJson, options);
}

int32_t checkBarcodeContent(int32_t codeType, const char* content) {
    Json::Value args(Json::arrayValue);
    args.append(codeType);
    args.append(traceText(content));
    traceCall("checkBarcodeContent", args);
    if (content == nullptr) return 0;
    try {
        return kvrender::readableTextLength(codeType, content) >= 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int32_t barcodeContentFormat(int32_t codeType, const char* content) {
    Json::Value args(Json::arrayValue);
    args.append(codeType);
    args.append(traceText(content));
    traceCall("barcodeContentFormat", args);
    if (content == nullptr) return -1;
    try {
        return kvrender::readableTextLength(codeType, content);
    } catch (...) {
        return -1;
    }
}

float mmToPixel(float millimetres, float scale) {
    Json::Value args(Json::arrayValue);
    args.append(millimetres);
    args.append(scale);
    traceCall("mmToPixel", args);
    return millimetres * scale;
}

float pixelToMm(float pixels, float scale) {
    Json::Value args(Json::arrayValue);
    args.append(pixels);
    args.append(scale);
    traceCall("pixelToMm", args);
    return scale == 0.0f ? 0.0f : pixels / scale;
}

float getDisplayRatio() {
    traceCall("getDisplayRatio", Json::Value(Json::arrayValue));
    return 1.0f;
}

float mmToInch(float millimetres) {
    Json::Value args(Json::arrayValue);
    args.append(millimetres);
    traceCall("mmToInch", args);
    return millimetres / 25.4f;
}

float inchToMm(float inches) {
    Json::Value args(Json::arrayValue);
    args.append(inches);
    traceCall("inchToMm", args);
    return inches * 25.4f;
}

void release() { traceCall("release", Json::Value(Json::arrayValue)); }

void vFree(RenderedImage* image) {
    // The trace tells whether the record was one handed out and not yet given back.
    const bool ours = image != nullptr && records().take(image);
    Json::Value args(Json::arrayValue);
    args.append(ours);
    traceCall("vFree", args);
}
