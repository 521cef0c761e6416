# The product's version has one home: the extension's manifest, which the browsers read
# as it stands and which therefore cannot be generated. Everything else that carries a
# version (the Windows version resource, orvanta-host, the packages) takes it from here,
# so an extension and a host of one build always agree. A package build that packs the
# extension under another version names the manifest it packs, so its host says the same.
set(ORV_VERSION_MANIFEST ${PROJECT_SOURCE_DIR}/projects/orvanta/extension/manifest.json CACHE FILEPATH
  "the extension manifest whose \"version\" is the build's version")
file(READ ${ORV_VERSION_MANIFEST} orv_manifest_text)
string(JSON ORV_VERSION GET "${orv_manifest_text}" version)
if(NOT ORV_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "the extension's manifest version '${ORV_VERSION}' is not MAJOR.MINOR.PATCH")
endif()
set(ORV_VERSION_MAJOR ${CMAKE_MATCH_1})
set(ORV_VERSION_MINOR ${CMAKE_MATCH_2})
set(ORV_VERSION_PATCH ${CMAKE_MATCH_3})
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORV_VERSION_MANIFEST})
configure_file(${PROJECT_SOURCE_DIR}/projects/orvanta/version/ProductVersion.h.in
  ${PROJECT_BINARY_DIR}/generated/ProductVersion.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
