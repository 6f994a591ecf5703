# Generates the advanced-option name table from the one data file that also
# feeds the simulated kernel (sim/profiles/default/advanced.json). Included by
# the top-level CMakeLists; run again in script mode (-P) at build time.
# The data file keeps one branch, option or user option per line so that this
# script reads it line by line.

if(CMAKE_SCRIPT_MODE_FILE)
  # Square brackets and semicolons would confuse CMake's list splitting: hide
  # them while splitting into lines, restore them per line.
  file(READ "${ADV_IN}" content)
  string(REPLACE ";" "@SC@" content "${content}")
  string(REPLACE "[" "@LB@" content "${content}")
  string(REPLACE "]" "@RB@" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(branches "")
  set(options "")
  set(uservars "")
  foreach(line IN LISTS lines)
    string(REPLACE "@SC@" ";" line "${line}")
    string(REPLACE "@LB@" "[" line "${line}")
    string(REPLACE "@RB@" "]" line "${line}")
    string(STRIP "${line}" line)
    string(REGEX REPLACE ",$" "" line "${line}")
    if(line MATCHES "^\\{\"branch\"")
      string(JSON b GET "${line}" branch)
      string(JSON s GET "${line}" store)
      string(JSON c GET "${line}" component)
      string(APPEND branches "    {\"${b}\", \"${s}\", \"${c}\"},\n")
    elseif(line MATCHES "^\\{\"path\"")
      string(JSON p GET "${line}" path)
      string(JSON s ERROR_VARIABLE err GET "${line}" store)
      if(err)
        string(APPEND options "    {\"${p}\", nullptr},\n")
      else()
        string(APPEND options "    {\"${p}\", \"${s}\"},\n")
      endif()
    elseif(line MATCHES "^\\{\"userVar\"")
      string(JSON n GET "${line}" userVar)
      string(JSON t GET "${line}" type)
      string(JSON d GET "${line}" description)
      string(JSON f GET "${line}" flags)
      string(REPLACE "\\" "\\\\" d "${d}")
      string(REPLACE "\"" "\\\"" d "${d}")
      if(t STREQUAL "string")
        string(JSON def GET "${line}" default)
        string(REPLACE "\\" "\\\\" def "${def}")
        string(REPLACE "\"" "\\\"" def "${def}")
        string(APPEND uservars "    {\"${n}\", true, \"${def}\", 0, 0, 0, \"${d}\", ${f}},\n")
      else()
        string(JSON def GET "${line}" default)
        string(JSON lo GET "${line}" min)
        string(JSON hi GET "${line}" max)
        string(APPEND uservars "    {\"${n}\", false, \"\", ${def}, ${lo}, ${hi}, \"${d}\", ${f}},\n")
      endif()
    endif()
  endforeach()
  set(text "// Generated from advanced.json by generate-adv.cmake; do not edit.\n")
  string(APPEND text "#include \"adv/adv_names.h\"\n\nnamespace TarnCtl::Adv::Generated {\n\n")
  string(APPEND text "const BranchRow kBranchRows[] = {\n${branches}};\n")
  string(APPEND text "const size_t kBranchRowCount = sizeof(kBranchRows) / sizeof(kBranchRows[0]);\n\n")
  string(APPEND text "const OptionRow kOptionRows[] = {\n${options}};\n")
  string(APPEND text "const size_t kOptionRowCount = sizeof(kOptionRows) / sizeof(kOptionRows[0]);\n\n")
  string(APPEND text "const UserVarRow kUserVarRows[] = {\n${uservars}};\n")
  string(APPEND text "const size_t kUserVarRowCount = sizeof(kUserVarRows) / sizeof(kUserVarRows[0]);\n\n")
  string(APPEND text "}  // namespace TarnCtl::Adv::Generated\n")
  # Rewrite only on change so that an unrelated edit rebuilds nothing.
  file(WRITE "${ADV_OUT}.tmp" "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${ADV_OUT}.tmp" "${ADV_OUT}")
  file(REMOVE "${ADV_OUT}.tmp")
  return()
endif()

set(ADV_DATA ${CMAKE_CURRENT_SOURCE_DIR}/sim/profiles/default/advanced.json)
set(ADV_TABLE ${CMAKE_CURRENT_BINARY_DIR}/generated/adv_names_table.cpp)
add_custom_command(
  OUTPUT ${ADV_TABLE}
  COMMAND ${CMAKE_COMMAND} -DADV_IN=${ADV_DATA} -DADV_OUT=${ADV_TABLE}
          -P ${CMAKE_CURRENT_LIST_DIR}/generate-adv.cmake
  DEPENDS ${ADV_DATA} ${CMAKE_CURRENT_LIST_DIR}/generate-adv.cmake
  COMMENT "Generating the advanced-option name table"
  VERBATIM)
target_sources(tarnctl PRIVATE ${ADV_TABLE})
