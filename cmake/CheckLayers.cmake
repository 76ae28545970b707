# Fails when a file includes a header of a layer above its own, when the Firebird
# client header is reached from outside the database layer, or when a layer above core/
# includes from db/ (windows, forms and the main window ask core/, whose main-db thread
# runs the statements). A layer is a folder; OEKAKI_LAYERS lists them lowest first.
# cmake -DSOURCE_DIR=... -DOEKAKI_LAYERS=db,core,forms,windows,app -P CheckLayers.cmake
string(REPLACE "," ";" OEKAKI_LAYERS "${OEKAKI_LAYERS}")

set(rank 0)
foreach(layer ${OEKAKI_LAYERS})
  set(rank_of_${layer} ${rank})
  math(EXPR rank "${rank} + 1")
endforeach()

set(faults "")
foreach(layer ${OEKAKI_LAYERS})
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      if(line MATCHES "<ibase\\.h>|\"db/Isc\\.h\"" AND NOT layer STREQUAL "db")
        string(APPEND faults "  ${file}: the Firebird client header belongs inside db/\n")
      endif()
      if(NOT line MATCHES "\"([^\"/]+)/[^\"]+\\.h\"")
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      if(NOT DEFINED rank_of_${target})
        continue()
      endif()
      if(rank_of_${target} GREATER rank_of_${layer})
        string(APPEND faults "  ${file} (${layer}) includes from ${target}/\n")
      elseif(target STREQUAL "db" AND NOT layer STREQUAL "db" AND NOT layer STREQUAL "core")
        string(APPEND faults "  ${file} (${layer}) includes from db/: only core/ may\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes from a layer above (layers, lowest first: ${OEKAKI_LAYERS}):\n${faults}")
endif()
