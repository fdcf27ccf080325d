# CMake package of kiv_inst.dll. find_package(kiv_inst) gives the imported
# target kiv::inst: the header kiv_inst.h, the DLL, and the import library
# the toolchain reads (libkiv_inst.dll.a for mingw-w64, kiv_inst.lib for
# Microsoft's linker and lld-link), each of the consumer's architecture: the
# 32-bit files at the top of the release, the x64 ones in its x64/ folder (a
# process loads only a DLL of its own architecture). Link it, and copy
# $<TARGET_FILE:kiv::inst> beside your program. The package sits in cmake/ of
# the release folder.
get_filename_component(_kiv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(NOT TARGET kiv::inst)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_kiv_files "${_kiv_root}/x64")
  else()
    set(_kiv_files "${_kiv_root}")
  endif()
  if(MINGW)
    set(_kiv_implib "${_kiv_files}/libkiv_inst.dll.a")
  else()
    set(_kiv_implib "${_kiv_files}/kiv_inst.lib")
  endif()
  add_library(kiv::inst SHARED IMPORTED)
  set_target_properties(kiv::inst PROPERTIES
    IMPORTED_LOCATION "${_kiv_files}/kiv_inst.dll"
    IMPORTED_IMPLIB "${_kiv_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_kiv_root}")
  unset(_kiv_implib)
  unset(_kiv_files)
endif()

unset(_kiv_root)
