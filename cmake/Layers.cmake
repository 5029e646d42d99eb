# pelivor_layer(FOLDER MAY_INCLUDE ...): fails the configuration when a source
# of FOLDER includes a header of a folder outside its own and the listed ones.
set(PELIVOR_LAYER_FOLDERS platform engine ui cli app installer bench tests packaging)

function(pelivor_layer folder)
    file(GLOB sources ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    set(allowed ${folder} ${ARGN})
    foreach(source IN LISTS sources)
        file(STRINGS ${source} includes REGEX "^#include \"[a-z]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" included "${line}")
            if(included IN_LIST PELIVOR_LAYER_FOLDERS AND NOT included IN_LIST allowed)
                message(FATAL_ERROR
                    "${source}: ${folder}/ may not include ${included}/ (${line})")
            endif()
        endforeach()
    endforeach()
endfunction()
