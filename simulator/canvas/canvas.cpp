// The stand-in canvas library: keeps the drawing board and its elements in draw order with every
// argument they were given, and writes them out as label JSON (docs/label-json.md). Every call
// appends a trace line when KVSIM_TRACE names a file; the trace is opened on the first call.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "platform/utf8.h"
#include "sdk/thirdLibrary.h"
#include "simulator/common/trace.h"

#define KV_SIM_EXPORT __attribute__((visibility("default")))

// Declared from the export lists, so a definition below that strays from them does not compile.
extern "C" {
KV_QX_EXPORTS(KV_DECLARE_THIRD_EXPORT)
KV_QX_OPTIONAL_EXPORTS(KV_DECLARE_THIRD_EXPORT)
}

namespace {

// A float as the shortest decimal that reads back as the same float, so 0.1f is written 0.1.
// A value that JSON cannot hold is written as null, which the renderer takes as missing.
Json::Value number(float value) {
    if (!std::isfinite(value)) return Json::Value();
    char digits[64];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
    double shortest = 0.0;
    std::from_chars(digits, written.ptr, shortest);
    return Json::Value(shortest);
}

Json::Value text(const char* value) {
    return value != nullptr ? Json::Value(value) : Json::Value();
}

// A text of the label: valid UTF-8, since the JSON writer would otherwise take the bytes after a
// faulty one into a character of its own making.
Json::Value labelText(const char* value) {
    if (value == nullptr) return Json::Value();
    // Most texts are valid (a picture's base64 is megabytes of it): those are not copied twice.
    if (platform::isValidUtf8(value)) return Json::Value(value);
    return Json::Value(platform::validUtf8(value));
}

// The four style flags, read as bytes: any non-zero byte counts as set.
Json::Value styleFlags(const bool* flags) {
    if (flags == nullptr) return Json::Value();
    unsigned char bytes[4];
    std::memcpy(bytes, flags, sizeof bytes);
    Json::Value list(Json::arrayValue);
    for (unsigned char b : bytes) list.append(b != 0);
    return list;
}

Json::Value dashPattern(const float* dash) {
    if (dash == nullptr) return Json::Value();
    Json::Value list(Json::arrayValue);
    list.append(number(dash[0]));
    list.append(number(dash[1]));
    return list;
}

Json::Value list(std::initializer_list<Json::Value> values) {
    Json::Value out(Json::arrayValue);
    for (const Json::Value& v : values) out.append(v);
    return out;
}

// Sets a key only when the argument was given: a null text or pointer leaves it out.
void put(Json::Value& object, const char* key, const Json::Value& value) {
    if (!value.isNull()) object[key] = value;
}

class Canvas {
public:
    static Canvas& instance() {
        static Canvas canvas;
        return canvas;
    }

    ~Canvas() {
        for (char* text : handedOut_) std::free(text);
    }

    // Every export starts here: the lock on the label (and on the trace).
    std::unique_lock<std::mutex> lock() {
        std::call_once(traceOpened_, [this] { trace_.openFromEnvironment(); });
        return std::unique_lock<std::mutex>(mutex_);
    }

    // ---- under the lock ----

    void trace(const char* function, const Json::Value& args) { trace_.write(function, args); }

    // The lock, with the call's trace line written.
    std::unique_lock<std::mutex> call(const char* function, const Json::Value& args) {
        std::unique_lock<std::mutex> held = lock();
        trace(function, args);
        return held;
    }

    void startBoard(float width, float height, int32_t rotate, const char* const* fontFiles, int32_t count) {
        board_ = Json::Value(Json::objectValue);
        board_["width"] = number(width);
        board_["height"] = number(height);
        board_["rotate"] = rotate;
        Json::Value files(Json::arrayValue);
        for (int32_t i = 0; fontFiles != nullptr && i < count; ++i) {
            if (fontFiles[i] != nullptr) files.append(labelText(fontFiles[i]));
        }
        board_["fontFiles"] = files;
        elements_ = Json::Value(Json::arrayValue);
        hasBoard_ = true;
    }

    static Json::Value element(const char* type, float x, float y, float width, float height, int32_t rotate) {
        Json::Value e(Json::objectValue);
        e["type"] = type;
        e["x"] = number(x);
        e["y"] = number(y);
        e["width"] = number(width);
        e["height"] = number(height);
        e["rotate"] = rotate;
        return e;
    }

    void add(Json::Value element) { elements_.append(std::move(element)); }

    // The label so far, handed out until freeData; null before the first board.
    char* label() {
        if (!hasBoard_) return nullptr;
        // The elements (pictures among them, of megabytes) are lent to the document, not copied.
        Json::Value document = board_;
        struct Lent {
            Json::Value& from;
            Json::Value& to;
            ~Lent() { to.swap(from); }
        } lent{elements_, document["elements"]};
        lent.to.swap(lent.from);
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        // Every number came from a float written shortest, which 15 digits reproduce exactly.
        writer["precision"] = 15;
        std::ostringstream written;
        std::unique_ptr<Json::StreamWriter>(writer.newStreamWriter())->write(document, &written);
        const std::string json = std::move(written).str();
        char* out = static_cast<char*>(std::malloc(json.size() + 1));
        if (out == nullptr) return nullptr;
        std::memcpy(out, json.c_str(), json.size() + 1);
        handedOut_.insert(out);
        return out;
    }

    // True when the text was handed out and not yet given back; it is then freed.
    bool takeBack(char* text) {
        if (text == nullptr || handedOut_.erase(text) == 0) return false;
        std::free(text);
        return true;
    }

private:
    Canvas() = default;

    std::once_flag traceOpened_;
    kvsim::TraceWriter trace_{"canvas"};
    std::mutex mutex_;
    bool hasBoard_ = false;
    Json::Value board_;
    Json::Value elements_{Json::arrayValue};
    std::set<char*> handedOut_;
};

}  // namespace

extern "C" {

KV_SIM_EXPORT int32_t InitDrawingBoard(float width, float height, int32_t rotate, const char* const* fontFiles,
                                       int32_t count) {
    Json::Value files(Json::arrayValue);
    for (int32_t i = 0; fontFiles != nullptr && i < count; ++i) files.append(text(fontFiles[i]));
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("InitDrawingBoard",
                            list({number(width), number(height), rotate, fontFiles != nullptr ? files : Json::Value(),
                                  count}));
    canvas.startBoard(width, height, rotate, fontFiles, count);
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableText(float x, float y, float width, float height, const char* value,
                                    const char* fontFamily, float fontSize, int32_t rotate,
                                    int32_t textAlignHorizonral, int32_t textAlignVertical, int32_t lineMode,
                                    float letterSpacing, float lineSpacing, const bool* fontStyle,
                                    int32_t lineBreakMode) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableText",
                            list({number(x), number(y), number(width), number(height), text(value), text(fontFamily),
                                  number(fontSize), rotate, textAlignHorizonral, textAlignVertical, lineMode,
                                  number(letterSpacing), number(lineSpacing), styleFlags(fontStyle),
                                  lineBreakMode}));
    Json::Value e = Canvas::element("text", x, y, width, height, rotate);
    put(e, "value", labelText(value));
    put(e, "fontFamily", labelText(fontFamily));
    e["fontSize"] = number(fontSize);
    e["textAlignHorizonral"] = textAlignHorizonral;
    e["textAlignVertical"] = textAlignVertical;
    e["lineMode"] = lineMode;
    e["letterSpacing"] = number(letterSpacing);
    e["lineSpacing"] = number(lineSpacing);
    put(e, "fontStyle", styleFlags(fontStyle));
    e["lineBreakMode"] = lineBreakMode;
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableBarCode(float x, float y, float width, float height, int32_t codeType,
                                       const char* value, float fontSize, int32_t rotate, float textHeight,
                                       int32_t textPosition) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableBarCode",
                            list({number(x), number(y), number(width), number(height), codeType, text(value),
                                  number(fontSize), rotate, number(textHeight), textPosition}));
    Json::Value e = Canvas::element("barcode", x, y, width, height, rotate);
    e["codeType"] = codeType;
    put(e, "value", labelText(value));
    e["fontSize"] = number(fontSize);
    e["textHeight"] = number(textHeight);
    e["textPosition"] = textPosition;
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableQrCode(float x, float y, float width, float height, const char* value,
                                      int32_t codeType, int32_t rotate) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableQrCode", list({number(x), number(y), number(width), number(height),
                                                     text(value), codeType, rotate}));
    Json::Value e = Canvas::element("qrcode", x, y, width, height, rotate);
    put(e, "value", labelText(value));
    e["codeType"] = codeType;
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableQrCodeWithImage(float x, float y, float width, float height, const char* value,
                                               int32_t codeType, int32_t rotate, int32_t correctLevel,
                                               const char* logoBase64, int32_t logoPosition, float logoScale) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableQrCodeWithImage",
                            list({number(x), number(y), number(width), number(height), text(value), codeType, rotate,
                                  correctLevel, text(logoBase64), logoPosition, number(logoScale)}));
    Json::Value e = Canvas::element("qrcode", x, y, width, height, rotate);
    put(e, "value", labelText(value));
    e["codeType"] = codeType;
    e["correctLevel"] = correctLevel;
    put(e, "logoBase64", labelText(logoBase64));
    e["logoPosition"] = logoPosition;
    e["logoScale"] = number(logoScale);
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableLine(float x, float y, float width, float height, int32_t rotate, int32_t lineType,
                                    const float* dashPatternValues) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableLine", list({number(x), number(y), number(width), number(height), rotate,
                                                   lineType, dashPattern(dashPatternValues)}));
    Json::Value e = Canvas::element("line", x, y, width, height, rotate);
    e["lineType"] = lineType;
    put(e, "dash", dashPattern(dashPatternValues));
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableGraph(float x, float y, float width, float height, int32_t graphType, int32_t rotate,
                                     float cornerRadius, float lineWidth, int32_t lineType,
                                     const float* dashPatternValues) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("DrawLableGraph",
                            list({number(x), number(y), number(width), number(height), graphType, rotate,
                                  number(cornerRadius), number(lineWidth), lineType, dashPattern(dashPatternValues)}));
    Json::Value e = Canvas::element("graph", x, y, width, height, rotate);
    e["graphType"] = graphType;
    e["cornerRadius"] = number(cornerRadius);
    e["lineWidth"] = number(lineWidth);
    e["lineType"] = lineType;
    put(e, "dash", dashPattern(dashPatternValues));
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT int32_t DrawLableImage(const char* imageData, float x, float y, float width, float height,
                                     int32_t rotate, int32_t mode, float imageProcessingValue) {
    Canvas& canvas = Canvas::instance();
    // A picture may be megabytes: it is copied once, for the trace line and then for the element.
    Json::Value args(Json::arrayValue);
    args.append(text(imageData));
    for (const Json::Value& v : {number(x), number(y), number(width), number(height), Json::Value(rotate),
                                 Json::Value(mode), number(imageProcessingValue)}) {
        args.append(v);
    }
    auto lock = canvas.call("DrawLableImage", args);
    Json::Value e = Canvas::element("image", x, y, width, height, rotate);
    // A picture's base64 is valid text: it moves from the trace line into the element uncopied.
    if (imageData != nullptr && platform::isValidUtf8(imageData)) {
        e["imageData"].swap(args[0]);
    } else {
        put(e, "imageData", labelText(imageData));
    }
    e["mode"] = mode;
    e["imageProcessingValue"] = number(imageProcessingValue);
    canvas.add(std::move(e));
    return 0;
}

KV_SIM_EXPORT char* GenerateLableJson() {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.call("GenerateLableJson", Json::Value(Json::arrayValue));
    return canvas.label();
}

KV_SIM_EXPORT void freeImageData(void* data) {
    // Nothing of this library is image data; the call is only traced.
    auto lock = Canvas::instance().call("freeImageData", list({data != nullptr}));
}

KV_SIM_EXPORT void freeData(char* labelJson) {
    Canvas& canvas = Canvas::instance();
    auto lock = canvas.lock();
    // The trace tells whether the text was one this library handed out and had not taken back.
    const bool ours = canvas.takeBack(labelJson);
    canvas.trace("freeData", list({ours}));
}

}  // extern "C"
