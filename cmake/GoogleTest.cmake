# Test dependencies: GoogleTest (GTest::gtest, GTest::gtest_main, GTest::gmock) and nlohmann_json
# (nlohmann_json::nlohmann_json). The system's packages when installed, as on the Linux machines;
# otherwise fetched at a pinned release, as on macOS runners where neither is installed.
# Include it from each directory that links them: find_package's targets are local to a directory.

include(FetchContent)

if(NOT TARGET GTest::gtest_main)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  FetchContent_Declare(googletest
    GIT_REPOSITORY https://github.com/google/googletest.git
    GIT_TAG v1.14.0
    GIT_SHALLOW TRUE
  )
  FetchContent_MakeAvailable(googletest)
endif()

if(NOT TARGET nlohmann_json::nlohmann_json)
  find_package(nlohmann_json 3.11 QUIET)
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(JSON_Install OFF CACHE BOOL "" FORCE)
  FetchContent_Declare(nlohmann_json
    GIT_REPOSITORY https://github.com/nlohmann/json.git
    GIT_TAG v3.11.3
    GIT_SHALLOW TRUE
  )
  FetchContent_MakeAvailable(nlohmann_json)
endif()

include(GoogleTest)
