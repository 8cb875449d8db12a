#include "tests/support/fakeThirdLibrary.h"

#include <cstdlib>
#include <cstring>

namespace {

FakeThirdLibrary& fake() { return FakeThirdLibrary::instance(); }

Json::Value num(float value) { return static_cast<double>(value); }
Json::Value text(const char* value) { return value != nullptr ? Json::Value(value) : Json::Value(); }

Json::Value floats(const float* values, int count) {
    if (values == nullptr) return Json::Value();
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < count; ++i) list.append(num(values[i]));
    return list;
}

Json::Value ints(const int32_t* values, int count) {
    if (values == nullptr) return Json::Value();
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < count; ++i) list.append(values[i]);
    return list;
}

template <typename... T>
Json::Value args(const T&... values) {
    Json::Value list(Json::arrayValue);
    (list.append(Json::Value(values)), ...);
    return list;
}

}  // namespace

FakeThirdLibrary& FakeThirdLibrary::instance() {
    static FakeThirdLibrary library;
    return library;
}

void FakeThirdLibrary::reset() {
    calls.clear();
    labelJson.reset();
    imageBytes.reset();
    imageWithoutData = false;
    for (char* t : texts) std::free(t);
    texts.clear();
    for (RenderedImage* image : images) {
        delete[] image->data;
        delete image;
    }
    images.clear();
}

std::vector<std::string> FakeThirdLibrary::callNames() const {
    std::vector<std::string> names;
    for (const FakeLibraryCall& c : calls) names.push_back(c.name);
    return names;
}

int FakeThirdLibrary::callCount(const std::string& name) const {
    int count = 0;
    for (const FakeLibraryCall& c : calls) count += c.name == name ? 1 : 0;
    return count;
}

Json::Value FakeThirdLibrary::lastArgs(const std::string& name) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->name == name) return it->args;
    }
    return Json::Value();
}

std::unique_ptr<ThirdLibraryApi> FakeThirdLibrary::makeTable() {
    fake().reset();
    auto table = std::make_unique<ThirdLibraryApi>();
    ThirdLibraryApi& t = *table;

    // The exports that nothing calls stay empty: a call would crash the test.
    t.initFontsFilePath = [](const char* folder) {
        fake().record("initFontsFilePath", args(text(folder)));
        return 0;
    };
    t.generateDataFromPrintJson = [](const char* label, int32_t mode, float printerScale, float outputScale,
                                     const float* margin, void* zeroBlock, int32_t orientation,
                                     const int32_t* colour) -> RenderedImage* {
        bool zeros = zeroBlock != nullptr;
        for (int i = 0; zeros && i < 8; ++i) zeros = static_cast<const unsigned char*>(zeroBlock)[i] == 0;
        fake().record("generateDataFromPrintJson", args(text(label), mode, num(printerScale), num(outputScale),
                                                        floats(margin, 4), zeros, orientation, ints(colour, 4)));
        if (!fake().imageWithoutData && !fake().imageBytes) return nullptr;
        auto* image = new RenderedImage{nullptr, 0, 7, 5};
        if (!fake().imageWithoutData) {
            const std::string& bytes = *fake().imageBytes;
            image->data = new unsigned char[bytes.size() + 1];
            std::memcpy(image->data, bytes.data(), bytes.size());
            image->size = static_cast<int32_t>(bytes.size());
        }
        fake().images.insert(image);
        return image;
    };
    t.vFree = [](RenderedImage* image) {
        const bool ours = fake().images.erase(image) == 1;
        fake().record("vFree", args(ours));
        if (ours) {
            delete[] image->data;
            delete image;
        }
    };

    t.InitDrawingBoard = [](float width, float height, int32_t rotate, const char* const* fontFiles, int32_t count) {
        Json::Value files(Json::arrayValue);
        for (int32_t i = 0; fontFiles != nullptr && i < count; ++i) files.append(text(fontFiles[i]));
        fake().record("InitDrawingBoard", args(num(width), num(height), rotate, files, count));
        return 0;
    };
    t.DrawLableText = [](float x, float y, float width, float height, const char* value, const char* fontFamily,
                         float fontSize, int32_t rotate, int32_t alignHorizontal, int32_t alignVertical,
                         int32_t lineMode, float letterSpacing, float lineSpacing, const bool* style,
                         int32_t lineBreakMode) {
        Json::Value flags(Json::arrayValue);
        for (int i = 0; i < 4; ++i) flags.append(style[i]);
        fake().record("DrawLableText", args(num(x), num(y), num(width), num(height), text(value), text(fontFamily),
                                            num(fontSize), rotate, alignHorizontal, alignVertical, lineMode,
                                            num(letterSpacing), num(lineSpacing), flags, lineBreakMode));
        return 0;
    };
    t.DrawLableBarCode = [](float x, float y, float width, float height, int32_t codeType, const char* value,
                            float fontSize, int32_t rotate, float textHeight, int32_t textPosition) {
        fake().record("DrawLableBarCode", args(num(x), num(y), num(width), num(height), codeType, text(value),
                                               num(fontSize), rotate, num(textHeight), textPosition));
        return 0;
    };
    t.DrawLableQrCode = [](float x, float y, float width, float height, const char* value, int32_t codeType,
                           int32_t rotate) {
        fake().record("DrawLableQrCode",
                      args(num(x), num(y), num(width), num(height), text(value), codeType, rotate));
        return 0;
    };
    t.DrawLableQrCodeWithImage = [](float x, float y, float width, float height, const char* value, int32_t codeType,
                                    int32_t rotate, int32_t correctLevel, const char* logo, int32_t logoPosition,
                                    float logoScale) {
        fake().record("DrawLableQrCodeWithImage", args(num(x), num(y), num(width), num(height), text(value), codeType,
                                                       rotate, correctLevel, text(logo), logoPosition, num(logoScale)));
        return 0;
    };
    t.DrawLableLine = [](float x, float y, float width, float height, int32_t rotate, int32_t lineType,
                         const float* dash) {
        fake().record("DrawLableLine",
                      args(num(x), num(y), num(width), num(height), rotate, lineType, floats(dash, 2)));
        return 0;
    };
    t.DrawLableGraph = [](float x, float y, float width, float height, int32_t graphType, int32_t rotate,
                          float cornerRadius, float lineWidth, int32_t lineType, const float* dash) {
        fake().record("DrawLableGraph", args(num(x), num(y), num(width), num(height), graphType, rotate,
                                             num(cornerRadius), num(lineWidth), lineType, floats(dash, 2)));
        return 0;
    };
    t.DrawLableImage = [](const char* image, float x, float y, float width, float height, int32_t rotate,
                          int32_t mode, float threshold) {
        fake().record("DrawLableImage",
                      args(text(image), num(x), num(y), num(width), num(height), rotate, mode, num(threshold)));
        return 0;
    };
    t.GenerateLableJson = []() -> char* {
        fake().record("GenerateLableJson", args());
        if (!fake().labelJson) return nullptr;
        char* out = strdup(fake().labelJson->c_str());
        fake().texts.insert(out);
        return out;
    };
    t.freeData = [](char* label) {
        const bool ours = fake().texts.erase(label) == 1;
        fake().record("freeData", args(ours));
        if (ours) std::free(label);
    };
    return table;
}
