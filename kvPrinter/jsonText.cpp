#include "kvPrinter/jsonText.h"

#include <string_view>

#include "platform/utf8.h"

namespace {

std::string_view stringOf(const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.getString(&begin, &end)) return {};
    return {begin, static_cast<size_t>(end - begin)};
}

std::string_view memberNameOf(const Json::Value::const_iterator& member) {
    const char* end = nullptr;
    const char* begin = member.memberName(&end);
    return {begin, static_cast<size_t>(end - begin)};
}

// Reads the strings where they lie: a request of megabytes is not copied to be looked at.
bool isValidThroughout(const Json::Value& value) {
    switch (value.type()) {
        case Json::stringValue:
            return platform::isValidUtf8(stringOf(value));
        case Json::arrayValue:
            for (const Json::Value& item : value) {
                if (!isValidThroughout(item)) return false;
            }
            return true;
        case Json::objectValue:
            for (auto member = value.begin(); member != value.end(); ++member) {
                if (!platform::isValidUtf8(memberNameOf(member)) || !isValidThroughout(*member)) return false;
            }
            return true;
        default:
            return true;
    }
}

Json::Value repaired(const Json::Value& value) {
    switch (value.type()) {
        case Json::stringValue:
            return Json::Value(platform::validUtf8(stringOf(value)));
        case Json::arrayValue: {
            Json::Value out(Json::arrayValue);
            for (const Json::Value& item : value) out.append(repaired(item));
            return out;
        }
        case Json::objectValue: {
            Json::Value out(Json::objectValue);
            for (auto member = value.begin(); member != value.end(); ++member) {
                out[platform::validUtf8(memberNameOf(member))] = repaired(*member);
            }
            return out;
        }
        default:
            return value;
    }
}

}  // namespace

std::string compactJson(const Json::Value& value) {
    if (isValidThroughout(value)) return Json::FastWriter().write(value);
    return Json::FastWriter().write(repaired(value));
}
