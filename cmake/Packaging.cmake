# Install rules: the public headers, the two shared libraries, a CMake package
# configuration with the imported targets
# VyrCISFlatfieldCorrection::VyrCISFlatfieldCorrection (the twelve functions)
# and VyrCISFlatfieldCorrection::VyrCISFlatfieldCorrectionCxx (the C++
# interface), and a pkg-config file for each.
# Both descriptions are relocatable: they find the prefix from where they lie.
include(CMakePackageConfigHelpers)

set(FFC_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VyrCISFlatfieldCorrection)

install(TARGETS VyrCISFlatfieldCorrection VyrCISFlatfieldCorrectionCxx EXPORT VyrCISFlatfieldCorrectionTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/VyrCISFlatfieldCorrection.h
  ${PROJECT_SOURCE_DIR}/include/VyrCISFlatfieldCorrection.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VyrCISFlatfieldCorrectionTargets
  NAMESPACE VyrCISFlatfieldCorrection::
  DESTINATION ${FFC_CMAKE_INSTALL_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/VyrCISFlatfieldCorrectionConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VyrCISFlatfieldCorrectionConfig.cmake
  INSTALL_DESTINATION ${FFC_CMAKE_INSTALL_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/VyrCISFlatfieldCorrectionConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/VyrCISFlatfieldCorrectionConfig.cmake
  ${PROJECT_BINARY_DIR}/VyrCISFlatfieldCorrectionConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/FfcFindOpenCV.cmake
  DESTINATION ${FFC_CMAKE_INSTALL_DIR})

# pkg-config: OpenCV through its own module when OpenCV came as a package,
# otherwise the headers and libraries found for the build.
set(FFC_PC_REQUIRES "")
set(FFC_PC_OPENCV_CFLAGS "")
set(FFC_PC_OPENCV_LIBS "")
if(FFC_OPENCV_FROM_PACKAGE)
  set(FFC_PC_REQUIRES "opencv4")
else()
  list(TRANSFORM FFC_OPENCV_INCLUDE_DIRS PREPEND "-I" OUTPUT_VARIABLE _cflags)
  list(JOIN _cflags " " FFC_PC_OPENCV_CFLAGS)
  list(JOIN FFC_OPENCV_LIBRARIES " " FFC_PC_OPENCV_LIBS)
endif()
file(RELATIVE_PATH FFC_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" FFC_PC_PREFIX_FROM_PCDIR "${FFC_PC_PREFIX_FROM_PCDIR}")
foreach(FFC_PC_LIBRARY VyrCISFlatfieldCorrection VyrCISFlatfieldCorrectionCxx)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/VyrCISFlatfieldCorrection.pc.in
    ${PROJECT_BINARY_DIR}/${FFC_PC_LIBRARY}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${FFC_PC_LIBRARY}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
