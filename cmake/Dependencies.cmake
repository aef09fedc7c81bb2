# OpenCV (core, imgproc, imgcodecs), Eigen, and nlohmann-json for the header of
# the calibration file.
set(FFC_DEBIAN_PACKAGES "libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libeigen3-dev")

include(FfcFindOpenCV)
if(FFC_WINDOWS_CROSS)
  include(windows/WindowsCross)
  set(_ffc_opencv_found TRUE)
  set(FFC_OPENCV_FROM_PACKAGE TRUE)
else()
  ffc_find_opencv(ffc_opencv _ffc_opencv_found)
endif()
if(NOT _ffc_opencv_found)
  message(FATAL_ERROR "OpenCV (core, imgproc, imgcodecs) was not found. On Debian install: "
                      "apt-get install ${FFC_DEBIAN_PACKAGES}")
endif()
if(NOT FFC_OPENCV_FROM_PACKAGE)
  message(STATUS "OpenCV modules: ${FFC_OPENCV_LIBRARIES}")
endif()

find_package(Eigen3 3.3 QUIET NO_MODULE)
if(NOT TARGET Eigen3::Eigen)
  find_path(FFC_EIGEN_INCLUDE_DIR Eigen/Dense PATH_SUFFIXES eigen3)
  if(NOT FFC_EIGEN_INCLUDE_DIR)
    message(FATAL_ERROR "Eigen 3 was not found. On Debian install: apt-get install libeigen3-dev")
  endif()
  add_library(Eigen3::Eigen INTERFACE IMPORTED)
  target_include_directories(Eigen3::Eigen SYSTEM INTERFACE ${FFC_EIGEN_INCLUDE_DIR})
endif()

find_package(nlohmann_json 3 QUIET CONFIG)
if(NOT TARGET nlohmann_json::nlohmann_json)
  find_path(FFC_JSON_INCLUDE_DIR nlohmann/json.hpp)
  if(NOT FFC_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann-json was not found. On Debian install: apt-get install nlohmann-json3-dev")
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${FFC_JSON_INCLUDE_DIR})
endif()

# Aravis, the GenICam camera library behind cisffc capture and check: optional,
# as the Python module is. Left out of the Windows cross build and of the
# sanitizer builds, whose checks the camera library's own threads and type
# registry would only cloud.
option(FFC_BUILD_CAMERA "Build cisffc capture and check when pkg-config finds Aravis (aravis-0.8)" ON)
set(FFC_CAMERA_FOUND FALSE)
if(FFC_BUILD_CAMERA AND NOT CMAKE_CROSSCOMPILING AND NOT FFC_SANITIZE)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(ARAVIS QUIET IMPORTED_TARGET aravis-0.8)
    set(FFC_CAMERA_FOUND ${ARAVIS_FOUND})
  endif()
endif()
if(FFC_CAMERA_FOUND)
  message(STATUS "cisffc capture and check: with Aravis ${ARAVIS_VERSION}")
else()
  message(STATUS "cisffc capture and check: left out (they need Aravis; on Debian: "
                 "apt-get install libaravis-dev libusb-1.0-0-dev)")
endif()
