# The tools that only tests and benchmarks need. A contributor with just the build dependencies
# can still build the programs: what lacks a tool is left out and named at the end of the
# configure step. MODBUS_BRIDGE_REQUIRE_TEST_DEPS (tools/test.sh sets it) makes a missing tool an
# error, so CI never runs fewer tests unnoticed.
#
# Each NEEDS_* list pairs the variable that tells whether the tool was found with how to get it.

find_package(GTest QUIET)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(LIBMODBUS QUIET IMPORTED_TARGET libmodbus)
endif()
find_package(Python3 QUIET COMPONENTS Interpreter)
find_program(CURL_PROGRAM curl)
find_program(SS_PROGRAM ss)
find_program(SOCAT_PROGRAM socat)
find_program(SCRIPT_PROGRAM script)
find_program(XVFB_PROGRAM Xvfb)
find_program(XDOTOOL_PROGRAM xdotool)
find_program(OPENSSL_PROGRAM openssl)
find_program(MBPOLL_PROGRAM mbpoll)
find_program(ICEWM_PROGRAM icewm)
find_program(TRAYER_PROGRAM trayer)
find_program(DBUS_RUN_SESSION_PROGRAM dbus-run-session)
find_program(XPROP_PROGRAM xprop)
find_program(NODE_PROGRAM node)
find_program(NPM_PROGRAM npm)
find_program(CHROMIUM_PROGRAM chromium)
if(EXISTS ${PROJECT_SOURCE_DIR}/web/tests/node_modules/playwright-core)
    set(PLAYWRIGHT_FOUND TRUE)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/web/tests/node_modules/typescript)
    set(TYPESCRIPT_FOUND TRUE)
endif()

set(NEEDS_GTEST GTest_FOUND "GoogleTest (libgtest-dev)")
set(NEEDS_LIBMODBUS LIBMODBUS_FOUND "libmodbus (libmodbus-dev)")
set(NEEDS_PYTHON Python3_Interpreter_FOUND "Python 3 (python3)")
set(NEEDS_CURL CURL_PROGRAM "curl")
set(NEEDS_SS SS_PROGRAM "ss (iproute2)")
set(NEEDS_SOCAT SOCAT_PROGRAM "socat")
# The display of the wine environment, which windows need; and a console for a Windows program.
set(NEEDS_XVFB XVFB_PROGRAM "Xvfb (xvfb)")
set(NEEDS_CONSOLE_AND_DISPLAY SCRIPT_PROGRAM "script (bsdutils)" ${NEEDS_XVFB})
# Key strokes and clicks of an operator, to a window on such a display.
set(NEEDS_XDOTOOL XDOTOOL_PROGRAM "xdotool")
# A certificate made for one run, for a page served over TLS.
set(NEEDS_OPENSSL OPENSSL_PROGRAM "openssl")
set(NEEDS_MBPOLL MBPOLL_PROGRAM "mbpoll")
# A desktop session for the tray: a window manager with a tray in its taskbar, a tray host that
# comes later, a session bus, and the windows' states read back.
set(NEEDS_DESKTOP_SESSION
    ICEWM_PROGRAM "icewm"
    TRAYER_PROGRAM "trayer"
    DBUS_RUN_SESSION_PROGRAM "dbus-run-session (dbus-daemon)"
    XPROP_PROGRAM "xprop (x11-utils)"
    Python3_Interpreter_FOUND "Python 3 (python3)")
set(NEEDS_NODE
    NODE_PROGRAM "Node (nodejs)"
    NPM_PROGRAM "npm"
    TYPESCRIPT_FOUND "typescript (tools/setup-web.sh)")
set(NEEDS_BROWSER
    NODE_PROGRAM "Node (nodejs)"
    CHROMIUM_PROGRAM "Chromium (chromium)"
    PLAYWRIGHT_FOUND "playwright-core (tools/setup-web.sh)")

# Sets result to TRUE when every listed tool was found; otherwise to FALSE, and what is named
# goes into the list of what is left out. The arguments after what are NEEDS_* lists.
function(test_dependencies_found result what)
    set(missing)
    set(pairs ${ARGN})
    while(pairs)
        list(POP_FRONT pairs found description)
        if(NOT ${found})
            list(APPEND missing "${description}")
        endif()
    endwhile()
    if(NOT missing)
        set(${result} TRUE PARENT_SCOPE)
        return()
    endif()
    list(JOIN missing ", " missing_text)
    if(MODBUS_BRIDGE_REQUIRE_TEST_DEPS)
        message(FATAL_ERROR "${what} needs ${missing_text} (tools/setup-deps.sh and "
                            "tools/setup-web.sh install the test tools)")
    endif()
    set_property(GLOBAL APPEND PROPERTY MODBUS_BRIDGE_SKIPPED "${what}: no ${missing_text}")
    set(${result} FALSE PARENT_SCOPE)
endfunction()

# One message for everything left out, after all directories have been read.
function(report_skipped_tests)
    get_property(skipped GLOBAL PROPERTY MODBUS_BRIDGE_SKIPPED)
    if(skipped)
        list(JOIN skipped "\n  " lines)
        message(WARNING "Left out for lack of test-only tools (tools/setup-deps.sh and "
                        "tools/setup-web.sh install them):\n  ${lines}")
    endif()
endfunction()
