# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a program's gzipped manual page from its --help, with help2man:
#   cmake -DPROGRAM=<built program> -DDESCRIPTION=<one line for NAME>
#         -DVERSION=<version> -DDATE_EPOCH=<seconds: the page's date>
#         -DSEE_ALSO=<program,program,...>
#         -DOUTPUT=<page.1.gz> -P help2man.cmake
# help2man is looked up here, when the page is made, rather than when the
# build tree is configured: `make package` installs it only after `make build`
# has configured the tree. Without it no page is written (the install skips
# missing pages) and this is said on every build, so it is noticed.
foreach(variable PROGRAM DESCRIPTION VERSION DATE_EPOCH OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "help2man.cmake: ${variable} is not set")
    endif()
endforeach()

get_filename_component(program_name "${PROGRAM}" NAME)
# Only an executable help2man counts as found.
if(POLICY CMP0109)
    cmake_policy(SET CMP0109 NEW)
endif()
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
    # A page left from an earlier build could describe an older program.
    file(REMOVE "${OUTPUT}")
    message(NOTICE "help2man is not installed: no manual page for ${program_name} "
                   "(scripts/install-deps.sh --extra installs it)")
    return()
endif()

get_filename_component(page_dir "${OUTPUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
file(MAKE_DIRECTORY "${page_dir}")

set(include_file "${page}.h2m")
string(REPLACE "," ";" see_also "${SEE_ALSO}")
list(TRANSFORM see_also REPLACE "(.+)" ".BR \\1 (1)")
list(JOIN see_also ",\n" see_also)
file(WRITE "${include_file}" "[SEE ALSO]\n${see_also}\n")

# Called by its bare name, found through PATH, the program names itself in its
# usage line as a user would type it, not by its path in the build tree.
get_filename_component(program_dir "${PROGRAM}" DIRECTORY)
set(ENV{PATH} "${program_dir}:$ENV{PATH}")
# help2man dates the page by this instead of today.
set(ENV{SOURCE_DATE_EPOCH} "${DATE_EPOCH}")

execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1
            "--name=${DESCRIPTION}" "--version-string=${VERSION}"
            "--include=${include_file}" "--output=${page}" "${program_name}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${page}")
    message(FATAL_ERROR "help2man could not make the manual page of ${program_name} (${status})")
endif()

# -n leaves out the name and time stamp, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${page} (${status})")
endif()
