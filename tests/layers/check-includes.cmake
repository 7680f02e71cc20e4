# Reads every source file of the layer folders and names each include that climbs: a header of a
# library that the including file's library does not stand on, or a Qt header in code without Qt.
# Then reads every source file of the project, whatever builds it, for the headers that belong
# to one place only: Qt to the Qt window (qt/) and what tests, tools and benchmarks make of it;
# <windows.h> to platform/'s one header, and that header to platform/, the ports (ports/), the
# Win32 window (win32/) and the Windows tests and benchmarks.
#   cmake -DSOURCE=<project> -DLAYERS=<build>/tests/layers/layers.txt -P check-includes.cmake
cmake_minimum_required(VERSION 3.25)

set(qt_folders qt tests tools bench)
# <windows.h> and the headers that bring it in: its LoadString and FindResource macros would
# rename ours anywhere else, so one header takes them in and undoes the macros.
set(windows_headers windows.h winsock2.h ws2tcpip.h mstcpip.h)
set(windows_door platform/Win32Api.h)
set(windows_door_users platform ports win32 tests/windows bench/windows)

# The top folder of a project-relative path.
function(top_folder file out)
    string(REGEX REPLACE "/.*" "" top "${file}")
    set(${out} ${top} PARENT_SCOPE)
endfunction()

file(STRINGS ${LAYERS} rows)
set(folders "")
foreach(row IN LISTS rows)
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 lib)
    list(GET fields 1 folder)
    list(GET fields 2 qt)
    list(GET fields 3 below)
    list(GET fields 4 files)
    string(REPLACE "," ";" below "${below}")
    string(REPLACE "," ";" files "${files}")
    set(qt_${lib} ${qt})
    set(below_${lib} ${below})
    foreach(file IN LISTS files)
        set(owner_${file} ${lib})
    endforeach()
    # A file that no library lists belongs to the library named after its folder.
    if(NOT DEFINED default_${folder} OR lib STREQUAL folder)
        set(default_${folder} ${lib})
    endif()
    list(APPEND folders ${folder})
endforeach()
list(REMOVE_DUPLICATES folders)

function(owner_of file out)
    if(DEFINED owner_${file})
        set(${out} ${owner_${file}} PARENT_SCOPE)
        return()
    endif()
    cmake_path(GET file PARENT_PATH folder)
    if(DEFINED default_${folder})
        set(${out} ${default_${folder}} PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

set(faults "")
set(checked 0)
foreach(folder IN LISTS folders)
    file(GLOB sources RELATIVE ${SOURCE} ${SOURCE}/${folder}/*.h ${SOURCE}/${folder}/*.cpp)
    foreach(file IN LISTS sources)
        owner_of(${file} lib)
        math(EXPR checked "${checked} + 1")
        file(STRINGS ${SOURCE}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*)[>\"].*" "\\1\\2"
                   include "${line}")
            string(SUBSTRING "${include}" 0 1 quote)
            string(SUBSTRING "${include}" 1 -1 header)
            if(quote STREQUAL "<")
                top_folder(${file} top)
                # Outside the Qt folders the scan below names it.
                if(header MATCHES "^Q" AND NOT qt_${lib} AND top IN_LIST qt_folders)
                    string(CONCAT fault "${file} includes <${header}>, but ${lib} is code "
                                        "without Qt: put the window part in qt/")
                    list(APPEND faults "${fault}")
                endif()
                continue()
            endif()
            if(NOT header MATCHES "/")
                continue()
            endif()
            owner_of(${header} target)
            if(target STREQUAL lib OR target IN_LIST below_${lib})
                continue()
            endif()
            string(REPLACE ";" ", " may "${below_${lib}}")
            if(target STREQUAL "")
                set(why "which belongs to no library beneath it")
            else()
                set(why "from ${target}, which ${lib} does not stand on")
            endif()
            if(may STREQUAL "")
                set(may "nothing")
            endif()
            list(APPEND faults "${file} (${lib}) includes ${header}, ${why} (${lib} may use ${may})")
        endforeach()
    endforeach()
endforeach()

# Every top folder that is not a build folder (one holds a CMakeCache.txt) or hidden.
file(GLOB tops RELATIVE ${SOURCE} ${SOURCE}/*)
set(scanned 0)
foreach(top IN LISTS tops)
    if(NOT IS_DIRECTORY ${SOURCE}/${top} OR top MATCHES "^\\."
       OR EXISTS ${SOURCE}/${top}/CMakeCache.txt)
        continue()
    endif()
    set(patterns "")
    foreach(ext h hpp cpp cc c rc)
        list(APPEND patterns ${SOURCE}/${top}/*.${ext})
    endforeach()
    file(GLOB_RECURSE sources RELATIVE ${SOURCE} ${patterns})
    foreach(file IN LISTS sources)
        math(EXPR scanned "${scanned} + 1")
        file(STRINGS ${SOURCE}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1"
                   header "${line}")
            string(TOLOWER "${header}" lower)
            if(line MATCHES "include[ \t]*\"")
                if(header STREQUAL windows_door)
                    set(allowed 0)
                    foreach(user IN LISTS windows_door_users)
                        cmake_path(IS_PREFIX user ${file} inside)
                        if(inside)
                            set(allowed 1)
                        endif()
                    endforeach()
                    if(NOT allowed)
                        string(CONCAT fault "${file} includes ${header}, but the Win32 headers "
                                            "are for platform/, ports/ and win32/ (and the "
                                            "Windows tests and benchmarks) only")
                        list(APPEND faults "${fault}")
                    endif()
                endif()
            elseif(header MATCHES "^Q" AND NOT top IN_LIST qt_folders)
                string(CONCAT fault "${file} includes <${header}>, but only the Qt window (qt/) "
                                    "uses Qt: the core and the other front ends are without it")
                list(APPEND faults "${fault}")
            elseif(lower IN_LIST windows_headers AND NOT file STREQUAL windows_door)
                string(CONCAT fault "${file} includes <${header}>, which only ${windows_door} "
                                    "may: include that header instead")
                list(APPEND faults "${fault}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    list(LENGTH faults count)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "${count} include(s) climb the layers or leave their folders:\n  ${text}\n"
                        "Move the shared type down (frontend/, qt-widgets) or hand the call in "
                        "from above; keep Qt in qt/ and the Windows headers behind "
                        "${windows_door}.")
endif()
message(STATUS "${checked} files checked: no include climbs the layers; ${scanned} files checked: "
               "Qt only in qt/ (and tests, tools, benchmarks), <windows.h> only behind "
               "${windows_door}, and that only in platform/, ports/ and win32/ (and the Windows "
               "tests and benchmarks)")
