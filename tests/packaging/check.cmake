# Installs the already built project to a temporary prefix, moves the prefix
# elsewhere (the installed files must not depend on where they were put),
# builds a consumer there with find_package(tarnctl) and with pkg-config, and
# runs both on a fresh host root.
#
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, CXX_FLAGS (sanitizer flags of
# the build, which the consumer must share).
foreach(v BUILD_DIR SOURCE_DIR WORK_DIR CXX)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} not set")
  endif()
endforeach()
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/staged")
file(RENAME "${WORK_DIR}/staged" "${WORK_DIR}/moved")
set(prefix "${WORK_DIR}/moved")
file(GLOB_RECURSE pcfiles "${prefix}/*/tarnctl.pc")
list(LENGTH pcfiles n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one installed tarnctl.pc, found: ${pcfiles}")
endif()
get_filename_component(pcdir "${pcfiles}" DIRECTORY)

# 1. CMake package.
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/tests/packaging/consumer" -B "${WORK_DIR}/cmake-build" -G Ninja
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake-build")

# 2. pkg-config, from the moved prefix.
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run(pkg-config --cflags tarnctl)
string(STRIP "${run_out}" cflags)
separate_arguments(cflags UNIX_COMMAND "${cflags}")
run(pkg-config --libs tarnctl)
string(STRIP "${run_out}" libs)
separate_arguments(libs UNIX_COMMAND "${libs}")
run(pkg-config --variable=libdir tarnctl)
string(STRIP "${run_out}" libdir)
if(NOT IS_DIRECTORY "${libdir}" OR NOT EXISTS "${libdir}/libtarnctl.so")
  message(FATAL_ERROR "pkg-config libdir ${libdir} does not hold the library")
endif()
run(${CXX} -std=c++20 ${flags} ${cflags} "${SOURCE_DIR}/tests/packaging/consumer/consumer.cc"
    -o "${WORK_DIR}/consumer-pc" ${libs} "-Wl,-rpath,${libdir}")

# 3. Both run on a fresh host root each.
foreach(program "${WORK_DIR}/cmake-build/consumer" "${WORK_DIR}/consumer-pc")
  get_filename_component(name "${program}" NAME)
  set(ENV{TARNCTL_ROOT} "${WORK_DIR}/root-${name}")
  run("${program}")
  if(NOT run_out MATCHES "devices [1-9][0-9]*\nfirst [^\n]+\nbranches [1-9]")
    message(FATAL_ERROR "${name} printed:\n${run_out}")
  endif()
  message(STATUS "${name}: ${run_out}")
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
