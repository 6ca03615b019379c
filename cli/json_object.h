#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// One JSON object, built field by field in the order given. Strings are
// taken as bytes and escaped as jsonString() does.
class JsonObject {
  public:
    void addString(const char* key, const std::string& bytes);
    void addNumber(const char* key, int64_t value);
    void addSeconds(const char* key, double seconds);
    void addBool(const char* key, bool value);
    void addNull(const char* key);
    void addStrings(const char* key, const std::vector<std::string>& items);
    void addObject(const char* key, const JsonObject& object);
    void addObjects(const char* key, const std::vector<JsonObject>& objects);

    // The object on one line.
    std::string text() const { return "{" + m_fields + "}"; }

  private:
    void addRaw(const char* key, const std::string& json);

    std::string m_fields;
};

}  // namespace morvane
