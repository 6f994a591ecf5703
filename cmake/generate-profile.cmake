# Builds the embedded default hardware profile: every sim/profiles/default/*.json
# holds one or more top-level area sections; they are merged into one JSON
# object and written as a C++ source of the simulation. Included by the top
# CMakeLists (configure mode) and run again as a script (-P) at build time.
if(CMAKE_SCRIPT_MODE_FILE)
  # Script mode: PROFILE_DIR, OUTPUT given with -D.
  file(GLOB parts ${PROFILE_DIR}/*.json)
  list(SORT parts)
  set(merged "{}")
  foreach(part ${parts})
    file(READ ${part} text)
    string(JSON kind ERROR_VARIABLE err TYPE "${text}")
    if(err OR NOT kind STREQUAL "OBJECT")
      message(FATAL_ERROR "Profile part ${part} is not a JSON object: ${err}")
    endif()
    string(JSON count LENGTH "${text}")
    if(count GREATER 0)
      math(EXPR last "${count} - 1")
      foreach(i RANGE ${last})
        string(JSON key MEMBER "${text}" ${i})
        string(JSON value GET "${text}" ${key})
        string(JSON vtype TYPE "${text}" ${key})
        if(vtype STREQUAL "STRING")
          # GET unquotes strings; put them back as JSON strings.
          string(REPLACE "\\" "\\\\" value "${value}")
          string(REPLACE "\"" "\\\"" value "${value}")
          set(value "\"${value}\"")
        elseif(vtype STREQUAL "BOOLEAN")
          if(value)
            set(value "true")
          else()
            set(value "false")
          endif()
        elseif(vtype STREQUAL "NULL")
          set(value "null")
        endif()
        string(JSON exists ERROR_VARIABLE missing GET "${merged}" ${key})
        if(NOT missing)
          message(FATAL_ERROR "Profile section '${key}' appears twice (again in ${part})")
        endif()
        string(JSON merged SET "${merged}" ${key} "${value}")
      endforeach()
    endif()
  endforeach()
  set(content "// Generated from sim/profiles/default/*.json; do not edit.\n")
  string(APPEND content "namespace TarnSim::Generated {\n")
  string(APPEND content "extern const char* const kDefaultProfile;\n")
  string(APPEND content "const char* const kDefaultProfile = R\"TARNPROFILE(${merged})TARNPROFILE\";\n")
  string(APPEND content "}\n")
  # Only touch the output when it changes, so unrelated builds stay no-ops.
  if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE ${OUTPUT} "${content}")
  endif()
  return()
endif()

file(GLOB TARN_PROFILE_PARTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim/profiles/default/*.json)
set(TARN_PROFILE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/generated/default_profile.cpp)
add_custom_command(
  OUTPUT ${TARN_PROFILE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DPROFILE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/sim/profiles/default
          -DOUTPUT=${TARN_PROFILE_SOURCE} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${TARN_PROFILE_PARTS} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Merging the default hardware profile"
  VERBATIM)
target_sources(tarnsim PRIVATE ${TARN_PROFILE_SOURCE})
