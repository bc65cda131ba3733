# The user guide names the version it is for: the project's version.
# cmake -DGUIDE=larkconv.txt -DVERSION=x.y.z -P guide_version.cmake
file(STRINGS "${GUIDE}" named REGEX "^User guide, version ")
if(NOT named STREQUAL "User guide, version ${VERSION}")
  message(FATAL_ERROR "${GUIDE} names \"${named}\", not \"User guide, version ${VERSION}\"")
endif()
