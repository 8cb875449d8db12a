#include "simulator/renderer/label.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace kvrender {

namespace {

const Json::Value* member(const Json::Value& object, const char* key) {
    if (!object.isObject()) return nullptr;
    return object.find(key, key + std::char_traits<char>::length(key));
}

// Numbers that jsoncpp read as out of range come back as infinities; they count as missing.
std::optional<double> numberOf(const Json::Value* value) {
    if (value == nullptr || !value->isDouble()) return std::nullopt;
    const double number = value->asDouble();
    if (!std::isfinite(number)) return std::nullopt;
    return number;
}

Dash readDash(const Json::Value& object) {
    Dash dash;
    const Json::Value* list = member(object, "dash");
    if (list == nullptr || !list->isArray()) return dash;
    if (list->size() > 0) dash.dash = numberOf(&(*list)[0]).value_or(0.0);
    if (list->size() > 1) dash.gap = numberOf(&(*list)[1]).value_or(0.0);
    return dash;
}

TextElement readText(const Json::Value& object) {
    TextElement text;
    text.value = readString(object, "value", "");
    text.fontFamily = readString(object, "fontFamily", "");
    text.fontSize = readNumber(object, "fontSize", 0.0);
    text.alignHorizontal = readInteger(object, "textAlignHorizonral", 0);
    text.alignVertical = readInteger(object, "textAlignVertical", 0);
    text.lineMode = readInteger(object, "lineMode", 0);
    text.letterSpacing = readNumber(object, "letterSpacing", 0.0);
    text.lineSpacing = readNumber(object, "lineSpacing", 0.0);
    text.lineBreakMode = readInteger(object, "lineBreakMode", 1);
    const Json::Value* style = member(object, "fontStyle");
    if (style != nullptr && style->isArray()) {
        bool* flags[4] = {&text.bold, &text.italic, &text.underline, &text.strikeThrough};
        for (Json::ArrayIndex i = 0; i < 4 && i < style->size(); ++i) {
            const Json::Value& flag = (*style)[i];
            *flags[i] = flag.isBool() && flag.asBool();
        }
    }
    return text;
}

BarcodeElement readBarcode(const Json::Value& object) {
    BarcodeElement code;
    code.codeType = readInteger(object, "codeType", 20);
    if (code.codeType == 0) code.codeType = 20;
    code.value = readString(object, "value", "");
    code.fontSize = readNumber(object, "fontSize", 0.0);
    code.textHeight = readNumber(object, "textHeight", 0.0);
    code.textPosition = readInteger(object, "textPosition", 0);
    return code;
}

QrcodeElement readQrcode(const Json::Value& object) {
    QrcodeElement code;
    code.codeType = readInteger(object, "codeType", 58);
    if (code.codeType == 0) code.codeType = 58;
    code.value = readString(object, "value", "");
    code.correctLevel = readInteger(object, "correctLevel", 2);
    const Json::Value* logo = member(object, "logoBase64");
    if (logo != nullptr && logo->isString()) code.logoBase64 = logo->asString();
    code.logoPosition = readInteger(object, "logoPosition", 0);
    code.logoScale = readNumber(object, "logoScale", 0.2);
    return code;
}

LineElement readLine(const Json::Value& object) {
    LineElement line;
    line.lineType = readInteger(object, "lineType", 0);
    line.dash = readDash(object);
    return line;
}

GraphElement readGraph(const Json::Value& object) {
    GraphElement graph;
    graph.graphType = readInteger(object, "graphType", 1);
    if (graph.graphType == 0) graph.graphType = 1;
    graph.cornerRadius = readNumber(object, "cornerRadius", 0.0);
    graph.lineWidth = readNumber(object, "lineWidth", 0.0);
    graph.lineType = readInteger(object, "lineType", 0);
    graph.dash = readDash(object);
    return graph;
}

ImageElement readImage(const Json::Value& object) {
    ImageElement image;
    image.imageData = readString(object, "imageData", "");
    image.mode = readInteger(object, "mode", 1);
    image.threshold = readNumber(object, "imageProcessingValue", 127.0);
    return image;
}

}  // namespace

double readNumber(const Json::Value& object, const char* key, double fallback) {
    return numberOf(member(object, key)).value_or(fallback);
}

int readInteger(const Json::Value& object, const char* key, int fallback) {
    const std::optional<double> number = numberOf(member(object, key));
    if (!number || std::trunc(*number) != *number) return fallback;
    if (*number < std::numeric_limits<int32_t>::min() || *number > std::numeric_limits<int32_t>::max()) {
        return fallback;
    }
    return static_cast<int>(*number);
}

std::string readString(const Json::Value& object, const char* key, const std::string& fallback) {
    const Json::Value* value = member(object, key);
    if (value == nullptr || !value->isString()) return fallback;
    return value->asString();
}

Element readElement(const Json::Value& object) {
    Element element;
    element.box.x = readNumber(object, "x", 0.0);
    element.box.y = readNumber(object, "y", 0.0);
    element.box.width = readNumber(object, "width", 0.0);
    element.box.height = readNumber(object, "height", 0.0);
    element.box.rotate = readInteger(object, "rotate", 0);
    const std::string type = readString(object, "type", "");
    if (type == "text") {
        element.content = readText(object);
    } else if (type == "barcode") {
        element.content = readBarcode(object);
    } else if (type == "qrcode") {
        element.content = readQrcode(object);
    } else if (type == "line") {
        element.content = readLine(object);
    } else if (type == "graph") {
        element.content = readGraph(object);
    } else if (type == "image") {
        element.content = readImage(object);
    } else {
        element.content = UnknownElement{type};
    }
    return element;
}

std::optional<Json::Value> parseObject(std::string_view text) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    // The reader throws on nesting deeper than its stack limit; that text is no object either.
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!root.isObject()) return std::nullopt;
    return root;
}

std::optional<Label> readLabel(std::string_view text) {
    const std::optional<Json::Value> parsed = parseObject(text);
    if (!parsed) return std::nullopt;
    const Json::Value& root = *parsed;

    Label label;
    label.width = readNumber(root, "width", 0.0);
    label.height = readNumber(root, "height", 0.0);
    label.rotate = readInteger(root, "rotate", 0);
    const Json::Value* fontFiles = member(root, "fontFiles");
    if (fontFiles != nullptr && fontFiles->isArray()) {
        for (const Json::Value& file : *fontFiles) {
            if (file.isString()) label.fontFiles.push_back(file.asString());
        }
    }
    const Json::Value* strict = member(root, "strict");
    label.strict = strict != nullptr && strict->isBool() && strict->asBool();
    const Json::Value* elements = member(root, "elements");
    if (elements != nullptr && elements->isArray()) {
        for (const Json::Value& object : *elements) {
            // An entry that is no object is no element: it draws nothing.
            label.elements.push_back(object.isObject() ? readElement(object) : Element{});
        }
    }
    return label;
}

}  // namespace kvrender
