# JSON through Debian's header-only nlohmann-json, as the target cryoweaver_json.
# The Windows cross-build uses the same headers, from a folder that holds only
# them: the host's /usr/include as a whole would hide the Windows C library.
add_library(cryoweaver_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(CRYOWEAVER_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    REQUIRED)
  set(json_include ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_include})
  file(CREATE_LINK ${CRYOWEAVER_JSON_INCLUDE}/nlohmann ${json_include}/nlohmann SYMBOLIC)
  target_include_directories(cryoweaver_json SYSTEM INTERFACE ${json_include})
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  target_link_libraries(cryoweaver_json INTERFACE nlohmann_json::nlohmann_json)
endif()
