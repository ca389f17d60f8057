# The layers of the library, as the build states them.
#
# Each folder that is a layer declares one target with transys_layer(): an
# OBJECT library of its sources (an INTERFACE library when it has headers
# only) and the layers it uses.  A layer's sources see, through their
# include path, their own folder and the folders of the layers they use,
# directly or through another layer, and nothing else: an include of a
# layer that is not declared fails to compile.  Includes stay written from
# the repository root ("libutils/csgl/csgl_string.hpp"), so each layer gets
# a folder of its own under the build tree that holds links to exactly the
# folders it may see.  The shared library is still the one libtransys.so.1,
# made of the layers' objects (libtransys/CMakeLists.txt).
#
#   transys_layer(NAME FOLDER folder [SOURCES file...] [USES layer...] [SHARED])
#
# SHARED makes a shared library of the sources instead, with the
# compiler's default visibility: the host stand-ins, which are libraries of
# their own.

# What every layer's sources are compiled with: hidden visibility (only
# what is marked TRANSYS_EXPORT is exported), calls between the library's
# own functions bound inside the library, and the project's warnings.
function(transys_layer_options target)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  target_link_libraries(${target} PRIVATE libtransys_options)
endfunction()

function(transys_layer name)
  cmake_parse_arguments(ARG "SHARED" "FOLDER" "SOURCES;USES" ${ARGN})
  set(folders ${ARG_FOLDER})
  foreach(used ${ARG_USES})
    get_property(used_folders GLOBAL PROPERTY transys_layer_folders_${used})
    if(NOT used_folders)
      message(FATAL_ERROR "layer ${name} uses ${used}, which is not declared before it")
    endif()
    list(APPEND folders ${used_folders})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY transys_layer_folders_${name} ${folders})

  set(view ${CMAKE_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${view})
  foreach(folder ${folders})
    get_filename_component(parent ${view}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
  endforeach()

  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE libtransys_options)
  elseif(ARG_SOURCES)
    add_library(${name} OBJECT ${ARG_SOURCES})
    transys_layer_options(${name})
  else()
    add_library(${name} INTERFACE)
    return()
  endif()
  target_include_directories(${name} PRIVATE ${view})
  # Names of files reached through the view read as in the tree: in
  # __FILE__ (the file names exceptions carry) and in debug information.
  target_compile_options(${name} PRIVATE
    -fmacro-prefix-map=${view}/=
    -fdebug-prefix-map=${view}=${CMAKE_SOURCE_DIR})
endfunction()
