// The drawing bridge: its life, the draw dispatch, the answer builder and the value readers.
#include "kvImageGallery/kvPrinterSdkThirdApi.h"

#include <glog/logging.h>

#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"

kvPrinterSdkThirdApi::kvPrinterSdkThirdApi() = default;

kvPrinterSdkThirdApi::~kvPrinterSdkThirdApi() {
    if (libraryApi) {
        libraryApi->unloadThirdLibrary();
        libraryApi.reset();
    }
}

void kvPrinterSdkThirdApi::loadLibrary() {
    if (libraryApi) return;
    auto table = std::make_unique<ThirdLibraryApi>();
    // A failed load has already released what it loaded; no half-filled table is kept.
    if (table->loadThirdLibrary()) libraryApi = std::move(table);
}

std::string kvPrinterSdkThirdApi::callDrawApi(std::string request) {
    Json::Value root;
    Json::Reader reader(Json::Features::strictMode());
    try {
        if (!reader.parse(request.data(), request.data() + request.size(), root)) return {};
    } catch (const Json::Exception&) {
        // Nesting deeper than the reader's stack limit: a text it cannot read, as above.
        return {};
    }
    return answerDrawRequest(root);
}

std::string kvPrinterSdkThirdApi::answerDrawRequest(const Json::Value& root) {
    // An array root, or an "apiName" that is an array or an object, throws here; the service
    // logs it and dispatches the request itself.
    const Json::Value& apiName = root["apiName"];
    const std::string name = apiName.isNull() ? std::string() : apiName.asString();

    using Handler = std::string (kvPrinterSdkThirdApi::*)(const Json::Value&);
    // Matched as substrings in this order: the longer QR name must come before the shorter one.
    static const struct {
        const char* text;
        Handler handler;
    } kHandlers[] = {
        {"InitDrawingBoard", &kvPrinterSdkThirdApi::InitDrawingBoard},
        {"DrawLableText", &kvPrinterSdkThirdApi::DrawLableText},
        {"DrawLableBarCode", &kvPrinterSdkThirdApi::DrawLableBarCode},
        {"DrawLableQrCodeWithImage", &kvPrinterSdkThirdApi::DrawLableQrCodeWithImage},
        {"DrawLableQrCode", &kvPrinterSdkThirdApi::DrawLableQrCode},
        {"DrawLableLine", &kvPrinterSdkThirdApi::DrawLableLine},
        {"DrawLableGraph", &kvPrinterSdkThirdApi::DrawLableGraph},
        {"DrawLableImage", &kvPrinterSdkThirdApi::DrawLableImage},
        {"generateImagePreviewImage", &kvPrinterSdkThirdApi::generateImagePreviewImage},
        {"setFont", &kvPrinterSdkThirdApi::setFont},
        {"setLineBreakMode", &kvPrinterSdkThirdApi::setLineBreakMode},
    };
    for (const auto& entry : kHandlers) {
        if (name.find(entry.text) != std::string::npos) return (this->*entry.handler)(root);
    }
    return {};
}

std::string kvPrinterSdkThirdApi::makeResult(std::string apiName, int result, std::string info, int errorCode) {
    // The same envelope, and the same log line, as every answer of the service.
    return cKvPrinterService::makeResult(std::move(apiName), result, std::move(info), errorCode);
}

bool kvPrinterSdkThirdApi::getJsonDouble(const Json::Value& value, double& out) {
    if (value.isNull()) return false;
    const Json::ValueType type = value.type();
    if (type == Json::intValue || type == Json::uintValue || type == Json::realValue) {
        out = value.asDouble();
        return true;
    }
    out = -2.0;
    return false;
}

bool kvPrinterSdkThirdApi::getJsonInt(const Json::Value& value, int& out) {
    return readWholeIntOrMinusTwo(value, out);
}

bool kvPrinterSdkThirdApi::getJsonString(const Json::Value& value, std::string& out) {
    if (value.isNull()) return false;
    if (value.isString()) {
        out = value.asString();
        return true;
    }
    out = std::string(1, static_cast<char>(-2));
    return false;
}
