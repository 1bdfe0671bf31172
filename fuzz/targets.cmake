# The parser targets, one per reader of outside input, each from fuzz/<name>_fuzz.cpp.
# fuzz/CMakeLists.txt builds them as fuzzing programs; tests/CMakeLists.txt builds each with
# replay_main.cpp instead, a test that runs it over its seed corpus fuzz/corpus/<name>/.
set(VELMO_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELMO_FUZZ_GLIBMM REQUIRED IMPORTED_TARGET glibmm-2.4)

# velmo_parser_target(fuzz|replay NAME LIBRARY... [SOURCES FILE...]); the client's readers come
# as their sources, which keeps GTK out of the process.
function(velmo_parser_target kind name)
    cmake_parse_arguments(arg "" "" "SOURCES" ${ARGN})
    if(kind STREQUAL "fuzz")
        set(target ${name}_fuzz)
        add_executable(${target} ${VELMO_FUZZ_DIR}/${name}_fuzz.cpp ${arg_SOURCES})
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    else()
        set(target ${name}_replay)
        add_executable(${target} ${VELMO_FUZZ_DIR}/${name}_fuzz.cpp
            ${VELMO_FUZZ_DIR}/replay_main.cpp ${arg_SOURCES})
        add_test(NAME fuzz_corpus_${name}
            COMMAND ${target} ${VELMO_FUZZ_DIR}/corpus/${name})
    endif()
    target_include_directories(${target} PRIVATE ${VELMO_FUZZ_DIR} ${CMAKE_SOURCE_DIR}/client)
    target_link_libraries(${target} PRIVATE ${arg_UNPARSED_ARGUMENTS})
endfunction()

function(velmo_add_parser_targets kind)
    foreach(name ini http_reply url login_reply space_reply token_reply
                 dispatch_reply check_reply piece_reply)
        velmo_parser_target(${kind} ${name} Velmoupload)
    endforeach()
    set(client ${CMAKE_SOURCE_DIR}/client)
    velmo_parser_target(${kind} singleton SOURCES ${client}/single_instance.cpp)
    velmo_parser_target(${kind} drop_text PkgConfig::VELMO_FUZZ_GLIBMM
        SOURCES ${client}/drop_text.cpp)
    velmo_parser_target(${kind} task_summary Velmoupload SOURCES ${client}/task_summary.cpp)
    velmo_parser_target(${kind} form_fields velmo_standin_core)
    velmo_parser_target(${kind} piece_body velmo_standin_core)
endfunction()
