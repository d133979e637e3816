#pragma once

#include <string_view>
#include <vector>

// The values of every header field with this name (ASCII case ignored) in a header block (the
// bytes before the first empty line, THttpRequest::HeaderBlock): its lines after the first one.
// Values lose the spaces and tabs around them. A line that does not hold "name:" with no space
// before the colon names no field.
std::vector<std::string_view> HeaderValues(std::string_view headerBlock, std::string_view name);

// The value of the first form field with this name among the fields of the body that come
// before the json_data field, still percent-encoded; found is false when there is none.
struct TFormField {
    bool Found = false;
    std::string_view Value;
};

TFormField FormFieldBeforeJsonData(std::string_view body, std::string_view name);
