# Boost and nlohmann/json for a cross build, from the build machine's header trees
# (CUTRELAY_HOST_HEADERS, /usr/include on Debian). Only those two trees are linked into a
# folder of the build, which is all the cross compiler is shown: the build machine's C
# library headers stay out of reach. Boost.URL, the one compiled Boost library used, is
# built from its sources into the bridge.
set(CUTRELAY_CROSS_INCLUDE ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${CUTRELAY_CROSS_INCLUDE})
foreach(tree boost nlohmann)
  if(NOT EXISTS ${CUTRELAY_HOST_HEADERS}/${tree})
    message(FATAL_ERROR "${CUTRELAY_HOST_HEADERS}/${tree} is missing (scripts/install-deps installs it)")
  endif()
  file(CREATE_LINK ${CUTRELAY_HOST_HEADERS}/${tree} ${CUTRELAY_CROSS_INCLUDE}/${tree} SYMBOLIC)
endforeach()

add_library(cutrelay_host_boost INTERFACE)
target_include_directories(cutrelay_host_boost SYSTEM INTERFACE ${CUTRELAY_CROSS_INCLUDE})
add_library(Boost::headers ALIAS cutrelay_host_boost)
add_library(nlohmann_json::nlohmann_json ALIAS cutrelay_host_boost)

add_library(cutrelay_boost_url STATIC ${CMAKE_CURRENT_LIST_DIR}/boost_url.cpp)
target_link_libraries(cutrelay_boost_url PUBLIC cutrelay_host_boost)
target_compile_definitions(cutrelay_boost_url PUBLIC BOOST_URL_NO_SOURCE_LOCATION)
add_library(Boost::url ALIAS cutrelay_boost_url)
