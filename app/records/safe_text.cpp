#include "app/records/safe_text.h"

#include <nlohmann/json.hpp>

namespace zq {

namespace {

void makeValid(nlohmann::ordered_json& value) {
    if (value.is_string()) {
        value = validUtf8(value.get_ref<const std::string&>());
    } else if (value.is_structured()) {
        for (nlohmann::ordered_json& item : value) {
            makeValid(item);
        }
    }
}

}  // namespace

std::string jsonText(nlohmann::ordered_json document, int indent) {
    makeValid(document);
    return document.dump(indent);
}

}  // namespace zq
