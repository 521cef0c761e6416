# The product's version has one home: the extension's manifest, which the browsers read
# as it stands and which therefore cannot be generated. Everything else that carries a
# version (the Windows version resource, orvanta-host, the packages) takes it from here,
# so an extension and a host of one build always agree.
file(READ ${PROJECT_SOURCE_DIR}/projects/orvanta/extension/manifest.json orv_manifest_text)
string(JSON ORV_VERSION GET "${orv_manifest_text}" version)
if(NOT ORV_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "the extension's manifest version '${ORV_VERSION}' is not MAJOR.MINOR.PATCH")
endif()
set(ORV_VERSION_MAJOR ${CMAKE_MATCH_1})
set(ORV_VERSION_MINOR ${CMAKE_MATCH_2})
set(ORV_VERSION_PATCH ${CMAKE_MATCH_3})
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/projects/orvanta/extension/manifest.json)
configure_file(${PROJECT_SOURCE_DIR}/projects/orvanta/version/ProductVersion.h.in
  ${PROJECT_BINARY_DIR}/generated/ProductVersion.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
