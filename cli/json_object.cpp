#include "cli/json_object.h"

#include <cstdio>

#include "cli/text_escape.h"

namespace morvane {

void JsonObject::addRaw(const char* key, const std::string& json) {
    if (!m_fields.empty()) m_fields += ",";
    m_fields += jsonString(key) + ":" + json;
}

void JsonObject::addString(const char* key, const std::string& bytes) {
    addRaw(key, jsonString(bytes));
}

void JsonObject::addNumber(const char* key, int64_t value) {
    addRaw(key, std::to_string(value));
}

void JsonObject::addSeconds(const char* key, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    addRaw(key, text);
}

void JsonObject::addBool(const char* key, bool value) {
    addRaw(key, value ? "true" : "false");
}

void JsonObject::addNull(const char* key) {
    addRaw(key, "null");
}

void JsonObject::addStrings(const char* key, const std::vector<std::string>& items) {
    std::string list = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) list += ",";
        list += jsonString(items[i]);
    }
    addRaw(key, list + "]");
}

void JsonObject::addObject(const char* key, const JsonObject& object) {
    addRaw(key, object.text());
}

void JsonObject::addObjects(const char* key, const std::vector<JsonObject>& objects) {
    std::string list;
    for (const JsonObject& object : objects) list += (list.empty() ? "" : ",") + object.text();
    addRaw(key, "[" + list + "]");
}

}  // namespace morvane
