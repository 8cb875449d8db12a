// The service's one way of writing JSON text: what it hands to clients and to the renderer.
#pragma once

#include <json/json.h>

#include <string>

// The value as Json::FastWriter writes it, byte for byte, except that every string that is not
// valid UTF-8 (keys too) is written as platform::validUtf8 repairs it. The writer's own escaping
// trusts a lead byte for the length of its character, so a faulty one would swallow the bytes
// after it. The value is copied only when a string needs the repair.
std::string compactJson(const Json::Value& value);
