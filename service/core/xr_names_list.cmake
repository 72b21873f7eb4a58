# Turns the enumerant tables of the OpenXR version the runtime implements (one "NAME<tab>value"
# a line, "#" comment lines) into X-macro lists; xr_names.cpp checks each entry against the
# installed headers, so a wrong name or value stops the build.
#   cmake -DRESULTS=<tsv> -DSTRUCTURE_TYPES=<tsv> -DOUTPUT=<header> -P xr_names_list.cmake

function(norvik_list_macro tsv macro out)
  file(STRINGS ${tsv} lines)
  set(text "#define ${macro}(_)")
  foreach(line IN LISTS lines)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^(XR_[A-Z0-9_]+)\t(-?[0-9]+)$")
      message(FATAL_ERROR "${tsv}: not a name and a value: '${line}'")
    endif()
    string(APPEND text " \\\n    _(${CMAKE_MATCH_1}, ${CMAKE_MATCH_2})")
  endforeach()
  set(${out} "${text}\n" PARENT_SCOPE)
endfunction()

norvik_list_macro(${RESULTS} NORVIK_LISTED_XrResult results)
norvik_list_macro(${STRUCTURE_TYPES} NORVIK_LISTED_XrStructureType structureTypes)
get_filename_component(resultsFile ${RESULTS} NAME)
get_filename_component(structureTypesFile ${STRUCTURE_TYPES} NAME)
file(WRITE ${OUTPUT} "// Made by xr_names_list.cmake from ${resultsFile} and ${structureTypesFile}.
#pragma once

${results}
${structureTypes}")
