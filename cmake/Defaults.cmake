# Settings every target of the tree shares.

if(WIN32)
  set(ORV_PLATFORM_DIR Win)        # folder of Windows implementations beside portable code
  set(ORV_MODULE_SUFFIX ".dll")
  # One DLL with no MinGW runtime beside it: link the C++ and thread runtimes in.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
else()
  set(ORV_PLATFORM_DIR Posix)
  set(ORV_MODULE_SUFFIX ".so")
endif()

# Warnings are errors-in-waiting: the tree builds clean with GCC, Clang and MinGW.
function(orv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Sources of one subsystem folder: the portable files plus the platform folder's.
# Globbing keeps each subsystem's sources listed in one place (its folder).
function(orv_collect_sources out dir)
  file(GLOB portable CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB platform CONFIGURE_DEPENDS ${dir}/${ORV_PLATFORM_DIR}/*.cpp)
  set(${out} ${portable} ${platform} PARENT_SCOPE)
endfunction()

# Every source below a folder, with the other platform's Win/ or Posix/ folders left out.
function(orv_collect_sources_recursive out dir)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  if(WIN32)
    list(FILTER all EXCLUDE REGEX "/Posix/")
  else()
    list(FILTER all EXCLUDE REGEX "/Win/")
  endif()
  set(${out} ${all} PARENT_SCOPE)
endfunction()
