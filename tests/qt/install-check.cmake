# Installs the build into a folder of its own and checks that the programs, the desktop entry
# and its icon are there.  cmake -DBUILD=... -DPREFIX=... -P install-check.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed")
endif()
foreach(file bin/versionup bin/versionup-cli share/applications/versionup.desktop
             share/icons/hicolor/32x32/apps/versionup.png
             share/icons/hicolor/16x16/apps/versionup.png)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/versionup.desktop entry)
foreach(line "Name=Version up tool for NRP-7/70 TVK-35/50" "Exec=versionup" "Icon=versionup")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "the desktop entry lacks \"${line}\"")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: programs, desktop entry, icon")
