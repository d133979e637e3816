# Turns files into a C++ source that holds their bytes, so that a program carries them compiled
# in and never reads them from disk. Runs as a script (cmake -P), so the build needs no other
# tool, on any host and for any target:
#
#   cmake -DOUTPUT=<source to write> -DHEADER=<header it includes> -DFUNCTION=<name>
#         -DFILES=<name>=<path>|<name>=<path>|... -P EmbedFiles.cmake
#
# The source defines `std::span<const TEmbeddedFile> FUNCTION()`, one entry per file in the order
# given: the name as given and the file's bytes. The output is rewritten only when it changes.

foreach(required OUTPUT HEADER FUNCTION FILES)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "EmbedFiles.cmake: -D${required}=... is missing")
    endif()
endforeach()

string(REPLACE "|" ";" entries "${FILES}")
set(arrays "")
set(table "")
set(index 0)
# CMake's regular expressions have no counted repetition.
string(REPEAT "[0-9a-f]" 32 sixteenBytes)
foreach(entry IN LISTS entries)
    string(FIND "${entry}" "=" equals)
    if(equals LESS 1)
        message(FATAL_ERROR "EmbedFiles.cmake: \"${entry}\" is not <name>=<path>")
    endif()
    string(SUBSTRING "${entry}" 0 ${equals} name)
    math(EXPR pathStart "${equals} + 1")
    string(SUBSTRING "${entry}" ${pathStart} -1 path)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "EmbedFiles.cmake: ${path} (for ${name}) does not exist")
    endif()
    if(name MATCHES "[\"\\\\]")
        message(FATAL_ERROR "EmbedFiles.cmake: the name ${name} needs quoting in C++")
    endif()

    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    # Sixteen bytes a line; each byte a character literal, which fits char without narrowing.
    string(REGEX REPLACE "(${sixteenBytes})" "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
    # A closing NUL keeps an empty file a valid array; the size leaves it out.
    string(APPEND arrays "// ${name} (${size} bytes)\nconstexpr char kFile${index}[] = {\n${hex}'\\0'};\n\n")
    string(APPEND table "    {\"${name}\", std::string_view(kFile${index}, ${size})},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(source "// Made by cmake/EmbedFiles.cmake at build time from the files the build names; do not edit.
#include \"${HEADER}\"

#include <string_view>

namespace {

${arrays}constexpr TEmbeddedFile kFiles[] = {
${table}};

}  // namespace

std::span<const TEmbeddedFile> ${FUNCTION}() { return kFiles; }
")

file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
