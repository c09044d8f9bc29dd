# nlohmann-json, the JSON library of the command-line program's --json output (header-only, from
# Debian's nlohmann-json3-dev), as the target kfw_json.
#
# The MinGW toolchain searches only its own root (/usr/x86_64-w64-mingw32), and putting
# /usr/include on its include path would let Linux's own headers shadow MinGW's. The cross build
# gets a folder of its own in the build tree that holds nothing but a link to the library's
# headers, so those and no others are found there.
add_library(kfw_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(KFW_JSON_HEADERS /usr/include/nlohmann CACHE PATH "nlohmann-json's headers, for cross builds")
  if(NOT EXISTS ${KFW_JSON_HEADERS}/json.hpp)
    message(FATAL_ERROR "${KFW_JSON_HEADERS}/json.hpp is missing: install nlohmann-json3-dev "
                        "(scripts/install-deps.sh)")
  endif()
  set(kfw_json_include ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${kfw_json_include})
  file(CREATE_LINK ${KFW_JSON_HEADERS} ${kfw_json_include}/nlohmann SYMBOLIC)
  target_include_directories(kfw_json SYSTEM INTERFACE ${kfw_json_include})
else()
  find_package(nlohmann_json 3.10 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "nlohmann-json is missing: install nlohmann-json3-dev "
                        "(scripts/install-deps.sh)")
  endif()
  target_link_libraries(kfw_json INTERFACE nlohmann_json::nlohmann_json)
endif()
