// The display configuration file of the POSIX stand-in; portable, so both builds test it.
#include "platform/adapters.h"

#include <json/json.h>

#include <limits>
#include <memory>
#include <optional>

namespace qor::platform {

namespace {

// Decimal or 0x-hexadecimal text of a 32-bit unsigned value, nothing else.
std::optional<uint32_t> ParseUnsignedText(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// Member lookups that never throw: jsoncpp throws on asX() of the wrong type and on
// indexing a value that is not an object.
const Json::Value* Member(const Json::Value& object, const char* name) {
    if (!object.isObject() || !object.isMember(name)) return nullptr;
    return &object[name];
}

std::string TextMember(const Json::Value& object, const char* name) {
    const Json::Value* value = Member(object, name);
    return value != nullptr && value->isString() ? value->asString() : std::string();
}

int32_t IntMember(const Json::Value& object, const char* name) {
    const Json::Value* value = Member(object, name);
    return value != nullptr && value->isInt() ? value->asInt() : 0;
}

std::optional<uint32_t> VendorId(const Json::Value& adapter) {
    const Json::Value* value = Member(adapter, "vendorId");
    if (value == nullptr) return std::nullopt;
    if (value->isUInt()) return value->asUInt();
    if (value->isString()) return ParseUnsignedText(value->asString());
    return std::nullopt;
}

AdapterLuid Luid(const Json::Value& adapter) {
    AdapterLuid luid;
    const Json::Value* value = Member(adapter, "luid");
    if (value == nullptr || !value->isObject()) return luid;
    if (const Json::Value* low = Member(*value, "low"); low != nullptr && low->isUInt()) luid.lowPart = low->asUInt();
    luid.highPart = IntMember(*value, "high");
    return luid;
}

DisplayOutput Output(const Json::Value& object) {
    DisplayOutput output;
    output.deviceName = TextMember(object, "deviceName");
    output.monitorDeviceId = TextMember(object, "monitorId");
    if (const Json::Value* desktop = Member(object, "desktop"); desktop != nullptr && desktop->isObject()) {
        output.desktop = {IntMember(*desktop, "left"), IntMember(*desktop, "top"), IntMember(*desktop, "right"),
                          IntMember(*desktop, "bottom")};
    }
    return output;
}

}  // namespace

bool ParseDisplayConfig(std::string_view text, std::vector<GraphicsAdapter>* adapters) {
    adapters->clear();
    try {
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return false;
        const Json::Value* list = Member(root, "adapters");
        if (list == nullptr || !list->isArray()) return false;
        for (Json::ArrayIndex i = 0; i < list->size(); ++i) {
            const Json::Value& entry = (*list)[i];
            if (!entry.isObject()) continue;
            const auto vendorId = VendorId(entry);
            if (!vendorId) continue;
            GraphicsAdapter adapter;
            adapter.description = TextMember(entry, "description");
            adapter.vendorId = *vendorId;
            adapter.luid = Luid(entry);
            if (const Json::Value* outputs = Member(entry, "outputs"); outputs != nullptr && outputs->isArray()) {
                for (Json::ArrayIndex j = 0; j < outputs->size(); ++j) {
                    if ((*outputs)[j].isObject()) adapter.outputs.push_back(Output((*outputs)[j]));
                }
            }
            adapters->push_back(std::move(adapter));
        }
        return true;
    } catch (...) {
        // Anything jsoncpp still throws (deep nesting, memory) counts as a malformed file.
        adapters->clear();
        return false;
    }
}

}  // namespace qor::platform
