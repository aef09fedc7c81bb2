# Installs the build in BUILD_DIR into a temporary prefix under WORK_DIR, then
# builds the host project in HOST_SOURCE_DIR against it twice, through
# find_package and through pkg-config, and runs both hosts and the installed
# tool.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\nfailed (${result}):\n${output}")
  endif()
  message(STATUS "${output}")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(installed include/VyrCISFlatfieldCorrection.h include/VyrCISFlatfieldCorrection.hpp bin/cisffc)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "${installed} was not installed")
  endif()
endforeach()
file(GLOB_RECURSE configs ${prefix}/*/VyrCISFlatfieldCorrectionConfig.cmake)
file(GLOB_RECURSE pcfiles ${prefix}/*/VyrCISFlatfieldCorrection.pc)
file(GLOB_RECURSE libraries ${prefix}/*/libVyrCISFlatfieldCorrection.so)
file(GLOB_RECURSE cxxlibraries ${prefix}/*/libVyrCISFlatfieldCorrectionCxx.so)
if(NOT cxxlibraries)
  message(FATAL_ERROR "the C++ interface library was not installed")
endif()
if(NOT configs OR NOT pcfiles OR NOT libraries)
  message(FATAL_ERROR "package configuration, pkg-config file or library missing: '${configs}' '${pcfiles}' '${libraries}'")
endif()
get_filename_component(libdir ${libraries} DIRECTORY)
get_filename_component(pcdir ${pcfiles} DIRECTORY)

# The installed tool finds the installed library.
run(${prefix}/bin/cisffc --help)

# find_package
run(${CMAKE_COMMAND} -S ${HOST_SOURCE_DIR} -B ${WORK_DIR}/host -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
file(MAKE_DIRECTORY ${WORK_DIR}/images-cmake)
run(${WORK_DIR}/host/flatfield_host ${WORK_DIR}/images-cmake/)

# pkg-config
find_program(PKG_CONFIG pkg-config)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config is needed to check the installed pkg-config file")
endif()
set(ENV{PKG_CONFIG_PATH} ${pcdir})
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs VyrCISFlatfieldCorrection VyrCISFlatfieldCorrectionCxx
  RESULT_VARIABLE result OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know VyrCISFlatfieldCorrection and VyrCISFlatfieldCorrectionCxx")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 ${HOST_SOURCE_DIR}/host.cpp ${flags} -Wl,-rpath,${libdir} -o ${WORK_DIR}/flatfield_host_pc)
file(MAKE_DIRECTORY ${WORK_DIR}/images-pc)
run(${WORK_DIR}/flatfield_host_pc ${WORK_DIR}/images-pc/)
