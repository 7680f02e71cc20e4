# The loader and the package a build takes in are checked before they go into the program: the
# boot mode sends the loader's length in two bytes, and the machine's loader writes whatever
# package it is given into its flash. resources/CMakeLists.txt uses these, and so does the test
# of the checks themselves (tests/resources/firmware-checks.cmake).

# Stops configuring when the loader cannot be sent: its length must fit the two length bytes and
# may not be 0.
function(versionup_check_loader file)
    file(SIZE "${file}" size)
    if(size LESS 1 OR size GREATER 65535)
        message(FATAL_ERROR "boot loader ${file} is ${size} bytes: the boot mode takes a loader of "
                            "1 to 65,535 bytes, its length going out in two bytes")
    endif()
endfunction()

# The custom target NAME runs CHECKER (the package reader as a command: nothing on a well-formed
# package, else the first fault and a failure) over FILE whenever either changed since it last
# passed, so the build stops with the reader's words before a malformed package is compiled in.
# What builds the package in depends on NAME.
function(versionup_package_check name file checker)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.passed)
    add_custom_command(OUTPUT ${stamp}
                       COMMAND ${checker} ${file}
                       COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
                       DEPENDS ${checker} ${file}
                       COMMENT "Checking the firmware package ${file}"
                       VERBATIM)
    add_custom_target(${name} DEPENDS ${stamp})
endfunction()
