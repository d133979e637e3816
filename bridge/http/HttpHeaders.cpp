#include "HttpHeaders.h"

#include "AsciiCase.h"
#include "Blanks.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kJsonDataField = "json_data";

}  // namespace

std::vector<std::string_view> HeaderValues(std::string_view headerBlock, std::string_view name) {
    std::vector<std::string_view> values;
    std::string_view block = headerBlock;
    const size_t firstLineEnd = block.find(kLineEnd);
    if (firstLineEnd == std::string_view::npos) {
        return values;
    }
    block.remove_prefix(firstLineEnd + kLineEnd.size());
    while (!block.empty()) {
        const size_t end = block.find(kLineEnd);
        const std::string_view line = block.substr(0, end);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + kLineEnd.size());
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsIgnoringAsciiCase(line.substr(0, colon), name)) {
            values.push_back(TrimBlanks(line.substr(colon + 1)));
        }
    }
    return values;
}

TFormField FormFieldBeforeJsonData(std::string_view body, std::string_view name) {
    while (!body.empty()) {
        const size_t end = body.find('&');
        const std::string_view field = body.substr(0, end);
        body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
        const size_t equals = field.find('=');
        const std::string_view fieldName = field.substr(0, equals);
        if (fieldName == kJsonDataField) {
            break;
        }
        if (fieldName == name && equals != std::string_view::npos) {
            return {true, field.substr(equals + 1)};
        }
    }
    return {};
}
