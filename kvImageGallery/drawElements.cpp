// The label elements: text, barcode, the two QR codes, line, shape and image. Each reads its keys,
// makes one call of its canvas export and answers; the canvas keeps the element.
#include <glog/logging.h>

#include "kvImageGallery/drawHelpers.h"
#include "kvImageGallery/kvPrinterSdkThirdApi.h"

using kvDraw::toFloat;

namespace {

const char* const kNoTable = "please init sdk first!";

// The box that every element has.
struct Box {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;

    explicit Box(const Json::Value& parameter) {
        kvPrinterSdkThirdApi::getJsonDouble(parameter["x"], x);
        kvPrinterSdkThirdApi::getJsonDouble(parameter["y"], y);
        kvPrinterSdkThirdApi::getJsonDouble(parameter["width"], width);
        kvPrinterSdkThirdApi::getJsonDouble(parameter["height"], height);
    }
};

// Four flags only from an array of at least four; an element that is not a boolean is false.
TextStyleFlags readStyleFlags(const Json::Value& fontStyle) {
    TextStyleFlags style;
    if (!fontStyle.isArray() || fontStyle.size() < 4) return style;
    for (Json::ArrayIndex i = 0; i < 4; ++i) {
        style.flags[i] = fontStyle[i].isBool() && fontStyle[i].asBool();
    }
    return style;
}

// The second value starts from the first, so [3] gives 3 and 3.
DashPattern readDashPattern(const Json::Value& dashwidth) {
    DashPattern dash;
    if (!dashwidth.isArray()) return dash;
    double t = 0.0;
    kvPrinterSdkThirdApi::getJsonDouble(dashwidth[0], t);
    dash.values[0] = toFloat(t);
    kvPrinterSdkThirdApi::getJsonDouble(dashwidth[1], t);
    dash.values[1] = toFloat(t);
    return dash;
}

}  // namespace

std::string kvPrinterSdkThirdApi::DrawLableText(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableText begin";
    if (!libraryApi) return makeResult("DrawLableText", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    std::string value, family;
    double fontSize = 0.0, letterSpacing = 0.0, lineSpacing = 0.0;
    int rotate = 0, lineMode = 0, alignHorizontal = 0, alignVertical = 0;
    getJsonString(parameter["value"], value);
    getJsonString(parameter["fontFamily"], family);
    getJsonDouble(parameter["fontSize"], fontSize);
    getJsonInt(parameter["rotate"], rotate);
    getJsonInt(parameter["lineMode"], lineMode);
    getJsonInt(parameter["textAlignHorizonral"], alignHorizontal);
    getJsonInt(parameter["textAlignVertical"], alignVertical);
    getJsonDouble(parameter["letterSpacing"], letterSpacing);
    getJsonDouble(parameter["lineSpacing"], lineSpacing);
    const TextStyleFlags style = readStyleFlags(parameter["fontStyle"]);

    // After any "setFont" its family stands for the request's, even when it is empty.
    const std::string& fontFamilyUsed = useCustomFont ? fontFamily : family;
    libraryApi->DrawLableText(toFloat(box.x), toFloat(box.y), toFloat(box.width), toFloat(box.height),
                              value.c_str(), fontFamilyUsed.c_str(), toFloat(fontSize), rotate,
                              alignHorizontal, alignVertical, lineMode, toFloat(letterSpacing),
                              toFloat(lineSpacing), style.flags, lineBreakMode);

    LOG(INFO) << "[INFO]:" << "DrawLableText end";
    return makeResult("DrawLableText", 0, "DrawLableText success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableBarCode(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableBarCode begin";
    if (!libraryApi) return makeResult("DrawLableBarCode", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    int codeType = 0, rotate = 0, textPosition = 0;
    std::string value;
    double fontSize = 0.0, textHeight = 0.0;
    getJsonInt(parameter["codeType"], codeType);
    getJsonString(parameter["value"], value);
    getJsonInt(parameter["rotate"], rotate);
    getJsonDouble(parameter["fontSize"], fontSize);
    getJsonDouble(parameter["textHeight"], textHeight);
    getJsonInt(parameter["textPosition"], textPosition);

    libraryApi->DrawLableBarCode(toFloat(box.x), toFloat(box.y), toFloat(box.width), toFloat(box.height),
                                 codeType, value.c_str(), toFloat(fontSize), rotate, toFloat(textHeight),
                                 textPosition);

    LOG(INFO) << "[INFO]:" << "DrawLableBarCode end";
    return makeResult("DrawLableBarCode", 0, "DrawLableBarCode success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableQrCode(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableQrCode begin";
    if (!libraryApi) return makeResult("DrawLableQrCode", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    int codeType = 0, rotate = 0;
    std::string value;
    getJsonInt(parameter["codeType"], codeType);
    getJsonString(parameter["value"], value);
    getJsonInt(parameter["rotate"], rotate);

    libraryApi->DrawLableQrCode(toFloat(box.x), toFloat(box.y), toFloat(box.width), toFloat(box.height),
                                value.c_str(), codeType, rotate);

    LOG(INFO) << "[INFO]:" << "DrawLableQrCode end";
    return makeResult("DrawLableQrCode", 0, "DrawLableQrCode success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableQrCodeWithImage(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "kvPrinterSdkThirdApi::DrawLableQrCodeWithImage";
    if (!libraryApi) return makeResult("DrawLableQrCodeWithImage", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    int codeType = 0, rotate = 0, correctLevel = 0, logoPosition = 0;
    std::string value, logoBase64;
    double logoScale = 0.0;
    getJsonInt(parameter["codeType"], codeType);
    getJsonString(parameter["value"], value);
    getJsonInt(parameter["rotate"], rotate);
    getJsonInt(parameter["correctLevel"], correctLevel);
    getJsonString(parameter["logoBase64"], logoBase64);
    getJsonInt(parameter["logoPosition"], logoPosition);
    getJsonDouble(parameter["logoScale"], logoScale);

    // The one export that a canvas library may lack.
    if (libraryApi->DrawLableQrCodeWithImage == nullptr) {
        return makeResult("DrawLableQrCodeWithImage", -1, "DrawLableQrCodeWithImage not support!", -1);
    }
    libraryApi->DrawLableQrCodeWithImage(toFloat(box.x), toFloat(box.y), toFloat(box.width),
                                         toFloat(box.height), value.c_str(), codeType, rotate, correctLevel,
                                         logoBase64.c_str(), logoPosition, toFloat(logoScale));

    LOG(INFO) << "[INFO]:" << "DrawLableQrCodeWithImage end";
    return makeResult("DrawLableQrCodeWithImage", 0, "DrawLableQrCodeWithImage success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableLine(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableLine begin";
    if (!libraryApi) return makeResult("DrawLableLine", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    int rotate = 0, lineType = 0;
    getJsonInt(parameter["rotate"], rotate);
    getJsonInt(parameter["lineType"], lineType);
    const DashPattern dash = readDashPattern(parameter["dashwidth"]);

    LOG(INFO) << "[INFO]:" << "DrawLableLine begin";
    libraryApi->DrawLableLine(toFloat(box.x), toFloat(box.y), toFloat(box.width), toFloat(box.height), rotate,
                              lineType, dash.values);

    LOG(INFO) << "[INFO]:" << "DrawLableLine" << " end";
    return makeResult("DrawLableLine", 0, "draw line success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableGraph(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableGraph begin";
    if (!libraryApi) return makeResult("DrawLableGraph", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    int graphType = 0, lineType = 0;
    double rotate = 0.0, cornerRadius = 0.0, lineWidth = 0.0;
    getJsonInt(parameter["graphType"], graphType);
    getJsonDouble(parameter["rotate"], rotate);
    getJsonDouble(parameter["cornerRadius"], cornerRadius);
    getJsonDouble(parameter["lineWidth"], lineWidth);
    getJsonInt(parameter["lineType"], lineType);
    const DashPattern dash = readDashPattern(parameter["dashwidth"]);

    libraryApi->DrawLableGraph(toFloat(box.x), toFloat(box.y), toFloat(box.width), toFloat(box.height), graphType,
                               kvDraw::truncateToInt(rotate), toFloat(cornerRadius), toFloat(lineWidth), lineType,
                               dash.values);

    LOG(INFO) << "[INFO]:" << "DrawLableGraph" << " end";
    return makeResult("DrawLableGraph", 0, "DrawLableGraph success!", 0);
}

std::string kvPrinterSdkThirdApi::DrawLableImage(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "DrawLableImage begin";
    if (!libraryApi) return makeResult("DrawLableImage", -1, kNoTable, -1);

    const Json::Value& parameter = root["parameter"];
    const Box box(parameter);
    std::string imageData;
    int rotate = 0;
    double imageProcessingValue = 0.0;
    getJsonString(parameter["imageData"], imageData);
    getJsonInt(parameter["rotate"], rotate);
    getJsonDouble(parameter["imageProcessingValue"], imageProcessingValue);

    libraryApi->DrawLableImage(imageData.c_str(), toFloat(box.x), toFloat(box.y), toFloat(box.width),
                               toFloat(box.height), rotate, 1, toFloat(imageProcessingValue));

    LOG(INFO) << "[INFO]:" << "DrawLableImage" << " end";
    return makeResult("DrawLableImage", 0, "DrawLableImage success!", 0);
}
