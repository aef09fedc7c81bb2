# OpenCV (core, imgproc, imgcodecs), Eigen, and nlohmann-json for the header of
# the calibration file.
set(FFC_DEBIAN_PACKAGES "libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libeigen3-dev")

include(FfcFindOpenCV)
ffc_find_opencv(ffc_opencv _ffc_opencv_found)
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
