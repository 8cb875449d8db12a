// Requests and answers that integration tests of the network side use: operations that are
// answered whatever else has been built.
#pragma once

#include <json/json.h>

#include <string>

namespace kvtest {

inline std::string requestFor(const std::string& apiName) {
    return "{\"apiName\":\"" + apiName + "\"}";
}

// The answer to a name that no operation has.
inline std::string noInterfaceAnswer(const std::string& apiName) {
    return "{\"apiName\":\"" + apiName + "\",\"resultAck\":{\"errorCode\":-3,\"info\":\"no this interface\","
           "\"result\":-1}}\n";
}

// "pausePrint" while no printer is connected (the simulated SDK answers -4).
inline const std::string kPausePrintAnswer =
    "{\"apiName\":\"pausePrint\",\"resultAck\":{\"errorCode\":-4,\"info\":\"printer disconnect\",\"result\":-1}}\n";

// The "apiName" of an answer text, or empty.
inline std::string apiNameOf(const std::string& answer) {
    Json::Value root;
    if (!Json::Reader().parse(answer, root) || !root.isObject()) return {};
    return root["apiName"].asString();
}

}  // namespace kvtest
