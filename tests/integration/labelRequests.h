// The requests that draw one typical 50 x 30 mm label element by element: a text, a Code 128
// barcode, a QR code, a line, a rectangle and a picture. Shared by the end-to-end tests and the
// end-to-end benchmarks, so that both handle the same label. No GoogleTest in here.
#pragma once

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/integration/e2eSession.h"

namespace e2e {

constexpr double kLabelWidthMm = 50.0;
constexpr double kLabelHeightMm = 30.0;
inline const std::string kBarcodeValue = "KV-4711";
inline const std::string kQrValue = "https://example.com/item/4711";

// Boxes of the elements in millimetres, so that a test can look for ink where each one lies.
struct BoxMm {
    double x, y, width, height;
};
constexpr BoxMm kTextBox{2, 1, 46, 5};
constexpr BoxMm kBarcodeBox{3, 7, 28, 10};
constexpr BoxMm kQrBox{34, 6, 14, 14};
constexpr BoxMm kLineBox{2, 19, 28, 0.5};
constexpr BoxMm kRectangleBox{2, 21, 28, 8};
constexpr BoxMm kImageBox{38, 23, 8, 6};

inline Json::Value boxParameter(const BoxMm& box) {
    return object({{"x", box.x}, {"y", box.y}, {"width", box.width}, {"height", box.height}, {"rotate", 0}});
}

inline Json::Value boardParameter(int rotate = 0) {
    return object({{"width", kLabelWidthMm}, {"height", kLabelHeightMm}, {"rotate", rotate}, {"path", ""},
                   {"verticalShift", 0}, {"HorizontalShift", 0}});
}

// The element requests, in drawing order; imageBase64 is the picture of the image element.
inline std::vector<std::pair<std::string, Json::Value>> labelElementRequests(const std::string& imageBase64) {
    std::vector<std::pair<std::string, Json::Value>> requests;

    Json::Value text = boxParameter(kTextBox);
    text["value"] = "KV label 4711";
    text["fontFamily"] = "DejaVu Sans";
    text["fontSize"] = 8.0;
    text["textAlignHorizonral"] = 0;
    text["textAlignVertical"] = 0;
    text["lineMode"] = 0;
    text["letterSpacing"] = 0.0;
    text["lineSpacing"] = 0.0;
    text["fontStyle"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < 4; ++i) text["fontStyle"].append(i == 0);
    requests.emplace_back("DrawLableText", text);

    Json::Value barcode = boxParameter(kBarcodeBox);
    barcode["codeType"] = 20;
    barcode["value"] = kBarcodeValue;
    barcode["fontSize"] = 0.0;
    barcode["textHeight"] = 0.0;
    barcode["textPosition"] = 0;
    requests.emplace_back("DrawLableBarCode", barcode);

    Json::Value qr = boxParameter(kQrBox);
    qr["codeType"] = 58;
    qr["value"] = kQrValue;
    requests.emplace_back("DrawLableQrCode", qr);

    Json::Value line = boxParameter(kLineBox);
    line["lineType"] = 0;
    requests.emplace_back("DrawLableLine", line);

    Json::Value rectangle = boxParameter(kRectangleBox);
    rectangle["graphType"] = 1;
    rectangle["lineWidth"] = 0.4;
    rectangle["lineType"] = 0;
    requests.emplace_back("DrawLableGraph", rectangle);

    Json::Value image = boxParameter(kImageBox);
    image["imageData"] = imageBase64;
    image["imageProcessingValue"] = 127.0;
    requests.emplace_back("DrawLableImage", image);
    return requests;
}

// The success answers of the element requests, by name.
inline std::string elementSuccessInfo(const std::string& apiName) {
    if (apiName == "DrawLableLine") return "draw line success!";
    return apiName + " success!";
}

}  // namespace e2e
