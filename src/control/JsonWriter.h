#pragma once
#include <cstdint>
#include <string>

// A small JSON writer for quillonctl's reports: one line, members in the order they
// are added, no spaces. Strings are escaped as JsonString says.

// A text as a JSON string, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

// Members of one JSON object, in the order they are added; Raw takes a value that
// is JSON already (an object, an array, null).
class JsonObject {
public:
    JsonObject& Raw(const char* name, const std::string& json)
    {
        Text += (Text.empty() ? "{" : ",") + JsonString(name) + ":" + json;
        return *this;
    }
    JsonObject& Str(const char* name, const std::string& value) { return Raw(name, JsonString(value)); }
    JsonObject& Num(const char* name, int64_t value) { return Raw(name, std::to_string(value)); }
    JsonObject& Unsigned(const char* name, uint64_t value) { return Raw(name, std::to_string(value)); }
    JsonObject& Bool(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    std::string Close() const { return Text.empty() ? "{}" : Text + "}"; }

private:
    std::string Text;
};

// The items as a JSON array, each written by `write` (its JSON text).
template <class Items, class Write>
std::string JsonArray(const Items& items, Write&& write)
{
    std::string text = "[";
    for (const auto& item : items)
        text += (text.size() > 1 ? "," : "") + write(item);
    return text + "]";
}
