// The XrResult and XrStructureType enumerant names of OpenXR 1.0.17, the header version the
// runtime implements. The installed headers may be newer: their reflection lists give every
// name and the compiler its value, and the 1.0.17 tables (openxr-1.0.17-*.tsv, made into
// NORVIK_LISTED_* by the build) choose which of them the runtime knows.
#include "service/core/xr_names.h"

#include <openxr/openxr.h>
#include <openxr/openxr_reflection.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "xr_names_listed.h"

namespace qor {

namespace {

struct NamedValue {
    int64_t value = 0;
    std::string_view name;
    friend constexpr bool operator==(const NamedValue&, const NamedValue&) = default;
};

#define NORVIK_FROM_HEADER(name, literal) NamedValue {name, #name},
#define NORVIK_FROM_LIST(name, value) NamedValue {value, #name},
constexpr NamedValue kHeaderResults[] = {XR_LIST_ENUM_XrResult(NORVIK_FROM_HEADER)};
constexpr NamedValue kHeaderStructureTypes[] = {XR_LIST_ENUM_XrStructureType(NORVIK_FROM_HEADER)};
constexpr NamedValue kListedResults[] = {NORVIK_LISTED_XrResult(NORVIK_FROM_LIST)};
constexpr NamedValue kListedStructureTypes[] = {NORVIK_LISTED_XrStructureType(NORVIK_FROM_LIST)};
#undef NORVIK_FROM_HEADER
#undef NORVIK_FROM_LIST

template <size_t N>
constexpr bool Listed(const NamedValue (&listed)[N], const NamedValue& entry) {
    return std::find(std::begin(listed), std::end(listed), entry) != std::end(listed);
}

// The header's enumerants found in the list. As header names are unique, this equals the list's
// length only when every listed name is an enumerant with the listed value, each listed once.
template <size_t H, size_t N>
constexpr size_t CountListed(const NamedValue (&header)[H], const NamedValue (&listed)[N]) {
    return std::count_if(std::begin(header), std::end(header),
                         [&](const NamedValue& entry) { return Listed(listed, entry); });
}

// The listed enumerants with the header's names, sorted by value for the look-ups.
template <size_t N, size_t H>
constexpr std::array<NamedValue, N> Table(const NamedValue (&header)[H], const NamedValue (&listed)[N]) {
    std::array<NamedValue, N> table {};
    std::copy_if(std::begin(header), std::end(header), table.begin(),
                 [&](const NamedValue& entry) { return Listed(listed, entry); });
    std::sort(table.begin(), table.end(), [](const NamedValue& a, const NamedValue& b) { return a.value < b.value; });
    return table;
}

static_assert(CountListed(kHeaderResults, kListedResults) == std::size(kListedResults),
              "openxr-1.0.17-results.tsv names a result the OpenXR headers lack, gives it another value, or lists "
              "it twice");
static_assert(CountListed(kHeaderStructureTypes, kListedStructureTypes) == std::size(kListedStructureTypes),
              "openxr-1.0.17-structure-types.tsv names a structure type the OpenXR headers lack, gives it another "
              "value, or lists it twice");

constexpr auto kResultNames = Table(kHeaderResults, kListedResults);
constexpr auto kStructureTypeNames = Table(kHeaderStructureTypes, kListedStructureTypes);

template <size_t N>
const NamedValue* Find(const std::array<NamedValue, N>& table, int64_t value) {
    const auto found = std::lower_bound(table.begin(), table.end(), value,
                                        [](const NamedValue& entry, int64_t wanted) { return entry.value < wanted; });
    return found != table.end() && found->value == value ? &*found : nullptr;
}

}  // namespace

std::string ResultName(int32_t value) {
    if (const NamedValue* found = Find(kResultNames, value)) return std::string(found->name);
    return (value >= 1 ? "XR_UNKNOWN_SUCCESS_" : "XR_UNKNOWN_FAILURE_") + std::to_string(value);
}

std::string StructureTypeName(uint32_t value) {
    if (const NamedValue* found = Find(kStructureTypeNames, value)) return std::string(found->name);
    return "XR_UNKNOWN_STRUCTURE_TYPE_" + std::to_string(static_cast<int32_t>(value));
}

size_t ResultNameCount() { return kResultNames.size(); }
size_t StructureTypeNameCount() { return kStructureTypeNames.size(); }

}  // namespace qor
