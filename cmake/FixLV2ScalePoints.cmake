# JUCE 7.0.5's LV2 wrapper writes the scale points of choice parameters as
# normalised values (0, 0.5, 1) while it declares the parameter's range in plain
# units (0 .. 2). LV2 hosts then label and send the wrong choices. This script
# rewrites the scale points of every enumeration in dsp.ttl to plain values.
#
# Usage: cmake -DTTL=<path to dsp.ttl> -P FixLV2ScalePoints.cmake

file(READ "${TTL}" content)
string(REPLACE ";" "<SEMI>" content "${content}")
string(REPLACE "\n\n" ";" blocks "${content}")

set(result "")
foreach(block IN LISTS blocks)
    if(block MATCHES "lv2:scalePoint" AND NOT block MATCHES "lv2:toggled"
       AND block MATCHES "lv2:minimum ([-0-9]+)[ \t]*<SEMI>" )
        set(minimum "${CMAKE_MATCH_1}")
        string(REGEX MATCH "lv2:maximum ([-0-9]+)" _ "${block}")
        set(maximum "${CMAKE_MATCH_1}")
        string(REGEX MATCHALL "rdf:value [-0-9.e]+" points "${block}")
        list(LENGTH points count)
        math(EXPR span "${maximum} - ${minimum}")
        math(EXPR steps "${count} - 1")
        if(count GREATER 1 AND span EQUAL steps)
            # Each choice index is one unit of the plain range.
            string(REGEX REPLACE "rdf:value [-0-9.e]+" "rdf:value @PLAIN@" block "${block}")
            set(index ${minimum})
            foreach(point IN LISTS points)
                string(FIND "${block}" "@PLAIN@" at)
                string(SUBSTRING "${block}" 0 ${at} head)
                math(EXPR tailStart "${at} + 7")
                string(SUBSTRING "${block}" ${tailStart} -1 tail)
                set(block "${head}${index}${tail}")
                math(EXPR index "${index} + 1")
            endforeach()
        endif()
    endif()
    if(result STREQUAL "")
        set(result "${block}")
    else()
        set(result "${result}\n\n${block}")
    endif()
endforeach()

string(REPLACE "<SEMI>" ";" result "${result}")
file(WRITE "${TTL}" "${result}")
