// Strict JSON field readers shared by the login, quota and upload replies.
#include "core/JsonRead.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace _VelmoUpload {

bool JsonParse(const std::string& strBody, Json::Value& root) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string strErrors;
    root = Json::Value();
    try {
        return reader->parse(strBody.data(), strBody.data() + strBody.size(), &root, &strErrors);
    } catch (...) {
        return false;
    }
}

const Json::Value& JsonField(const Json::Value& holder, const char* pKey) {
    static const Json::Value kNull;
    if (holder.isNull())
        return kNull;
    if (!holder.isObject())
        throw JsonTypeError(std::string("not an object around ") + pKey);
    const Json::Value* pFound = holder.find(pKey, pKey + strlen(pKey));
    return pFound ? *pFound : kNull;
}

std::string JsonText(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue:
            return std::string();
        case Json::stringValue:
            return value.asString();
        case Json::booleanValue:
            return value.asBool() ? "true" : "false";
        default:
            throw JsonTypeError("not text");
    }
}

double JsonDouble(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue:
            return 0.0;
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue:
            return value.asDouble();
        case Json::booleanValue:
            return value.asBool() ? 1.0 : 0.0;
        default:
            throw JsonTypeError("not a number");
    }
}

int JsonInt(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue:
            return 0;
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue:
            if (!value.isConvertibleTo(Json::intValue))
                throw JsonTypeError("out of range");
            return value.asInt();
        case Json::booleanValue:
            return value.asBool() ? 1 : 0;
        default:
            throw JsonTypeError("not a number");
    }
}

long long JsonInt64(const Json::Value& value) {
    double fValue = JsonDouble(value);
    if (!(std::fabs(fValue) < 9.2e18))
        throw JsonTypeError("out of range");
    return static_cast<long long>(fValue);
}

bool JsonBool(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue:
            return false;
        case Json::stringValue:
            return !value.asString().empty();
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue:
            return value.asDouble() != 0.0;
        case Json::booleanValue:
            return value.asBool();
        default:
            throw JsonTypeError("not a scalar");
    }
}

}  // namespace _VelmoUpload
