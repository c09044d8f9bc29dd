# Makes the page one file: the template with the style, the core (its WebAssembly inside) and the
# glue put in its place-holders. An HTML parser ends a script at the first "</script", whatever
# JavaScript string it stands in: a piece that holds one cannot be put inline, and stops the build.
# cmake -DTEMPLATE= -DSTYLE= -DCORE= -DGLUE= -DOUTPUT= -P assemble.cmake
file(READ "${TEMPLATE}" page)
foreach(piece STYLE CORE GLUE)
  file(READ "${${piece}}" text)
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "</script" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${${piece}} holds \"</script\": it cannot go inside the page")
  endif()
  string(FIND "${page}" "/*KFW:${piece}*/" place)
  if(place EQUAL -1)
    message(FATAL_ERROR "${TEMPLATE} has no place for ${piece}")
  endif()
  string(REPLACE "/*KFW:${piece}*/" "${text}" page "${page}")
endforeach()
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}" "${page}")
