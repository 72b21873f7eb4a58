// Names of XrResult and XrStructureType values, as xrResultToString and
// xrStructureTypeToString answer them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor {

// The enumerant name, or "XR_UNKNOWN_SUCCESS_<n>" / "XR_UNKNOWN_FAILURE_<n>".
std::string ResultName(int32_t value);
// The enumerant name, or "XR_UNKNOWN_STRUCTURE_TYPE_<n>" (n in signed decimal).
std::string StructureTypeName(uint32_t value);

size_t ResultNameCount();
size_t StructureTypeNameCount();

}  // namespace qor
