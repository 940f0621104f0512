// Reading and writing the small JSON files that register J2534 drivers on Linux: one object
// whose members are texts, booleans and numbers.
#pragma once

#include <string>
#include <vector>

struct JsonMember {
    enum class Kind { String, Bool, Number, Null, Nested };
    std::string name;
    Kind kind = Kind::Null;
    std::string text;  // String: the decoded text; Number: as written
    bool flag = false;  // Bool
};

// The members of a document that is one JSON object, in file order. Nested objects and arrays
// are checked and kept as Kind::Nested without their content. False, with a reason, for
// anything that is not well-formed JSON or not an object.
bool ParseJsonObject(const std::string& text, std::vector<JsonMember>* members, std::string* error);
// text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);
