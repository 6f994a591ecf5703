# Generates the kernel boot-option table from the one data file that also
# feeds the simulated kernel (sim/profiles/default/bootoptions.json, one option
# a line): name, type, parser, default, description, saveable flag and store
# field, plus each option's offset in the kernel's run-time record. Names and
# store fields must be unique; the build stops otherwise. Also pulls in the
# module-file build (cmake/modules.cmake).

if(CMAKE_SCRIPT_MODE_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/datafile.cmake)
  tarn_read_data_lines("${BOOTOPT_IN}" lines)
  set(rows "")
  set(offset 0)
  set(count 0)
  set(seen_names ";")
  set(seen_fields ";")
  foreach(line IN LISTS lines)
    tarn_data_line("${line}" line)
    if(NOT line MATCHES "^\\{\"name\"")
      continue()
    endif()
    string(JSON n GET "${line}" name)
    string(JSON t GET "${line}" type)
    string(JSON p GET "${line}" parser)
    string(JSON d GET "${line}" default)
    string(JSON s GET "${line}" store)
    string(JSON save GET "${line}" save)
    string(JSON desc GET "${line}" description)
    if(seen_names MATCHES ";${n};")
      message(FATAL_ERROR "Boot option ${n} appears twice in ${BOOTOPT_IN}")
    endif()
    if(seen_fields MATCHES ";${s};")
      message(FATAL_ERROR "Store field ${s} (boot option ${n}) is used twice in ${BOOTOPT_IN}")
    endif()
    string(APPEND seen_names "${n};")
    string(APPEND seen_fields "${s};")
    if(t STREQUAL "Bool" OR t STREQUAL "uint8")
      set(size 1)
    elseif(t STREQUAL "int32" OR t STREQUAL "uint32")
      set(size 4)
    elseif(t STREQUAL "int64")
      set(size 8)
    elseif(t STREQUAL "string")
      set(size 257)
    else()
      message(FATAL_ERROR "Boot option ${n} has unknown type ${t}")
    endif()
    foreach(v d desc)
      string(REPLACE "\\" "\\\\" ${v} "${${v}}")
      string(REPLACE "\"" "\\\"" ${v} "${${v}}")
    endforeach()
    if(save)
      set(save true)
    else()
      set(save false)
    endif()
    string(APPEND rows "    {\"${n}\", \"${t}\", \"${p}\", \"${d}\", \"${desc}\", ${save}, \"${s}\", ${offset}, ${size}},\n")
    math(EXPR offset "${offset} + ${size}")
    math(EXPR count "${count} + 1")
  endforeach()
  if(offset GREATER 13402)
    message(FATAL_ERROR "Boot options need ${offset} bytes, more than the kernel's record holds")
  endif()
  set(text "// Generated from bootoptions.json by generate-bootoptions.cmake; do not edit.\n")
  string(APPEND text "#include \"ksi/modules.h\"\n\nnamespace Ksi::BootOptions {\n\n")
  string(APPEND text "const Row kRows[] = {\n${rows}};\n")
  string(APPEND text "const size_t kRowCount = ${count};\n\n}  // namespace Ksi::BootOptions\n")
  tarn_write_if_changed("${BOOTOPT_OUT}" "${text}")
  return()
endif()

set(BOOTOPT_DATA ${CMAKE_CURRENT_SOURCE_DIR}/sim/profiles/default/bootoptions.json)
set(BOOTOPT_TABLE ${CMAKE_CURRENT_BINARY_DIR}/generated/bootoptions_table.cpp)
add_custom_command(
  OUTPUT ${BOOTOPT_TABLE}
  COMMAND ${CMAKE_COMMAND} -DBOOTOPT_IN=${BOOTOPT_DATA} -DBOOTOPT_OUT=${BOOTOPT_TABLE}
          -P ${CMAKE_CURRENT_LIST_DIR}/generate-bootoptions.cmake
  DEPENDS ${BOOTOPT_DATA} ${CMAKE_CURRENT_LIST_DIR}/generate-bootoptions.cmake
          ${CMAKE_CURRENT_LIST_DIR}/datafile.cmake
  COMMENT "Generating the kernel boot-option table"
  VERBATIM)
target_sources(tarnctl PRIVATE ${BOOTOPT_TABLE})

include(${CMAKE_CURRENT_LIST_DIR}/modules.cmake)
