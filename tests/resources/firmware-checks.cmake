# The checks of a release's loader and package at build time, run on a project of their own:
# a loader outside 1 to 65,535 bytes stops the configure, a malformed package stops the build, both
# with the reason.
#   cmake -DSOURCE=<project> -DCHECKER=<check-package> -DWORK=<folder> -DGENERATOR=<generator>
#         [-DMAKE_PROGRAM=<ninja>] -P firmware-checks.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/inputs)
set(good_loader ${SOURCE}/resources/loader.bin)
set(good_package ${SOURCE}/resources/package.ufw)
foreach(file ${CHECKER} ${good_loader} ${good_package})
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "cannot run the checks: ${file} is missing")
    endif()
endforeach()

function(write_loader name size)
    string(REPEAT "L" ${size} bytes)
    file(WRITE ${WORK}/inputs/${name} "${bytes}")
endfunction()
write_loader(empty.bin 0)
write_loader(one.bin 1)
write_loader(largest.bin 65535)
write_loader(too-large.bin 65536)
# A package cut short after its header text, and a picture where the package should be.
file(WRITE ${WORK}/inputs/cut.ufw "PUF14303  TVK35/50 NRP7/70  V261")
file(COPY_FILE ${SOURCE}/resources/pictures/130.bmp ${WORK}/inputs/picture.ufw)

set(failures "")
function(fail what)
    set(failures "${failures}${what}\n\n" PARENT_SCOPE)
endfunction()

# Configures the project afresh in WORK/<case>; sets configured (true/false) and output.
function(configure case loader package)
    set(options -G ${GENERATOR} -DSOURCE=${SOURCE} -DCHECKER=${CHECKER} -DLOADER=${loader}
                -DPACKAGE=${package})
    if(MAKE_PROGRAM)
        list(APPEND options -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/firmware-checks
                            -B ${WORK}/${case} ${options}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(result EQUAL 0)
        set(configured TRUE PARENT_SCOPE)
    else()
        set(configured FALSE PARENT_SCOPE)
    endif()
    set(output "${out}${err}" PARENT_SCOPE)
endfunction()

function(build case)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/${case}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(result EQUAL 0)
        set(built TRUE PARENT_SCOPE)
    else()
        set(built FALSE PARENT_SCOPE)
    endif()
    set(output "${out}${err}" PARENT_SCOPE)
endfunction()

# Loaders: the configure stops, and says why, exactly outside 1 to 65,535 bytes.
foreach(row "empty.bin|FALSE" "one.bin|TRUE" "largest.bin|TRUE" "too-large.bin|FALSE")
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 name)
    list(GET row 1 expected)
    configure(loader-${name} ${WORK}/inputs/${name} ${good_package})
    if(NOT configured STREQUAL expected)
        fail("loader ${name}: configured ${configured}, expected ${expected}:\n${output}")
    elseif(NOT configured AND NOT output MATCHES "1 to 65,535 bytes")
        fail("loader ${name}: the configure stopped without the reason:\n${output}")
    endif()
endforeach()

# Packages: a well-formed one builds; a malformed one configures but stops the build before the
# package is compiled in, with the reader's first fault.
foreach(row "well-formed|${good_package}|TRUE|"
            "cut|${WORK}/inputs/cut.ufw|FALSE|offset 32: expected package value"
            "picture|${WORK}/inputs/picture.ufw|FALSE|offset 0: expected tag beginning with")
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 name)
    list(GET row 1 package)
    list(GET row 2 expected)
    list(GET row 3 reason)
    configure(package-${name} ${good_loader} ${package})
    if(NOT configured)
        fail("package ${name}: the configure failed:\n${output}")
        continue()
    endif()
    build(package-${name})
    if(NOT built STREQUAL expected)
        fail("package ${name}: built ${built}, expected ${expected}:\n${output}")
    elseif(NOT built AND NOT output MATCHES "not a valid firmware package: first fault at ${reason}")
        fail("package ${name}: the build stopped without the reason:\n${output}")
    elseif(NOT built AND output MATCHES "package compiled in")
        fail("package ${name}: compiled in before the check stopped the build:\n${output}")
    endif()
endforeach()

# A package that goes bad after a build that passed is checked again at the next build.
file(COPY_FILE ${good_package} ${WORK}/inputs/later.ufw)
configure(package-later ${good_loader} ${WORK}/inputs/later.ufw)
build(package-later)
if(NOT built)
    fail("package later: the first build failed:\n${output}")
endif()
file(COPY_FILE ${WORK}/inputs/cut.ufw ${WORK}/inputs/later.ufw)
build(package-later)
if(built OR NOT output MATCHES "not a valid firmware package")
    fail("package later: a package damaged after a good build was not checked again:\n${output}")
endif()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "loader sizes and packages checked as the build takes them in")
