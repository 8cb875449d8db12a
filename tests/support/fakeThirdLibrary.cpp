#include "tests/support/fakeThirdLibrary.h"

#include <cstdlib>
#include <cstring>

namespace {

FakeThirdLibrary& fake() { return FakeThirdLibrary::instance(); }

Json::Value list() { return Json::Value(Json::arrayValue); }

char* fakeGenerateLableJson() {
    fake().record("GenerateLableJson", list());
    if (!fake().hasLabel) return nullptr;
    char* text = static_cast<char*>(std::malloc(fake().label.size() + 1));
    std::memcpy(text, fake().label.c_str(), fake().label.size() + 1);
    ++fake().outstanding;
    return text;
}

void fakeFreeData(char* text) {
    Json::Value args = list();
    args.append(text != nullptr);
    fake().record("freeData", args);
    if (text != nullptr) {
        --fake().outstanding;
        std::free(text);
    }
}

RenderedImage* fakeGenerateData(const char* labelJson, int32_t mode, float printerScale, float outputScale,
                                const float* margin, void* zeroBlock, int32_t orientation, const int32_t* colour) {
    Json::Value args = list();
    args.append(labelJson != nullptr ? labelJson : "");
    args.append(mode);
    args.append(printerScale);
    args.append(outputScale);
    Json::Value margins = list();
    for (int i = 0; i < 4; ++i) margins.append(margin != nullptr ? margin[i] : -1.0f);
    args.append(margins);
    bool zeros = zeroBlock != nullptr;
    for (int i = 0; zeros && i < 8; ++i) zeros = static_cast<unsigned char*>(zeroBlock)[i] == 0;
    args.append(zeros);
    args.append(orientation);
    Json::Value colours = list();
    for (int i = 0; i < 4; ++i) colours.append(colour != nullptr ? colour[i] : -1);
    args.append(colours);
    fake().record("generateDataFromPrintJson", args);
    if (!fake().renders) return nullptr;
    auto* image = new RenderedImage{};
    image->width = fake().pageWidth;
    image->height = fake().pageHeight;
    image->size = (image->width + 7) / 8 * image->height;
    image->data = static_cast<unsigned char*>(std::calloc(image->size > 0 ? image->size : 1, 1));
    ++fake().outstanding;
    return image;
}

void fakeVFree(RenderedImage* image) {
    Json::Value args = list();
    args.append(image != nullptr);
    fake().record("vFree", args);
    if (image == nullptr) return;
    --fake().outstanding;
    std::free(image->data);
    delete image;
}

int32_t fakeInitDrawingBoard(float width, float height, int32_t rotate, const char* const* fontFiles, int32_t count) {
    Json::Value args = list();
    args.append(width);
    args.append(height);
    args.append(rotate);
    args.append(fontFiles != nullptr && fontFiles[0] != nullptr ? fontFiles[0] : "");
    args.append(count);
    fake().record("InitDrawingBoard", args);
    return 0;
}

int32_t fakeDrawLableImage(const char* imageData, float x, float y, float width, float height, int32_t rotate,
                           int32_t mode, float imageProcessingValue) {
    Json::Value args = list();
    args.append(imageData != nullptr ? imageData : "");
    args.append(x);
    args.append(y);
    args.append(width);
    args.append(height);
    args.append(rotate);
    args.append(mode);
    args.append(imageProcessingValue);
    fake().record("DrawLableImage", args);
    return 0;
}

}  // namespace

FakeThirdLibrary& FakeThirdLibrary::instance() {
    static FakeThirdLibrary library;
    return library;
}

std::unique_ptr<ThirdLibraryApi> FakeThirdLibrary::makeTable() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    hasLabel = false;
    label.clear();
    renders = true;
    pageWidth = 400;
    pageHeight = 240;
    outstanding = 0;
    auto table = std::make_unique<ThirdLibraryApi>();
    table->GenerateLableJson = &fakeGenerateLableJson;
    table->freeData = &fakeFreeData;
    table->generateDataFromPrintJson = &fakeGenerateData;
    table->vFree = &fakeVFree;
    table->InitDrawingBoard = &fakeInitDrawingBoard;
    table->DrawLableImage = &fakeDrawLableImage;
    return table;
}

void FakeThirdLibrary::record(const std::string& name, Json::Value args) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({name, std::move(args)});
}

std::vector<FakeThirdCall> FakeThirdLibrary::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

int FakeThirdLibrary::callCount(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const FakeThirdCall& c : calls_) n += c.name == name ? 1 : 0;
    return n;
}

Json::Value FakeThirdLibrary::lastArgs(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->name == name) return it->args;
    }
    return Json::Value();
}

bool FakeThirdLibrary::allGivenBack() const { return outstanding == 0; }
