# The driver's layers. Each folder of driver/ is one object library whose include path holds
# only its own folder and the folders below it (linked into a folder of the build tree under
# their usual names), so that an include going the wrong way, from a lower layer to a higher
# one, fails to compile.

# The folders given, seen under their own names from one include directory of target.
function(orvex_include_only target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${folder})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
endfunction()

# orvex_driver_layer(name folders-below...): orvex_<name>_objs from driver/<name>/*.cpp.
function(orvex_driver_layer name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/driver/${name}/*.cpp)
  # The library's own entry points belong to the library, not to the code tests link.
  list(FILTER sources EXCLUDE REGEX "driver/api/(exports|library_entry)\\.cpp$")
  add_library(orvex_${name}_objs OBJECT ${sources})
  orvex_include_only(orvex_${name}_objs driver/${name} ${ARGN} platform)
  set_property(GLOBAL APPEND PROPERTY ORVEX_DRIVER_LAYERS orvex_${name}_objs)
  set_property(GLOBAL APPEND PROPERTY ORVEX_DRIVER_SOURCES ${sources})
endfunction()
