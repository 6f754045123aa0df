#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/JsonReader.h"

namespace {

using Tavo::ParseJson;

struct Row {
    std::string json;
    std::string message;
};

void ExpectFails(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json.substr(0, 40));
        Tavo::BindingResult result = ParseJson(row.json);
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage(), row.message);
        // Whatever was built is gone: the value is just {"error": message}.
        EXPECT_EQ(result.Value().Size(), 1u);
        EXPECT_EQ(result.Value().Find("error").GetString(), row.message);
    }
}

TEST(JsonReaderError, ReportsTheReadersTextAtItsByteOffset) {
    ExpectFails({
        // Values.
        {"[1,]", "Error: Invalid value. at offset 3."},
        {"nul", "Error: Invalid value. at offset 3."},
        {"NaN", "Error: Invalid value. at offset 0."},
        {"[Infinity]", "Error: Invalid value. at offset 1."},
        {"// note\n1", "Error: Invalid value. at offset 0."},
        {"'a'", "Error: Invalid value. at offset 0."},
        // Objects.
        {"{1:2}", "Error: Missing a name for object member. at offset 1."},
        {R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5."},
        {R"({"a":1 "b":2})", "Error: Missing a comma or '}' after an object member. at offset 7."},
        {R"({"a":1,})", "Error: Missing a name for object member. at offset 7."},
        // Arrays.
        {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
        {"[1,2", "Error: Missing a comma or ']' after an array element. at offset 4."},
        // Strings.
        {R"("\u12G4")", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
        {R"("\ud800")", "Error: The surrogate pair in string is invalid. at offset 1."},
        {R"("\ud800\u0041")", "Error: The surrogate pair in string is invalid. at offset 1."},
        {R"("\x")", "Error: Invalid escape character in string. at offset 1."},
        {R"("abc)", "Error: Missing a closing quotation mark in string. at offset 4."},
        {"\"a\tb\"", "Error: Invalid escape character in string. at offset 2."},
        // Numbers.
        {"1e400", "Error: Number too big to be stored in double. at offset 0."},
        // Beyond double but let through by the tokenizer: refused all the same.
        {"[1, 31348623157e308]", "Error: Number too big to be stored in double. at offset 4."},
        {"{\"a\":-2e308}", "Error: Number too big to be stored in double. at offset 5."},
        {"1.8e308", "Error: Number too big to be stored in double. at offset 0."},
        {"1.", "Error: Miss fraction part in number. at offset 2."},
        {"1e", "Error: Miss exponent in number. at offset 2."},
        {"-", "Error: Invalid value. at offset 1."},
    });
}

TEST(JsonReaderError, RejectsCharactersAfterTheRootValueAtTheirOffset) {
    ExpectFails({
        {"{} x", "Error: The document root must not follow by other values. at offset 3."},
        {"1 2", "Error: The document root must not follow by other values. at offset 2."},
        {"[]\n\n]", "Error: The document root must not follow by other values. at offset 4."},
        {"null null", "Error: The document root must not follow by other values. at offset 5."},
    });
}

TEST(JsonReaderError, RejectsNestingBeyondTheLimitAtTheBracketTooMany) {
    const std::size_t limit = Tavo::kMaxJsonDepth;
    std::string objects;
    for (std::size_t i = 0; i <= limit; ++i) {
        objects += R"({"a":)";
    }
    const std::string objectOffset = std::to_string(limit * 5);
    ExpectFails({
        {std::string(limit + 1, '['), "Error: Nesting deeper than 1000 levels. at offset 1000."},
        {std::string(limit + 1, '[') + std::string(limit + 1, ']'),
         "Error: Nesting deeper than 1000 levels. at offset 1000."},
        {" " + std::string(100000, '['), "Error: Nesting deeper than 1000 levels. at offset 1001."},
        {objects, "Error: Nesting deeper than 1000 levels. at offset " + objectOffset + "."},
        {"[" + std::string(limit - 1, '[') + std::string(limit - 1, ']') +
             ",{\"a\":" + std::string(limit, '['),
         "Error: Nesting deeper than 1000 levels. at offset 3003."},
    });
}

}  // namespace
