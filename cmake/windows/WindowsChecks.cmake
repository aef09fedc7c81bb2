# What the Windows cross build checks as it builds (included last, once every
# target is defined):
#  - the OpenCV import libraries, made from what the objects need, which must
#    be what cmake/windows/opencv_*symbols.txt lists;
#  - the export tables: the twelve plain names in one DLL, only names of
#    namespace vyrffc in the other;
#  - a host that loads the twelve-function DLL and resolves its exports, and
#    the tests that need no OpenCV, to run under wine (scripts/windows/check.sh).
set(_tools_prefix x86_64-w64-mingw32-)
find_program(FFC_MINGW_NM ${_tools_prefix}nm REQUIRED)
find_program(FFC_MINGW_CXXFILT ${_tools_prefix}c++filt REQUIRED)
find_program(FFC_MINGW_DLLTOOL ${_tools_prefix}dlltool REQUIRED)
find_program(FFC_MINGW_OBJDUMP ${_tools_prefix}objdump REQUIRED)
set(_symbols ${PROJECT_SOURCE_DIR}/scripts/windows/opencv-symbols.sh)

# The libraries' own import library, then the tool's (the simulator and the
# tool call OpenCV beyond what the libraries do).
add_custom_command(OUTPUT ${FFC_OPENCV_IMPORT_LIBRARY}
  COMMAND ${_symbols} imports ${PROJECT_SOURCE_DIR}/cmake/windows/opencv_symbols.txt
          ${FFC_MINGW_NM} ${FFC_MINGW_CXXFILT} ${FFC_MINGW_DLLTOOL} ${FFC_OPENCV_DLL} ${FFC_OPENCV_IMPORT_LIBRARY}
          $<TARGET_OBJECTS:ffc_internal> $<TARGET_OBJECTS:ffc_api>
  DEPENDS ffc_internal ffc_api $<TARGET_OBJECTS:ffc_internal> $<TARGET_OBJECTS:ffc_api>
          ${PROJECT_SOURCE_DIR}/cmake/windows/opencv_symbols.txt ${_symbols}
  COMMAND_EXPAND_LISTS VERBATIM)
add_custom_target(ffc_opencv_imports DEPENDS ${FFC_OPENCV_IMPORT_LIBRARY})
add_dependencies(VyrCISFlatfieldCorrection ffc_opencv_imports)
add_dependencies(VyrCISFlatfieldCorrectionCxx ffc_opencv_imports)

# The tool's main object compiled once more on its own, to be read.
add_library(cisffc_main OBJECT ${PROJECT_SOURCE_DIR}/tools/cisffc/main.cpp)
target_link_libraries(cisffc_main PRIVATE cisffc_core)
set(_tool_imports ${CMAKE_BINARY_DIR}/opencv-imports/lib${FFC_OPENCV_DLL}_tool.dll.a)
add_custom_command(OUTPUT ${_tool_imports}
  COMMAND ${_symbols} imports ${PROJECT_SOURCE_DIR}/cmake/windows/opencv_tool_symbols.txt
          ${FFC_MINGW_NM} ${FFC_MINGW_CXXFILT} ${FFC_MINGW_DLLTOOL} ${FFC_OPENCV_DLL} ${_tool_imports}
          $<TARGET_FILE:cis_simulator> $<TARGET_FILE:cisffc_core> $<TARGET_OBJECTS:cisffc_main>
  DEPENDS cis_simulator cisffc_core cisffc_main $<TARGET_OBJECTS:cisffc_main>
          ${PROJECT_SOURCE_DIR}/cmake/windows/opencv_tool_symbols.txt ${_symbols}
  COMMAND_EXPAND_LISTS VERBATIM)
add_custom_target(cisffc_opencv_imports DEPENDS ${_tool_imports})
add_dependencies(cisffc cisffc_opencv_imports)
# After the static libraries that need it on the link line.
target_link_libraries(cis_simulator INTERFACE ${_tool_imports})
target_link_libraries(cisffc_core INTERFACE ${_tool_imports})

# Warnings are errors in the libraries' own code.
target_compile_options(ffc_internal PRIVATE -Wall -Werror)
target_compile_options(ffc_api PRIVATE -Wall -Werror)

set(_exports ${PROJECT_SOURCE_DIR}/scripts/windows/check-exports.sh)
add_custom_target(ffc_windows_exports ALL
  COMMAND ${_exports} twelve ${FFC_MINGW_OBJDUMP} ${FFC_MINGW_CXXFILT} $<TARGET_FILE:VyrCISFlatfieldCorrection>
          ${PROJECT_SOURCE_DIR}/src/exports/exports.map
  COMMAND ${_exports} vyrffc ${FFC_MINGW_OBJDUMP} ${FFC_MINGW_CXXFILT} $<TARGET_FILE:VyrCISFlatfieldCorrectionCxx>
  VERBATIM)
add_dependencies(ffc_windows_exports VyrCISFlatfieldCorrection VyrCISFlatfieldCorrectionCxx)

# Programs for wine: linked statically, so that they need no MinGW run-time
# DLLs beside them.
add_executable(ffc_load_exports ${PROJECT_SOURCE_DIR}/tests/windows/load_exports.cpp)
target_link_options(ffc_load_exports PRIVATE -static -municode)

set(_gtest /usr/src/googletest/googletest)
add_library(ffc_windows_gtest STATIC ${_gtest}/src/gtest-all.cc ${_gtest}/src/gtest_main.cc)
target_include_directories(ffc_windows_gtest SYSTEM PUBLIC ${_gtest}/include PRIVATE ${_gtest})
file(GLOB _test_sources ${PROJECT_SOURCE_DIR}/tests/fit/*.cpp ${PROJECT_SOURCE_DIR}/tests/platform/*.cpp)
file(GLOB _code_sources ${PROJECT_SOURCE_DIR}/src/fit/*.cpp ${PROJECT_SOURCE_DIR}/src/platform/file_*.cpp)
add_executable(ffc_windows_tests ${_test_sources} ${_code_sources}
  ${PROJECT_SOURCE_DIR}/src/calib/lowhigh/column_tables.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/plain_fits.cpp ${PROJECT_SOURCE_DIR}/tests/support/temp_folder.cpp)
target_include_directories(ffc_windows_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(ffc_windows_tests PRIVATE ffc_windows_gtest Eigen3::Eigen)
target_link_options(ffc_windows_tests PRIVATE -static)

# Windows hosts load the DLLs by their own names, without MinGW's "lib".
set_target_properties(VyrCISFlatfieldCorrection VyrCISFlatfieldCorrectionCxx PROPERTIES PREFIX "" IMPORT_PREFIX "")
